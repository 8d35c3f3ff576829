#ifndef CANOBJ_H
#define CANOBJ_H

#include "kavri_global.h"
#include "vci.h"

#include <QtCore/QObject>

// A frame as the application, the send tasks, the file readers and the transmit pipe pass it:
// the adapter's fields in the adapter's order, plus four marks of our own. It is a value: a
// copy carries every field and the marks, but no parent.
class KAVRI_EXPORT CanObj : public QObject
{
    Q_OBJECT
public:
    CanObj();
    explicit CanObj(QObject *parent);
    CanObj(const CanObj &other);
    CanObj &operator=(const CanObj &other);
    ~CanObj() override;

    // The adapter record for transmission: marks dropped, TimeStamp, TimeFlag and Reserved 0.
    VCI_CAN_OBJ toTransmit() const;

    quint32 ID = 0;
    quint32 TimeStamp = 0;
    quint8 TimeFlag = 0;
    quint8 SendType = 0;
    quint8 RemoteFlag = 0;
    quint8 ExternFlag = 0;
    quint8 DataLen = 0;
    quint8 Data[8] = {};
    quint8 Reserved[3] = {};

    quint32 UserData = 0;    // carried for the application, never interpreted
    quint8 UserFlag = 0;     // first frame of a batch read from a file
    quint8 TailFlag = 0;     // the transmit thread signals when it has sent this last frame
    quint8 BatchEndFlag = 0; // the transmit thread closes its batch after this frame

private:
    void copyFields(const CanObj &other);
};

#endif // CANOBJ_H
