#ifndef RECORD_H
#define RECORD_H

#include <QtCore/QCommandLineParser>
#include <QtCore/QElapsedTimer>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

#include <memory>

class KvDeviceSession;
class KvRecorder;

// kvcan record FILE: the frames of one or more channels into a recording, until the time is up
// or Ctrl-C / SIGTERM; and the same beside the monitor's trace (monitor --record FILE).
int runRecord(const QStringList &args);

// One recording of a kvcan command on a running session: its start, a status line on a
// terminal, its end with a summary.
//
//     Recording rec(session, "trace.asc");
//     if (!rec.start())
//         return 1;                  // "kvcan: ..." printed
//     runUntil(..., [&] { return rec.failed(); }, [&] { rec.showStatus(); });
//     session.stop();                // the last frames reach the recorder
//     return rec.finish();           // 0, or 1 after a write error
class Recording
{
public:
    Recording(KvDeviceSession &session, const QString &file);
    ~Recording();

    void setFormat(const QString &name);
    void setChannels(const QVector<int> &channels);
    void setMaxSize(qint64 bytes);
    void setMaxTime(qint64 msecs);

    bool start();
    // The recording stopped by itself (a write error).
    bool failed() const;
    // On a terminal: the status line on standard error, refreshed in place.
    void showStatus();
    // Takes the status line away, before other lines are printed.
    void hideStatus();
    // Stops the recording, prints the summary (or the error line) and returns the exit code.
    int finish();

private:
    std::unique_ptr<KvRecorder> recorder;
    QString file;
    QElapsedTimer clock;
    bool tty;
    bool shown = false;
};

#endif // RECORD_H
