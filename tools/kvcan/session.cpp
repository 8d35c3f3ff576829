#include "session.h"

#include "canobj.h"
#include "canobjstr.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvnamemapping.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTextStream>
#include <QtCore/QThread>
#include <QtCore/QTimer>

#include <cstdio>
#include <unistd.h>

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void addDeviceOptions(QCommandLineParser &parser)
{
    parser.addOption(
        {"device-type", "Adapter device type (4: two channels, 14: four).", "type", "4"});
    parser.addOption(
        {"device-index", "Index of the device among those of its type.", "index", "0"});
    parser.addOption({"channel", "CAN channel, 0 to 3.", "channel", "0"});
    parser.addOption({"bitrate", "Bit rate: 5k, 10k, 20k, 50k, 100k, 125k, 250k, 500k, 800k or 1M.",
                      "rate", "500k"});
    parser.addOption({"wire",
                      "Also start this channel and wire it to --channel on the simulated bus.",
                      "channel"});
    parser.addOption({"bus",
                      "Bridge --channel to a Qt CAN bus interface instead of simulating it, e.g. "
                      "socketcan:can0 or virtualcan:can0.",
                      "plugin:interface"});
}

bool parseBitRate(const QString &text, uint &bitRate)
{
    QString t = text.trimmed().toLower();
    uint factor = 1;
    if (t.endsWith('k')) {
        factor = 1000;
        t.chop(1);
    } else if (t.endsWith('m')) {
        factor = 1000000;
        t.chop(1);
    }
    bool ok = false;
    const uint value = t.toUInt(&ok);
    quint8 t0, t1;
    if (!ok || !KvDeviceSession::timingForBitRate(value * factor, t0, t1))
        return false;
    bitRate = value * factor;
    return true;
}

bool readDeviceOptions(const QCommandLineParser &parser, DeviceOptions &options, QString &error)
{
    bool ok1, ok2, ok3;
    options.type = parser.value("device-type").toUInt(&ok1);
    options.index = parser.value("device-index").toUInt(&ok2);
    options.channel = parser.value("channel").toUInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || options.channel > 3) {
        error = QStringLiteral("bad device type, index or channel");
        return false;
    }
    if (!parseBitRate(parser.value("bitrate"), options.bitRate)) {
        error = QStringLiteral("unsupported bit rate '%1'").arg(parser.value("bitrate"));
        return false;
    }
    if (parser.isSet("wire")) {
        bool ok = false;
        const uint wire = parser.value("wire").toUInt(&ok);
        if (!ok || wire > 3 || wire == options.channel) {
            error = QStringLiteral("bad --wire channel '%1'").arg(parser.value("wire"));
            return false;
        }
        options.wire = int(wire);
    }
    if (parser.isSet("bus")) {
        const QString bus = parser.value("bus").trimmed();
        const int colon = bus.indexOf(':');
        if (colon <= 0 || colon == bus.size() - 1) {
            error = QStringLiteral("bad --bus '%1': expected plugin:interface such as "
                                   "socketcan:can0")
                        .arg(bus);
            return false;
        }
        if (options.wire >= 0) {
            error = QStringLiteral("--wire wires simulated channels; it cannot be used with --bus");
            return false;
        }
        options.bus = bus;
        qputenv("KAVRI_CANBUS", QStringLiteral("%1:%2:%3=%4")
                                    .arg(options.type)
                                    .arg(options.index)
                                    .arg(options.channel)
                                    .arg(bus)
                                    .toLocal8Bit());
    }
    return true;
}

bool parseFrame(const QString &text, CanObj &frame)
{
    static const QRegularExpression form(
        QStringLiteral("^([0-9A-Fa-f]{1,8})#(R|r|(?:[0-9A-Fa-f]{2}){0,8})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const QString idText = m.captured(1);
    const quint32 id = idText.toUInt(nullptr, 16);
    const bool extended = idText.size() > 3;
    if (id > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return false;
    frame = CanObj();
    frame.ID = id;
    frame.ExternFlag = extended;
    const QString body = m.captured(2);
    if (body.compare(QLatin1String("R"), Qt::CaseInsensitive) == 0) {
        frame.RemoteFlag = 1;
        return true;
    }
    const QByteArray bytes = QByteArray::fromHex(body.toLatin1());
    frame.DataLen = quint8(bytes.size());
    memcpy(frame.Data, bytes.constData(), size_t(bytes.size()));
    return true;
}

int fail(const QString &message, int code)
{
    out().flush();
    fprintf(stderr, "kvcan: %s\n", qPrintable(message));
    return code;
}

bool startSession(KvDeviceSession &session, const DeviceOptions &options)
{
    session.setDevice(options.type, options.index);
    session.clearChannels();
    session.addChannel(int(options.channel), options.bitRate);
    if (options.wire >= 0)
        session.addChannel(options.wire, options.bitRate);
    QString error;
    if (!session.start())
        error = session.errorString();
    else if (options.wire >= 0 && !session.wire(int(options.channel), options.wire))
        error = QStringLiteral("cannot wire channel %1 to channel %2: %3")
                    .arg(options.channel)
                    .arg(options.wire)
                    .arg(session.errorString());
    if (error.isEmpty())
        return true;
    if (!options.bus.isEmpty())
        error += QStringLiteral(" on %1").arg(options.bus);
    fail(error);
    session.stop();
    return false;
}

TraceStream::TraceStream(KvDeviceSession &session, uint ch)
    : channel(ch), frames(session, int(ch), 1 << 20)
{
}

QString TraceStream::line(uint channel, const CanObjStr &r)
{
    const quint32 id = r.id.trimmed().toUInt(nullptr, 16);
    const QString name = KvNameMapping::getSingleton().find(id);
    // Joined rather than formatted with arg(): a name may itself hold "%1".
    return QStringList{QStringLiteral("ch%1").arg(channel),
                       r.direction.leftJustified(2),
                       r.systemTime,
                       r.timeStamp.leftJustified(11),
                       r.id + name.leftJustified(14),
                       r.frameType.leftJustified(6),
                       r.frameFormat.leftJustified(8),
                       r.dataLen,
                       r.data}
        .join(QLatin1Char(' '));
}

int TraceStream::drain(
    int maxLines,
    const std::function<void(const QString &, const QString &, const QString &)> &seen,
    bool distinct)
{
    QVector<KvCanObj> records;
    frames.take(records);
    int taken = 0;
    int printed = 0;
    QSet<QString> shown;
    for (const KvCanObj &record : qAsConst(records)) {
        CanObjStr r = KvBuffer::analyseData(record);
        r.index = QString::number(number++);
        ++taken;
        if (seen)
            seen(r.id, r.direction, r.data);
        const QString key = r.id + r.direction;
        if (printed < maxLines && !(distinct && shown.contains(key))) {
            shown.insert(key);
            out() << line(channel, r) << '\n';
            ++printed;
        }
    }
    if (taken > printed)
        out() << QStringLiteral("ch%1 ... %2 more\n").arg(channel).arg(taken - printed);
    out().flush();
    return taken;
}

ProgressBar::ProgressBar(const QString &l) : label(l), tty(isatty(fileno(stdout))) {}

void ProgressBar::set(int percent)
{
    percent = qBound(0, percent, 100);
    // Off a terminal, one line per tenth keeps logs short.
    const int step = tty ? percent : percent / 10 * 10;
    if (step == shown)
        return;
    shown = step;
    const int filled = step / 5;
    const QString bar = QString(filled, '#') + QString(20 - filled, '.');
    out() << (tty ? "\r" : "") << label << " [" << bar << "] " << step << '%' << (tty ? "" : "\n");
    out().flush();
}

void ProgressBar::finish()
{
    if (tty && shown >= 0)
        out() << '\n';
    out().flush();
}

bool runUntil(int msecs, const std::function<bool()> &done, const std::function<void()> &tick,
              int tickMs)
{
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer sinceTick;
    sinceTick.start();
    while (!(done && done())) {
        if (msecs >= 0 && timer.elapsed() >= msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
        if (tick && sinceTick.elapsed() >= tickMs) {
            tick();
            sinceTick.restart();
        }
    }
    return true;
}
