#ifndef TRAFFICSTATUS_H
#define TRAFFICSTATUS_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>

class QGridLayout;
class QLabel;
class QStatusBar;

// The status bar's traffic figures for the shown channel: frames and bits the receive buffer
// counted, the bus load over the last refresh cycle in percent of the bit rate, and the frames
// received and sent on the channel. The figures stand in two rows, so the status bar holds them
// and the load plot beside them in a 1024-pixel window; a note (the dropped rows) may take the
// place after the last figure.
class TrafficStatus : public QObject
{
    Q_OBJECT
public:
    enum Field { Frames, Bits, Load, Received, Sent, FieldCount };

    explicit TrafficStatus(QStatusBar *bar);

    // One refresh cycle; `bitRate` is the channel's rate in bit/s (0 when no channel runs).
    void update(int channel, int bitRate);
    QLabel *label(Field field) const { return labels[field]; }
    // Puts `note` after the last figure, in the second row.
    void addNote(QWidget *note);
    double load() const { return lastLoad; }

    // Bits counted over `msecs` at `bitRate`, in percent, at most 100:
    //   (250000 bits, 1000 ms, 500000 bit/s) -> 50.0
    static double busLoad(quint32 bits, qint64 msecs, int bitRate);

private:
    QLabel *labels[FieldCount];
    QGridLayout *grid;
    QElapsedTimer clock;
    int lastChannel = -1;
    quint32 lastBits = 0;
    double lastLoad = 0.0;
};

#endif // TRAFFICSTATUS_H
