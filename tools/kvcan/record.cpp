#include "record.h"

#include "cansyntax.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvrecorder.h"
#include "session.h"
#include "stopsignals.h"

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtCore/QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1);
}

// "0,1" -> {0, 1}; each channel 0 to 3, once.
bool parseChannels(const QString &text, QVector<int> &channels, QString &error)
{
    channels.clear();
    for (const QString &part : text.split(QLatin1Char(','))) {
        qint64 ch = 0;
        if (!cansyntax::parseCount(part.trimmed(), 0, 3, ch, error)) {
            error = QStringLiteral("bad --channels '%1': %2").arg(text, error);
            return false;
        }
        if (channels.contains(int(ch))) {
            error = QStringLiteral("bad --channels '%1': channel %2 twice").arg(text).arg(ch);
            return false;
        }
        channels << int(ch);
    }
    return true;
}

} // namespace

Recording::Recording(KvDeviceSession &session, const QString &file)
    : recorder(new KvRecorder(session)), file(file), tty(isatty(STDERR_FILENO))
{
}

Recording::~Recording() = default;

void Recording::setFormat(const QString &name)
{
    recorder->setFormat(name);
}

void Recording::setChannels(const QVector<int> &channels)
{
    recorder->setChannels(channels);
}

void Recording::setMaxSize(qint64 bytes)
{
    recorder->setMaxFileSize(bytes);
}

void Recording::setMaxTime(qint64 msecs)
{
    recorder->setMaxFileTime(msecs);
}

bool Recording::start()
{
    if (!recorder->start(file)) {
        fail(recorder->errorString());
        return false;
    }
    clock.start();
    return true;
}

bool Recording::failed() const
{
    return !recorder->status().error.isEmpty();
}

// "recording trace.asc: 12034 frames, 402.3 KiB, 0 dropped, 12 s"
void Recording::showStatus()
{
    if (!tty)
        return;
    const KvRecorderStatus s = recorder->status();
    fprintf(stderr, "\rrecording %s: %lld frames, %s, %llu dropped, %lld s\x1b[K",
            qPrintable(QFileInfo(s.file).fileName()), (long long)s.frames,
            qPrintable(sizeText(s.bytes)), (unsigned long long)s.dropped,
            (long long)(clock.elapsed() / 1000));
    fflush(stderr);
    shown = true;
}

void Recording::hideStatus()
{
    if (shown) {
        fprintf(stderr, "\r\x1b[K");
        fflush(stderr);
        shown = false;
    }
}

int Recording::finish()
{
    recorder->stop();
    hideStatus();
    const KvRecorderStatus s = recorder->status();
    if (!s.error.isEmpty())
        return fail(QStringLiteral("%1 (%2 frames kept)").arg(s.error).arg(s.frames));
    const QStringList files = recorder->files();
    const QString into = files.size() == 1
                             ? files.first()
                             : QStringLiteral("%1 files, %2 to %3")
                                   .arg(files.size())
                                   .arg(files.first(), QFileInfo(files.last()).fileName());
    out() << QStringLiteral("recorded %1 frames into %2 (%3) in %4 s, %5 dropped\n")
                 .arg(s.frames)
                 .arg(into, sizeText(s.bytes))
                 .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
                 .arg(s.dropped);
    out().flush();
    return 0;
}

int runRecord(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.setApplicationDescription(
        QStringLiteral("Record the frames of one or more channels into a file, until the time is "
                       "up or Ctrl-C / SIGTERM."));
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("The recording; numbered files when rotating."),
                                 QStringLiteral("FILE"));
    parser.addOption({"format",
                      QStringLiteral("Format: %1 (default: from the file's ending).")
                          .arg(KvFormatRegistry::names(true)),
                      "format"});
    parser.addOption({"channels", "Channels to record, e.g. 0,1 (default: --channel).", "list"});
    parser.addOption(
        {"seconds", "Stop after this many seconds (default: at Ctrl-C or SIGTERM).", "seconds"});
    parser.addOption({"max-size", "Start a new numbered file at this size, e.g. 100M.", "size"});
    parser.addOption({"max-time", "Start a new numbered file after this long, e.g. 10m.", "time"});
    parser.addHelpOption();
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help"))) {
        out() << commandHelp(parser, QStringLiteral("record"));
        out().flush();
        return 0;
    }
    DeviceOptions device;
    QString error;
    if (!readDeviceOptions(parser, device, error))
        return fail(error, 2);
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("record needs one FILE"), 2);
    const QString file = parser.positionalArguments().first();
    QVector<int> channels{int(device.channel)};
    if (parser.isSet("channels") && !parseChannels(parser.value("channels"), channels, error))
        return fail(error, 2);
    qint64 msecs = -1, maxSize = 0, maxTime = 0;
    if (parser.isSet("seconds") &&
        !cansyntax::parseSeconds(parser.value("seconds"), 366 * 86400.0, msecs, error))
        return fail(QStringLiteral("bad --seconds: %1").arg(error), 2);
    if (parser.isSet("max-size") && parser.isSet("max-time"))
        return fail(QStringLiteral("--max-size and --max-time: choose one"), 2);
    if (parser.isSet("max-size") && !cansyntax::parseSize(parser.value("max-size"), maxSize, error))
        return fail(QStringLiteral("bad --max-size: %1").arg(error), 2);
    if (parser.isSet("max-time") &&
        !cansyntax::parseDuration(parser.value("max-time"), maxTime, error))
        return fail(QStringLiteral("bad --max-time: %1").arg(error), 2);

    stopsignals::install();
    KvDeviceSession session;
    session.setDevice(device.type, device.index);
    QVector<int> started = channels;
    if (device.wire >= 0 && !started.contains(device.wire))
        started << device.wire;
    for (int ch : started)
        session.addChannel(ch, device.bitRate);
    if (!session.start())
        return fail(session.errorString() +
                    (device.bus.isEmpty() ? QString() : QStringLiteral(" on ") + device.bus));
    if (device.wire >= 0 && !session.wire(channels.first(), device.wire))
        return fail(QStringLiteral("cannot wire channel %1 to channel %2: %3")
                        .arg(channels.first())
                        .arg(device.wire)
                        .arg(session.errorString()));
    Recording recording(session, file);
    recording.setFormat(parser.value("format"));
    recording.setChannels(channels);
    recording.setMaxSize(maxSize);
    recording.setMaxTime(maxTime);
    if (!recording.start())
        return 1;
    runUntil(
        int(qMin<qint64>(msecs, INT_MAX)),
        [&] { return stopsignals::requested() || recording.failed(); },
        [&] { recording.showStatus(); }, 250);
    session.stop(); // hands the last frames to the recorder
    return recording.finish();
}
