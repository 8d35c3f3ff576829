#include "session.h"

#include "canobj.h"
#include "canobjstr.h"
#include "kvbuffer.h"
#include "kvcanobj.h"
#include "kvdevicesession.h"
#include "kvnamemapping.h"
#include "stopsignals.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QIODevice>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTextStream>
#include <QtCore/QThread>
#include <QtSerialBus/QCanBus>
#include <QtSerialBus/QCanBusDevice>

#include <memory>

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

bool closed = false;
bool machineOutput = false;
bool verboseOn = false;

// Writes all of `data` to a file descriptor, blocking; a reader that went away (EPIPE) closes
// standard output for good, silently.
void writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0 && !(fd == STDOUT_FILENO && closed)) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE && fd == STDOUT_FILENO)
                closed = true;
            return;
        }
        data += n;
        size -= n;
    }
}

// Standard output or error under a QTextStream, without a FILE buffer of its own, so that
// everything written to stdout keeps its order.
class FdDevice : public QIODevice
{
public:
    explicit FdDevice(int fd) : fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        writeAll(fd, data, size);
        return size;
    }

private:
    int fd;
};

QTextStream &errStream()
{
    static FdDevice device(STDERR_FILENO);
    static QTextStream stream(&device);
    return stream;
}

QString dataColumn(const VCI_CAN_OBJ &frame)
{
    // A remote frame carries no data; its requested length shows as that many 00 bytes.
    const int n = qMin<int>(frame.DataLen, 8);
    QStringList bytes;
    for (int i = 0; i < n; ++i)
        bytes << QStringLiteral("%1")
                     .arg(frame.RemoteFlag ? 0 : frame.Data[i], 2, 16, QLatin1Char('0'))
                     .toUpper();
    return bytes.join(QLatin1Char(' '));
}

} // namespace

QTextStream &out()
{
    static FdDevice device(STDOUT_FILENO);
    static QTextStream stream(&device);
    return stream;
}

QTextStream &report()
{
    return machineOutput ? errStream() : out();
}

void setMachineOutput(bool on)
{
    machineOutput = on;
}

bool pipeClosed()
{
    return closed;
}

bool writeWithoutBlocking(QByteArray &pending)
{
    out().flush();
    while (!pending.isEmpty() && !closed) {
        pollfd p{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLOUT | POLLERR | POLLHUP)))
            return false;
        // A pipe that polls writable takes a page at once without blocking.
        const ssize_t n =
            ::write(STDOUT_FILENO, pending.constData(), size_t(qMin<qint64>(pending.size(), 4096)));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            if (errno == EPIPE)
                closed = true;
            pending.clear();
            return !closed;
        }
        pending.remove(0, int(n));
    }
    if (closed)
        pending.clear();
    return pending.isEmpty();
}

bool interrupted()
{
    return closed || stopsignals::requested();
}

void setVerbose(bool on)
{
    verboseOn = on;
}

bool verbose()
{
    return verboseOn;
}

QCommandLineOption option(const QString &name, const QString &text, const QString &valueName,
                          const QString &defaultValue)
{
    QCommandLineOption o(name, text, valueName, defaultValue);
    if (!defaultValue.isEmpty())
        o.setDescription(QStringLiteral("%1 (default: %2)").arg(text, defaultValue));
    return o;
}

void addDeviceOptions(QCommandLineParser &parser)
{
    parser.addOption(
        option("device-type", "Adapter device type (4: two channels, 14: four).", "type", "4"));
    parser.addOption(
        option("device-index", "Index of the device among those of its type.", "index", "0"));
    parser.addOption(option("channel", "CAN channel, 0 to 3.", "channel", "0"));
    parser.addOption(option("bitrate",
                            "Bit rate: 5k, 10k, 20k, 50k, 100k, 125k, 250k, 500k, 800k or 1M.",
                            "rate", "500k"));
    parser.addOption(option("wire",
                            "Also start this channel and wire it to --channel on the simulated "
                            "bus, which then takes as long as a real bus at the bit rate.",
                            "channel"));
    parser.addOption(option("fast", "With --wire: let the simulated bus run as fast as it can."));
    parser.addOption(option("bus",
                            "Bridge --channel to a Qt CAN bus interface instead of simulating it, "
                            "e.g. socketcan:can0 or virtualcan:can0.",
                            "plugin:interface"));
    parser.addOption(option("verbose", "Show Qt's own log lines."));
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
    if (!ok || value > 1000000 || !KvDeviceSession::timingForBitRate(value * factor, t0, t1))
        return false;
    bitRate = value * factor;
    return true;
}

bool readDeviceOptions(const QCommandLineParser &parser, DeviceOptions &options, QString &error)
{
    const auto number = [&](const char *name, qint64 max, uint &value) {
        qint64 v = 0;
        if (!cansyntax::parseCount(parser.value(name), 0, max, v, error)) {
            error = QStringLiteral("bad --%1: %2").arg(QLatin1String(name), error);
            return false;
        }
        value = uint(v);
        return true;
    };
    uint wire = 0;
    if (!number("device-type", 255, options.type) || !number("device-index", 255, options.index) ||
        !number("channel", 3, options.channel) ||
        (parser.isSet("wire") && !number("wire", 3, wire)))
        return false;
    if (!parseBitRate(parser.value("bitrate"), options.bitRate)) {
        error = QStringLiteral("unsupported bit rate '%1'").arg(parser.value("bitrate"));
        return false;
    }
    if (parser.isSet("wire")) {
        if (wire == options.channel) {
            error = QStringLiteral("bad --wire %1: it is the --channel itself").arg(wire);
            return false;
        }
        options.wire = int(wire);
    }
    options.fast = parser.isSet("fast");
    setVerbose(parser.isSet("verbose"));
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

QString commandHelp(const QCommandLineParser &parser, const QString &command)
{
    QString help = parser.helpText();
    // Qt names the program by its path; the user typed "kvcan CMD".
    help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                 QStringLiteral("Usage: kvcan ") + command);
    return help;
}

int parseCommandLine(QCommandLineParser &parser, const QStringList &args,
                     const QString &description, DeviceOptions *device)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    // "-12#00" is meant as a frame (and refused as one), not as the options -1 and -2: such
    // words go behind "--", where the parser takes everything as positional.
    QStringList words;
    QStringList frames;
    bool positionalOnly = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--"))
            positionalOnly = true;
        if (i > 0 && !positionalOnly && a.startsWith('-') && !a.startsWith("--") && a.contains('#'))
            frames << a;
        else
            words << a;
    }
    if (!frames.isEmpty())
        words << (positionalOnly ? QStringList() : QStringList{QStringLiteral("--")}) + frames;
    if (!parser.parse(words))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help"))) {
        out() << commandHelp(parser, args.value(0));
        out().flush();
        return 0;
    }
    QString error;
    if (device && !readDeviceOptions(parser, *device, error))
        return fail(error, 2);
    return -1;
}

bool secondsOption(const QCommandLineParser &parser, const QString &name, qint64 &msecs,
                   double maxSeconds)
{
    QString error;
    if (cansyntax::parseSeconds(parser.value(name), maxSeconds, msecs, error))
        return true;
    fail(QStringLiteral("bad --%1: %2").arg(name, error), 2);
    return false;
}

bool countOption(const QCommandLineParser &parser, const QString &name, qint64 min, qint64 max,
                 qint64 &value)
{
    QString error;
    if (cansyntax::parseCount(parser.value(name), min, max, value, error))
        return true;
    fail(QStringLiteral("bad --%1: %2").arg(name, error), 2);
    return false;
}

bool parseFrame(const QString &text, CanObj &frame, QString &error)
{
    cansyntax::Frame f;
    if (!cansyntax::parseFrame(text.trimmed(), f, error)) {
        error = QStringLiteral("bad frame '%1': %2").arg(text, error);
        return false;
    }
    frame = CanObj();
    frame.ID = f.id;
    frame.ExternFlag = f.extended;
    frame.RemoteFlag = f.remote;
    frame.DataLen = f.dlc;
    memcpy(frame.Data, f.data, sizeof f.data);
    return true;
}

cansyntax::Frame frameOf(const KvCanObj &record)
{
    cansyntax::Frame f;
    f.id = record.frame.ID;
    f.extended = record.frame.ExternFlag;
    f.remote = record.frame.RemoteFlag;
    f.dlc = qMin<quint8>(record.frame.DataLen, 8);
    if (!f.remote)
        memcpy(f.data, record.frame.Data, f.dlc);
    return f;
}

int fail(const QString &message, int code)
{
    out().flush();
    errStream() << "kvcan: " << message << '\n';
    errStream().flush();
    return code;
}

bool startSession(KvDeviceSession &session, const DeviceOptions &options, const QVector<int> &extra)
{
    session.setDevice(options.type, options.index);
    session.clearChannels();
    QVector<int> sending{int(options.channel)};
    for (int ch : extra) {
        if (!sending.contains(ch))
            sending << ch;
    }
    if (sending.contains(options.wire))
        return fail(QStringLiteral("channel %1 cannot be both sent on and --wire")
                        .arg(options.wire)) == 0;
    for (int ch : qAsConst(sending))
        session.addChannel(ch, options.bitRate);
    if (options.wire >= 0)
        session.addChannel(options.wire, options.bitRate);
    QString error;
    if (!session.start())
        error = session.errorString();
    for (int ch : qAsConst(sending)) {
        if (error.isEmpty() && options.wire >= 0 && !session.wire(ch, options.wire))
            error = QStringLiteral("cannot wire channel %1 to channel %2: %3")
                        .arg(ch)
                        .arg(options.wire)
                        .arg(session.errorString());
    }
    if (error.isEmpty() && options.wire >= 0 && !options.fast &&
        !session.setSimulatedBusTiming(true))
        error = QStringLiteral("cannot time the simulated bus: %1").arg(session.errorString());
    if (error.isEmpty())
        return true;
    if (!options.bus.isEmpty()) {
        // The adapter's error code says little; the plugin itself says why.
        const QString plugin = options.bus.section(':', 0, 0);
        const QString interface = options.bus.section(':', 1);
        QString why;
        std::unique_ptr<QCanBusDevice> probe(
            QCanBus::instance()->createDevice(plugin, interface, &why));
        if (probe && !probe->connectDevice())
            why = probe->errorString();
        error += QStringLiteral(" on %1").arg(options.bus);
        if (!why.isEmpty())
            error += QStringLiteral(": %1").arg(why);
    }
    fail(error);
    session.stop();
    return false;
}

double FrameClock::seconds(const KvCanObj &r)
{
    // The time of day of the buffering, on today's date (or yesterday's, just past midnight).
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime host(now.date(), QTime(r.hour, r.minute, r.second, r.msec));
    if (host > now.addSecs(3600))
        host = host.addDays(-1);
    const double hostSeconds = double(host.toMSecsSinceEpoch()) / 1000.0;
    if (r.send)
        return hostSeconds;
    const quint32 stamp = r.frame.TimeStamp;
    const quint32 step = stamp - lastStamp;
    // A stamp far behind the previous one: the adapter restarted; anchor afresh.
    if (!anchored || step > 0x80000000u) {
        anchored = true;
        anchorSeconds = hostSeconds;
        stampSeconds = 0.0;
    } else {
        stampSeconds += double(step) / 10000.0;
    }
    lastStamp = stamp;
    return anchorSeconds + stampSeconds;
}

void addOutputOptions(QCommandLineParser &parser)
{
    parser.addOption(option("log", "Print candump log lines (canplayer and log2asc read them) on "
                                   "standard output; the summary goes to standard error."));
    parser.addOption(option("json",
                            "Print one JSON object per frame (time, channel, dir, id, extended, "
                            "remote, dlc, data) on standard output; the summary goes to standard "
                            "error."));
    parser.addOption(option(QStringLiteral("t"),
                            "Time stamps as candump prints them: a absolute, d delta, z "
                            "zero-based, A date and time; from the adapter's stamp.",
                            "mode"));
}

bool readOutputOptions(const QCommandLineParser &parser, OutputOptions &options)
{
    if (parser.isSet("log") && parser.isSet("json")) {
        fail(QStringLiteral("--log and --json cannot be used together"), 2);
        return false;
    }
    options.mode = parser.isSet("log")    ? OutputOptions::Log
                   : parser.isSet("json") ? OutputOptions::Json
                                          : OutputOptions::Trace;
    if (parser.isSet("t")) {
        QString error;
        if (!cansyntax::parseTimeMode(parser.value("t"), options.time, error)) {
            fail(QStringLiteral("bad -t: %1").arg(error), 2);
            return false;
        }
    }
    setMachineOutput(options.mode != OutputOptions::Trace);
    return true;
}

void addFilterOptions(QCommandLineParser &parser)
{
    parser.addOption(option("only",
                            "Keep only frames matching this filter: a hex range 100-1FF, an "
                            "identifier, id:mask or id~mask (inverted) as candump takes them; "
                            "repeatable, a frame passes if it matches any.",
                            "filter"));
    parser.addOption(option("not",
                            "Drop frames matching this filter (same forms); repeatable. Given "
                            "with --only, a frame passes when it matches an --only filter and no "
                            "--not filter.",
                            "filter"));
}

bool readFilterOptions(const QCommandLineParser &parser, cansyntax::IdFilter &filter)
{
    for (const char *name : {"only", "not"}) {
        for (const QString &text : parser.values(name)) {
            cansyntax::IdCondition c;
            QString error;
            if (!cansyntax::parseCondition(text, c, error)) {
                fail(QStringLiteral("bad --%1: %2").arg(QLatin1String(name), error), 2);
                return false;
            }
            (qstrcmp(name, "only") == 0 ? filter.only : filter.exclude) << c;
        }
    }
    return true;
}

TraceStream::TraceStream(KvDeviceSession &session, uint ch, int bound)
    : channel(ch), frames(session, int(ch), bound)
{
}

QString TraceStream::line(const KvCanObj &record)
{
    const CanObjStr r = KvBuffer::analyseData(record);
    const QString name = KvNameMapping::getSingleton().find(record.frame.ID);
    // Joined rather than formatted with arg(): a name may itself hold "%1".
    QStringList columns{QStringLiteral("ch%1").arg(channel), r.direction.leftJustified(2)};
    const double t = clock.seconds(record);
    if (first < 0)
        first = t;
    switch (output.time) {
    case cansyntax::TimeMode::None:
        columns << r.systemTime << r.timeStamp.leftJustified(11);
        break;
    case cansyntax::TimeMode::Absolute:
        columns << QStringLiteral("(%1)").arg(t, 0, 'f', 6);
        break;
    case cansyntax::TimeMode::Delta:
        columns << QStringLiteral("(%1)").arg(previous < 0 ? 0.0 : t - previous, 0, 'f', 6);
        break;
    case cansyntax::TimeMode::Zero:
        columns << QStringLiteral("(%1)").arg(t - first, 0, 'f', 6);
        break;
    case cansyntax::TimeMode::Date:
        columns << QStringLiteral("(%1)").arg(
            QDateTime::fromMSecsSinceEpoch(qint64(t * 1000.0))
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        break;
    }
    previous = t;
    columns << r.id + name.leftJustified(14) << r.frameType.leftJustified(6)
            << r.frameFormat.leftJustified(8) << r.dataLen << dataColumn(record.frame);
    return columns.join(QLatin1Char(' '));
}

QByteArray TraceStream::format(const KvCanObj &record)
{
    if (output.mode == OutputOptions::Trace)
        return line(record).toUtf8() + '\n';
    const double t = clock.seconds(record);
    if (first < 0)
        first = t;
    double shown = t;
    if (output.time == cansyntax::TimeMode::Zero)
        shown = t - first;
    else if (output.time == cansyntax::TimeMode::Delta)
        shown = previous < 0 ? 0.0 : t - previous;
    previous = t;
    const cansyntax::Frame f = frameOf(record);
    if (output.mode == OutputOptions::Log)
        return cansyntax::logLine(qint64(t * 1e6 + 0.5), int(channel), f).toUtf8() + '\n';
    return cansyntax::jsonLine(shown, int(channel), record.send, f).toUtf8() + '\n';
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
        ++taken;
        if (seen) {
            const CanObjStr r = KvBuffer::analyseData(record);
            seen(r.id, r.direction, r.data);
        }
        if (!filter.accepts(record.frame.ID, record.frame.ExternFlag))
            continue;
        const QString key = QString::number(record.frame.ID) + (record.send ? 'T' : 'R');
        if (printed < maxLines && !(distinct && shown.contains(key))) {
            shown.insert(key);
            out() << line(record) << '\n';
            ++printed;
        }
    }
    if (taken > printed && maxLines > 0)
        out() << QStringLiteral("ch%1 ... %2 more\n").arg(channel).arg(taken - printed);
    out().flush();
    return taken;
}

qint64 TraceStream::pump()
{
    qint64 printed = 0;
    QVector<KvCanObj> records;
    while (writeWithoutBlocking(pending)) {
        records.clear();
        if (frames.take(records, 256) == 0)
            break;
        for (const KvCanObj &record : qAsConst(records)) {
            if (!filter.accepts(record.frame.ID, record.frame.ExternFlag))
                continue;
            pending += format(record);
            ++printed;
        }
    }
    return printed;
}

qint64 TraceStream::finish(int msecs)
{
    QElapsedTimer timer;
    timer.start();
    qint64 printed = 0;
    while (!pipeClosed()) {
        printed += pump();
        if ((pending.isEmpty() && frames.pending() == 0) || timer.elapsed() >= msecs)
            break;
        QThread::msleep(5);
    }
    QVector<KvCanObj> rest;
    abandoned += frames.take(rest);
    pending.clear();
    return printed;
}

qint64 TraceStream::dropped() const
{
    return qint64(frames.dropped()) + abandoned;
}

ProgressBar::ProgressBar(const QString &l) : label(l), tty(isatty(STDERR_FILENO)) {}

void ProgressBar::set(int percent)
{
    if (!tty)
        return;
    const int step = qBound(0, percent, 100);
    if (step == shown)
        return;
    shown = step;
    const int filled = step / 5;
    const QString bar = QString(filled, '#') + QString(20 - filled, '.');
    errStream() << '\r' << label << " [" << bar << "] " << step << '%';
    errStream().flush();
}

void ProgressBar::finish()
{
    if (tty && shown >= 0) {
        errStream() << '\n';
        errStream().flush();
    }
}

bool runUntil(qint64 msecs, const std::function<bool()> &done, const std::function<void()> &tick,
              int tickMs)
{
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer sinceTick;
    sinceTick.start();
    while (!(done && done())) {
        if ((msecs >= 0 && timer.elapsed() >= msecs) || interrupted())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
        if (tick && sinceTick.elapsed() >= tickMs) {
            tick();
            sinceTick.restart();
        }
    }
    return true;
}
