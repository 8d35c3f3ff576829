#ifndef CHARGINGVIEW_H
#define CHARGINGVIEW_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QStringList>

class KvGbtSession;

// What kvcan shows while a charging session runs, live or from a recording: on a terminal the
// picture redrawn in place with the latest events under it; elsewhere one line per event
// (phase, timeout, stop, transfer error) and the picture at the end; with `json` the messages
// and events as JSON lines. It takes the session's handlers for itself.
class ChargingView
{
public:
    ChargingView(KvGbtSession &session, bool json);

    // Redraws the picture, on a terminal at most every 200 ms (always when forced); elsewhere
    // nothing.
    void refresh(bool force = false);
    // The final word: the last picture, redrawn or printed.
    void finish();

    qint64 messageCount() const { return messages; }

private:
    KvGbtSession &session;
    const bool json;
    const bool tty;
    qint64 messages = 0;
    QStringList recent;
    QElapsedTimer shown;
    int drawnLines = 0;
};

#endif // CHARGINGVIEW_H
