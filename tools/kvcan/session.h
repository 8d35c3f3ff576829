#ifndef SESSION_H
#define SESSION_H

#include <QtCore/QByteArray>
#include <QtCore/QCommandLineParser>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <functional>

#include "cansyntax.h"
#include "kvframesubscription.h"

class CanData;
class QTextStream;
class CanObj;
class KvDeviceSession;
struct KvCanObj;

// What every subcommand shares: the command line (device options, numbers, help), the engine's
// device session for them, standard output that survives pipes, and printing the traffic.

struct DeviceOptions
{
    uint type = 4;
    uint index = 0;
    uint channel = 0;
    uint bitRate = 500000;
    int wire = -1; // a second channel of the same device, wired to `channel` on the simulated bus
    bool fast = false; // with --wire: the simulated bus as fast as the host goes
    QString bus;       // "plugin:interface": `channel` is bridged to that Qt CAN bus interface
};

// An option whose text ends with "(default: X)", the form every option with a default takes.
QCommandLineOption option(const QString &name, const QString &text, const QString &valueName = {},
                          const QString &defaultValue = {});

// Adds --device-type, --device-index, --channel, --bitrate, --wire, --fast, --bus and --verbose.
void addDeviceOptions(QCommandLineParser &parser);
// Reads them back; false with `error` set when one is malformed. --bus maps the chosen channel
// for the adapter library (through KAVRI_CANBUS, replacing any mapping there).
bool readDeviceOptions(const QCommandLineParser &parser, DeviceOptions &options, QString &error);

// Parses a subcommand's arguments (the subcommand's name first). Frames given as positional
// arguments may start with '-' ("-12#00" is a bad frame, not an unknown option). Returns -1 to go
// on, or the exit code when the command is done already: help printed ("Usage: kvcan CMD ..."),
// 0; a usage error reported, 2. With `device`, the device options are read too.
int parseCommandLine(QCommandLineParser &parser, const QStringList &args,
                     const QString &description, DeviceOptions *device);
// The help of a subcommand, beginning "Usage: kvcan CMD".
QString commandHelp(const QCommandLineParser &parser, const QString &command);

// Validated numbers of options; each prints the reason and gives false. --seconds style values
// may be fractional: "2.5" -> 2500 ms.
bool secondsOption(const QCommandLineParser &parser, const QString &name, qint64 &msecs,
                   double maxSeconds = 1e7);
bool countOption(const QCommandLineParser &parser, const QString &name, qint64 min, qint64 max,
                 qint64 &value);

// "500k", "1M", "125000": one of the rates the engine offers; false for any other.
bool parseBitRate(const QString &text, uint &bitRate);

// cansend syntax (see cansyntax::parseFrame) into a frame for the transmit pipe; a remote frame
// keeps its requested length. False with the reason.
bool parseFrame(const QString &text, CanObj &frame, QString &error);
cansyntax::Frame frameOf(const KvCanObj &record);

// Standard output, shared by everything kvcan prints so that lines keep their order. A closed
// pipe (the reader went away) makes every later write a no-op and sets pipeClosed().
QTextStream &out();
// Where summaries go: standard output, or standard error while --log or --json own stdout.
QTextStream &report();
void setMachineOutput(bool on);
bool pipeClosed();
// Writes what fits into standard output without blocking; false when some of `pending` waits.
bool writeWithoutBlocking(QByteArray &pending);
// Ctrl-C, SIGTERM or a closed pipe: the command winds down.
bool interrupted();
// Qt's own log lines are shown only with --verbose.
void setVerbose(bool on);
bool verbose();

// Prints "kvcan: <message>" on standard error and returns `code`, for one-line error exits.
int fail(const QString &message, int code = 1);

// Starts `session` on the options' device with --channel (and --wire, wired to it on the
// simulated bus, at the bit rate's real timing unless --fast). Prints one error line and returns
// false on failure.
// `extra` channels are started too, and wired to --wire as well.
bool startSession(KvDeviceSession &session, const DeviceOptions &options,
                  const QVector<int> &extra = {});

// Where each frame sits in time: the adapter's stamp (exact between received frames) anchored to
// the host's clock at the first received frame; transmitted frames carry no stamp and take the
// host's time of day of their buffering. Seconds since the epoch.
class FrameClock
{
public:
    double seconds(const KvCanObj &record);

private:
    bool anchored = false;
    double anchorSeconds = 0.0;
    quint32 lastStamp = 0;
    double stampSeconds = 0.0; // since the anchor, wraps of the 32-bit stamp included
};

// The form of trace lines: kvcan's own columns, candump log lines or JSON objects, and how the
// time is printed (-t as candump takes it).
struct OutputOptions
{
    enum Mode { Trace, Log, Json };
    Mode mode = Trace;
    cansyntax::TimeMode time = cansyntax::TimeMode::None;
};
void addOutputOptions(QCommandLineParser &parser);
bool readOutputOptions(const QCommandLineParser &parser, OutputOptions &options);
// --only and --not as candump filters.
void addFilterOptions(QCommandLineParser &parser);
bool readFilterOptions(const QCommandLineParser &parser, cansyntax::IdFilter &filter);

// Streams a channel's stored frames as trace lines, in order, as one consumer of the session's
// frames (a bounded subscription: a slow standard output costs frames of the trace, counted in
// dropped(), and never holds up the receive path).
class TraceStream
{
public:
    TraceStream(KvDeviceSession &session, uint channel, int bound = 1 << 16);
    void setFilter(const cansyntax::IdFilter &f) { filter = f; }
    void setOutput(const OutputOptions &o) { output = o; }

    // Takes every queued record and prints at most `maxLines` of them, then a "... n more" line.
    // With `distinct`, only the first record of each identifier is printed, so that a busy
    // identifier does not hide the others. `seen` is called for every record taken.
    int drain(int maxLines,
              const std::function<void(const QString &id, const QString &dir, const QString &data)>
                  &seen = {},
              bool distinct = false);
    // Prints every record that passes the filter, as long as standard output takes them without
    // blocking; the rest wait in the subscription. Returns the records printed.
    qint64 pump();
    // Pumps until nothing waits or `msecs` pass; what is left counts as dropped. Returns the
    // records printed meanwhile.
    qint64 finish(int msecs);
    qint64 dropped() const;
    QString line(const KvCanObj &record);

private:
    QByteArray format(const KvCanObj &record);

    uint channel;
    KvFrameSubscription frames;
    cansyntax::IdFilter filter;
    OutputOptions output;
    FrameClock clock;
    double first = -1.0;
    double previous = -1.0;
    QByteArray pending;
    qint64 abandoned = 0;
    int number = 0;
};

// A one-line progress bar fed by the threads' progress signals; on standard error, and only on a
// terminal.
class ProgressBar
{
public:
    explicit ProgressBar(const QString &label);
    void set(int percent);
    void finish();

private:
    QString label;
    int shown = -1;
    bool tty;
};

// Runs the event loop until `done` returns true, `msecs` pass (-1: no limit) or the user
// interrupts; `tick` runs every `tickMs`. Returns whether `done` became true.
bool runUntil(qint64 msecs, const std::function<bool()> &done,
              const std::function<void()> &tick = {}, int tickMs = 100);

#endif // SESSION_H
