#ifndef SESSION_H
#define SESSION_H

#include <QtCore/QCommandLineParser>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <functional>

#include "kvframesubscription.h"

class CanData;
class QTextStream;
class CanObj;
class KvDeviceSession;

// What every subcommand shares: the device options, the engine's device session for them, and
// printing the traffic the way an analyser's trace shows it.

struct DeviceOptions
{
    uint type = 4;
    uint index = 0;
    uint channel = 0;
    uint bitRate = 500000;
    int wire = -1; // a second channel of the same device, wired to `channel` on the simulated bus
    QString bus;   // "plugin:interface": `channel` is bridged to that Qt CAN bus interface
};

// Adds --device-type, --device-index, --channel, --bitrate, --wire and --bus to a parser.
void addDeviceOptions(QCommandLineParser &parser);
// Reads them back; false with `error` set when one is malformed. --bus maps the chosen channel
// for the adapter library (through KAVRI_CANBUS, replacing any mapping there).
bool readDeviceOptions(const QCommandLineParser &parser, DeviceOptions &options, QString &error);

// "500k", "1M", "125000": one of the rates the engine offers; false for any other.
bool parseBitRate(const QString &text, uint &bitRate);

// "123#11223344" (standard data), "1A2B3C4D#" (extended: more than three digits), "123#R"
// (remote). False for anything else.
bool parseFrame(const QString &text, CanObj &frame);

// Standard output, shared by everything kvcan prints so that lines keep their order.
QTextStream &out();

// Prints "kvcan: <message>" on standard error and returns `code`, for one-line error exits.
int fail(const QString &message, int code = 1);

// Starts `session` on the options' device with --channel (and --wire, wired to it on the
// simulated bus). Prints one error line and returns false on failure.
bool startSession(KvDeviceSession &session, const DeviceOptions &options);

// Streams a channel's stored frames as trace lines, in order, as one consumer of the session's
// frames: every frame the buffer keeps is printed (or counted) exactly once.
class TraceStream
{
public:
    TraceStream(KvDeviceSession &session, uint channel);
    // Takes every queued record and prints at most `maxLines` of them, then a "... n more" line.
    // With `distinct`, only the first record of each identifier is printed, so that a busy
    // identifier does not hide the others. `seen` is called for every record taken.
    int drain(int maxLines,
              const std::function<void(const QString &id, const QString &dir, const QString &data)>
                  &seen = {},
              bool distinct = false);
    static QString line(uint channel, const class CanObjStr &record);

private:
    uint channel;
    KvFrameSubscription frames;
    int number = 0;
};

// A one-line progress bar fed by the threads' progress signals.
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

// Runs the event loop until `done` returns true or `msecs` pass; `tick` runs every `tickMs`.
// Returns whether `done` became true.
bool runUntil(int msecs, const std::function<bool()> &done, const std::function<void()> &tick = {},
              int tickMs = 100);

#endif // SESSION_H
