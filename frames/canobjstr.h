#ifndef CANOBJSTR_H
#define CANOBJSTR_H

#include "kavri_global.h"

#include <QtCore/QMetaType>
#include <QtCore/QObject>
#include <QtCore/QQueue>
#include <QtCore/QString>

// A frame as the display shows it: one text per column. The receive buffer fills nine of the
// columns; `index` is set by whoever reads the record by position, and the four spare columns
// are the application's own (copied like the others, never written by the library).
//
// A value: copies carry the thirteen texts and nothing of the QObject part (no parent).
class KAVRI_EXPORT CanObjStr : public QObject
{
    Q_OBJECT
public:
    CanObjStr();
    explicit CanObjStr(QObject *parent);
    CanObjStr(const CanObjStr &other);
    CanObjStr &operator=(const CanObjStr &other);
    ~CanObjStr() override;

    QString index; // "0", "1", ...: position in the list it was read from
    QString id;    // "00000123 "
    QString spare1;
    QString timeStamp;  // "0x1F40", or "NULL" for a transmitted frame
    QString systemTime; // "09:05:03:007"
    QString spare2;
    QString spare3;
    QString frameType;   // "Remote" or "Data"
    QString frameFormat; // "Extend" or "Standard"
    QString dataLen;     // "3"
    QString data;        // "01 A2 FF"
    QString spare4;
    QString direction; // "Tx" or "Rx"
};

// Text forms in arrival order; the transmit thread hands these to the application.
typedef QQueue<CanObjStr> CanObjStrQueue;

Q_DECLARE_METATYPE(CanObjStrQueue)

#endif // CANOBJSTR_H
