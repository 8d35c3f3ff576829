#ifndef KVSENDFIRMWARETHREAD_H
#define KVSENDFIRMWARETHREAD_H

#include "kavri_global.h"
#include "kvthread.h"
#include "taskobj.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Downloads a firmware image to a node on one channel, through the channel's transmit pipe (the
// transmit thread sends what is pushed). On the wire, for an image of N bytes, all standard
// frames:
//   0x110 remote          start command
//   0x111 data x ceil(N/8) the image, 8 bytes a frame, in bursts of up to three
//   0x112 remote          end command
//   0x113 data x 3        SHA-1 digest of the image (8, 8 and 4 bytes)
//   0x114 remote          finish command; it carries TailFlag, so the transmit thread emits
//                         tailSignal() once it is out
// The image is streamed, never loaded whole: after each burst the thread waits while more than
// ten bursts are queued in the pipe. A stop still pushes the end command, the digest and the
// finish command. No answer from the node is awaited.
//
// errorSignal() ends the download early:
// - before anything is pushed, when the image is not a regular file (a device such as /dev/zero
//   or a FIFO would never end, or block the open) or cannot be opened;
// - when the transmit thread serving the pipe ends during the download (refused by the adapter,
//   or stopped) while the download waits for room: nothing more is pushed, and the bursts already
//   queued stay in the pipe.
//
// Decided here: when the digest pass cannot reopen the image, the digest burst is left out.
class KAVRI_EXPORT KvSendFirmwareThread : public KvThread
{
    Q_OBJECT
public:
    explicit KvSendFirmwareThread(unsigned long channel);
    KvSendFirmwareThread(QObject *parent, unsigned long channel);
    ~KvSendFirmwareThread() override;

    // Stored; the image is always read as raw bytes.
    void setFileType(int type);
    void setFileName(QString name);

    void run() override;

signals:
    void changeStatus();
    void progressValueChanged(int nValue);
    // The image could not be read, or the transmit thread stopped taking bursts; see above.
    void errorSignal();

protected:
    // The five command bursts: start, image template, end, digest template, finish.
    void initTaskObj(taskObj &task);
    // Cuts the digest into frames of the template's ID, up to 8 bytes each, and pushes them as
    // one burst.
    void sendShaValue(CanData &burst, QByteArray &digest);

private:
    void push(const CanData &burst);

    unsigned long channel;
    int fileType = 0;
    QString fileName;
};

#endif // KVSENDFIRMWARETHREAD_H
