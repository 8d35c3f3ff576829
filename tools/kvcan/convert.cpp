// kvcan convert: any readable recording into any writable format, through the format registry.
#include "commands.h"
#include "session.h"

#include "kvformatregistry.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QFileInfo>
#include <QtCore/QLocale>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int)
{
    stopRequested = true;
}

int failed(const QString &message)
{
    fprintf(stderr, "kvcan: %s\n", qPrintable(message));
    return 1;
}

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

// A bar on standard error, only on a terminal: a pipe or a log gets the summary alone.
class ConvertProgress
{
public:
    ConvertProgress() : tty(isatty(fileno(stderr))) {}
    void set(qint64 position, qint64 size)
    {
        if (!tty || size <= 0)
            return;
        const int percent = int(double(position) * 100.0 / double(size));
        if (percent == shown)
            return;
        shown = percent;
        const int filled = percent / 5;
        fprintf(stderr, "\rconvert [%s%s] %d%%", QByteArray(filled, '#').constData(),
                QByteArray(20 - filled, '.').constData(), percent);
    }
    void finish()
    {
        if (tty && shown >= 0)
            fputc('\n', stderr);
    }

private:
    bool tty;
    int shown = -1;
};

// The writable format for an output path: the suffix decides; ".asc" means ASC as other tools
// write it, which every ASC reader takes.
const KvFormat *outputFormat(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("asc"), Qt::CaseInsensitive) == 0)
        return KvFormatRegistry::find(QStringLiteral("asclog"));
    return KvFormatRegistry::forSuffix(path);
}

} // namespace

int runConvert(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Convert a recording into another format."));
    parser.addHelpOption();
    parser.addPositionalArgument("in", "Recording to read.");
    parser.addPositionalArgument("out", "Recording to write (created or replaced).");
    parser.addOption(
        {"from", "Format of IN: " + KvFormatRegistry::names() + " (default: from its content).",
         "format"});
    parser.addOption(
        {"to", "Format of OUT: " + KvFormatRegistry::names(true) + " (default: from its suffix).",
         "format"});
    if (!parser.parse(args)) {
        fprintf(stderr, "kvcan: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(commandHelp(parser, QStringLiteral("convert"))), stdout);
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) {
        fprintf(stderr, "kvcan: expected IN and OUT\n");
        return 2;
    }
    const QString in = files.at(0);
    const QString out = files.at(1);

    const KvFormat *to =
        parser.isSet("to") ? KvFormatRegistry::find(parser.value("to")) : outputFormat(out);
    if (!to || !to->newWriter)
        return failed(QStringLiteral("cannot tell which format to write %1: use --to %2")
                          .arg(out, KvFormatRegistry::names(true)));
    // Nothing is created or truncated before the input is accepted.
    QString error;
    const KvFormat *from = nullptr;
    std::unique_ptr<KvFrameReader> reader =
        KvFormatRegistry::openReader(in, parser.value("from"), &error, &from);
    if (!reader)
        return failed(error);
    if (QFileInfo(in).canonicalFilePath() == QFileInfo(out).canonicalFilePath())
        return failed(QStringLiteral("%1: input and output are the same file").arg(out));
    std::unique_ptr<KvFrameWriter> writer(to->newWriter());
    if (!writer->open(out, reader->startEpochNs()))
        return failed(writer->errorString());

    // A signal ends the conversion with a closed, complete file (a BLF's header counts).
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    ConvertProgress progress;
    qint64 frames = 0, errorFrames = 0;
    KvFrameReader::Result r = KvFrameReader::Frame;
    KvFrame frame;
    bool writeFailed = false;
    while (!stopRequested) {
        r = reader->read(frame);
        if (r == KvFrameReader::End || r == KvFrameReader::Error)
            break;
        if (r == KvFrameReader::Skipped)
            continue;
        if (!writer->write(frame)) {
            writeFailed = true;
            break;
        }
        ++frames;
        errorFrames += frame.error ? 1 : 0;
        if ((frames & 0xFFFF) == 0)
            progress.set(reader->position(), reader->size());
    }
    const bool closed = writer->close();
    progress.finish();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (writeFailed || !closed)
        return failed(writer->errorString());

    frames -= writer->dropped();
    QString summary = QStringLiteral("converted %1 frames, skipped %2 lines, %3 error frames")
                          .arg(count(frames), count(reader->skipped()), count(errorFrames));
    if (reader->unsupported() > 0)
        summary += QStringLiteral(", %1 CAN FD frames left out").arg(count(reader->unsupported()));
    if (writer->dropped() > 0)
        summary +=
            QStringLiteral(", %1 frames %2 cannot hold").arg(count(writer->dropped()), to->name);
    printf("%s\n", qPrintable(summary));
    fflush(stdout);
    if (stopRequested)
        return failed(QStringLiteral("interrupted; %1 holds what was converted").arg(out));
    if (r == KvFrameReader::Error)
        return failed(reader->errorString());
    if (frames == 0)
        return failed(QStringLiteral("nothing converted from %1").arg(in));
    return 0;
}
