#include "kvdbcdatabase.h"

#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtTest/QtTest>

#include <cmath>

// The decoder against an independent implementation: canmatrix (Debian's python3-canmatrix)
// decodes random payloads of every message of four public real-world DBC files, and every raw
// and physical value must agree. A file or message canmatrix cannot handle is skipped with its
// reason; a missing canmatrix skips the whole test.
class tst_KvDbcCanmatrix : public QObject
{
    Q_OBJECT
private slots:
    void agreesWithCanmatrix_data();
    void agreesWithCanmatrix();
};

namespace {

constexpr int PayloadsPerMessage = 40;

// Equal within 1e-9 relative to the larger of the values, or of the terms raw * factor and
// offset when they cancel each other out (the peer computes in decimal, we in double).
bool close(double ours, double theirs, double scale)
{
    const double magnitude = std::max({std::fabs(ours), std::fabs(theirs), scale});
    return std::fabs(ours - theirs) <= 1e-9 * magnitude || ours == theirs;
}

} // namespace

void tst_KvDbcCanmatrix::agreesWithCanmatrix_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name :
         {"bmw_e9x_e8x.dbc", "mazda_2017.dbc", "psa_aee2010_r3.dbc", "volvo_v60_2015_pt.dbc"})
        QTest::newRow(name) << QStringLiteral(KAVRI_TEST_DATA "/dbc/%1").arg(QLatin1String(name));
}

void tst_KvDbcCanmatrix::agreesWithCanmatrix()
{
    QFETCH(QString, file);
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        QSKIP("/usr/bin/python3 is missing; install python3-canmatrix to compare with canmatrix");
    // A signal the file places past the eighth byte is an error here and left out, while
    // canmatrix decodes what it can of it; such signals are named and not compared.
    KvDbcDatabase db;
    db.load(file);
    for (const KvDbcError &e : db.errors()) {
        QVERIFY2(e.message.contains(QLatin1String("past the eighth byte")),
                 qPrintable(db.errorString()));
        qInfo("line %d: %s; not compared", e.line, qPrintable(e.message));
    }

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(KAVRI_CANMATRIX_SCRIPT), file, QString::number(PayloadsPerMessage),
                  QStringLiteral("21")});
    QVERIFY(python.waitForFinished(300000));
    QCOMPARE(python.exitCode(), 0);

    int frames = 0, values = 0;
    QStringList skipped;
    QVector<KvDbcValue> decoded;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        if (!line.startsWith('{'))
            continue; // canmatrix's notes on formats it lacks
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.contains(QLatin1String("skip")) && !o.contains(QLatin1String("id")))
            QSKIP(qPrintable(o.value(QLatin1String("skip")).toString()));
        const quint32 id = quint32(o.value(QLatin1String("id")).toDouble());
        const bool extended = o.value(QLatin1String("extended")).toBool();
        if (o.contains(QLatin1String("skip"))) {
            skipped << QStringLiteral("0x%1: %2")
                           .arg(id, 0, 16)
                           .arg(o.value(QLatin1String("skip")).toString());
            continue;
        }
        const int m = db.messageIndex(id, extended);
        QVERIFY2(m >= 0, qPrintable(QStringLiteral("message 0x%1 missing").arg(id, 0, 16)));
        const QByteArray data =
            QByteArray::fromHex(o.value(QLatin1String("data")).toString().toLatin1());
        QVERIFY(
            db.decode(m, reinterpret_cast<const quint8 *>(data.constData()), data.size(), decoded));
        const KvDbcMessage &message = db.messages().at(m);
        const QJsonObject theirs = o.value(QLatin1String("signals")).toObject();
        int present = 0;
        for (int s = 0; s < message.signalList.size(); ++s) {
            const KvDbcSignal &signal = message.signalList.at(s);
            const KvDbcValue &v = decoded.at(s);
            present += v.present;
            const QJsonArray pair = theirs.value(signal.name).toArray();
            QCOMPARE(v.present, !pair.isEmpty());
            if (!v.present)
                continue;
            const QString context =
                QStringLiteral("%1.%2, payload %3")
                    .arg(message.name, signal.name, QString::fromLatin1(data.toHex(' ')));
            if (signal.valueType == KvDbcSignal::Integer) {
                const QString raw = signal.isSigned ? QString::number(v.integer)
                                                    : QString::number(quint64(v.integer));
                QVERIFY2(raw == pair.at(0).toString(), qPrintable(context));
            }
            const double physical = pair.at(1).toString().toDouble();
            QVERIFY2(close(v.physical, physical,
                           std::max(std::fabs(v.raw * signal.factor), std::fabs(signal.offset))),
                     qPrintable(context + QStringLiteral(": %1 != %2")
                                              .arg(v.physical, 0, 'g', 17)
                                              .arg(pair.at(1).toString())));
            ++values;
        }
        int known = 0;
        for (const QString &name : theirs.keys())
            known += db.signalIndex(m, name) >= 0;
        QCOMPARE(present, known);
        ++frames;
    }
    QVERIFY(frames > 0);
    for (const QString &s : qAsConst(skipped))
        qInfo("canmatrix cannot decode message %s; not compared", qPrintable(s));
    qInfo("%d frames, %d values agree", frames, values);
}

QTEST_GUILESS_MAIN(tst_KvDbcCanmatrix)
#include "tst_kvdbccanmatrix.moc"
