#include "kvdbcformat.h"

#include <QtCore/QLocale>

#include <cmath>

QString KvDbcFormat::number(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) &&
        !text.contains(QLatin1Char('e')))
        text += QLatin1String(".0");
    return text;
}

QString KvDbcFormat::text(const KvDbcDatabase &db, int message, const QVector<KvDbcValue> &values)
{
    if (message < 0 || message >= db.messages().size())
        return QString();
    const KvDbcMessage &m = db.messages().at(message);
    QStringList parts;
    for (int i = 0; i < m.signalList.size() && i < values.size(); ++i) {
        const KvDbcValue &v = values.at(i);
        if (!v.present)
            continue;
        const KvDbcSignal &s = m.signalList.at(i);
        const QString label = db.label(message, i, v);
        QString part = s.name + QLatin1String(": ");
        if (!label.isEmpty()) {
            part += QLatin1Char('\'') + label + QLatin1Char('\'');
        } else {
            part += number(v.physical);
            if (!s.unit.isEmpty())
                part += QLatin1Char(' ') + s.unit;
        }
        parts << part;
    }
    return m.name + QLatin1Char('(') + parts.join(QLatin1String(", ")) + QLatin1Char(')');
}

QJsonObject KvDbcFormat::json(const KvDbcDatabase &db, int message,
                              const QVector<KvDbcValue> &values, double time, int channel,
                              quint32 id, bool extended)
{
    QJsonObject object{{QStringLiteral("time"), time},
                       {QStringLiteral("channel"), channel},
                       {QStringLiteral("id"), qint64(id)},
                       {QStringLiteral("extended"), extended}};
    if (message < 0 || message >= db.messages().size())
        return object;
    const KvDbcMessage &m = db.messages().at(message);
    QJsonObject signalValues, labels;
    for (int i = 0; i < m.signalList.size() && i < values.size(); ++i) {
        const KvDbcValue &v = values.at(i);
        if (!v.present)
            continue;
        const QString &name = m.signalList.at(i).name;
        signalValues.insert(name, std::isfinite(v.physical) ? QJsonValue(v.physical)
                                                            : QJsonValue(QJsonValue::Null));
        const QString label = db.label(message, i, v);
        if (!label.isEmpty())
            labels.insert(name, label);
    }
    object.insert(QStringLiteral("message"), m.name);
    object.insert(QStringLiteral("signals"), signalValues);
    object.insert(QStringLiteral("labels"), labels);
    return object;
}
