// kvcan: the command-line host of the engine library. It drives the adapter, the worker threads
// and the buffers through the public API only, as an analyser application does.
#include "commands.h"
#include "record.h"
#include "session.h"
#include "stopsignals.h"

#include <QtWidgets/QApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

struct Command
{
    const char *name;
    int (*run)(const QStringList &);
    const char *summary;
};

constexpr Command Commands[] = {
    {"demo", runDemo, "Show everything the engine does on a simulated two-channel adapter."},
    {"monitor", runMonitor, "Live trace of a channel, with ID filters and a watch view."},
    {"top", runTop, "Live table of a channel's identifiers: count, rate, cycle, data."},
    {"send", runSend, "Send frames given as ID#DATA through the transmit pipe."},
    {"record", runRecord, "Record channels into a file until the time is up or Ctrl-C."},
    {"replay", runReplay, "Replay a recording (binary, CSV, ASC, candump log or BLF)."},
    {"flash", runFlash, "Download a firmware image over CAN."},
    {"convert", runConvert, "Convert a recording into another format (csv, asc, candump, blf)."},
    {"tasks", runTasks, "Run a task-list document sequentially, cyclically or in parallel."},
    {"dbc", runDbc, "List the messages and signals of a DBC file."},
    {"decode", runDecode, "Decode a recording by a DBC file (--dbc) or as GB/T 27930 (--gbt)."},
    {"charging", runCharging, "Show a simulated (or recorded) DC charging session live."},
};

void usage(FILE *to)
{
    fprintf(to, "Usage: kvcan <command> [options]\n\nCommands:\n");
    for (const Command &c : Commands)
        fprintf(to, "  %-8s %s\n", c.name, c.summary);
    fprintf(to, "\nRun 'kvcan <command> --help' or 'kvcan help <command>' for the options of a "
                "command, 'kvcan --version' for the version.\n");
}

// Qt's own log lines (a plugin's notes, the offscreen platform's runtime folder) are noise on a
// terminal and in every error output: shown with --verbose only.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!verbose() && type != QtFatalMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char *argv[])
{
    // The task-list document lives in a table widget; no window is ever shown, so the tool runs
    // without a display.
    qInstallMessageHandler(messageHandler);
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i)
        setVerbose(verbose() || strcmp(argv[i], "--verbose") == 0);
    // A reader that goes away (| head) ends kvcan quietly: writes see EPIPE instead of a signal.
    signal(SIGPIPE, SIG_IGN);
    stopsignals::install();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvcan"));
    QApplication::setApplicationVersion(QStringLiteral("0.1"));

    const QStringList args = QApplication::arguments();
    if (args.size() < 2 || args.at(1) == QLatin1String("--help") ||
        args.at(1) == QLatin1String("-h")) {
        usage(args.size() < 2 ? stderr : stdout);
        return args.size() < 2 ? 2 : 0;
    }
    if (args.at(1) == QLatin1String("--version") || args.at(1) == QLatin1String("-v")) {
        printf("kvcan %s\n", qPrintable(QApplication::applicationVersion()));
        return 0;
    }
    QStringList commandArgs = args.mid(1);
    if (args.at(1) == QLatin1String("help")) {
        if (args.size() < 3) {
            usage(stdout);
            return 0;
        }
        commandArgs = QStringList{args.at(2), QStringLiteral("--help")};
    }
    for (const Command &c : Commands) {
        if (commandArgs.at(0) == QLatin1String(c.name)) {
            const int code = c.run(commandArgs);
            return pipeClosed() ? 0 : code;
        }
    }
    fprintf(stderr, "kvcan: unknown command '%s'; 'kvcan help' lists the commands\n",
            qPrintable(commandArgs.at(0)));
    return 2;
}
