#ifndef KVDBCDATABASE_H
#define KVDBCDATABASE_H

#include "kavri_global.h"
#include "vci.h"

#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

namespace kavri {
namespace detail {
class DbcParser;
}
} // namespace kavri

// One entry of a value table: a raw value and its text.
//   VAL_ 100 Gear 0 "P" 1 "R" 2 "N" 3 "D" ;  -> {0, "P"}, {1, "R"}, {2, "N"}, {3, "D"}
struct KvDbcValueName
{
    qint64 value = 0;
    QString name;
};

// An inclusive range of a selector's raw values under which a multiplexed signal is present.
struct KvDbcMuxRange
{
    qint64 low = 0;
    qint64 high = 0;
};

// A signal as a DBC file defines it, plus the layout the database computes for decoding.
//   SG_ EngSpeed : 24|16@1+ (0.25,0) [0|16383.75] "rpm" Gateway,Dashboard
struct KvDbcSignal
{
    enum ValueType : quint8 {
        Integer, // two's complement when isSigned
        Float32, // SIG_VALTYPE_ 1: IEEE single, 32 bits
        Float64  // SIG_VALTYPE_ 2: IEEE double, 64 bits
    };

    QString name;
    // As the file gives it: the least significant bit for Intel order, the most significant bit
    // for Motorola order, both in the byte-wise numbering (bit 0 = least significant bit of byte 0,
    // bit 7 its most significant, bit 8 the least significant of byte 1).
    int startBit = 0;
    int length = 0;
    bool bigEndian = false; // "@0": Motorola order; "@1": Intel order
    bool isSigned = false;  // "-"
    ValueType valueType = Integer;
    double factor = 1;
    double offset = 0;
    double minimum = 0;
    double maximum = 0;
    QString unit;
    QStringList receivers;
    QString comment;
    // Multiplexing. A selector ("M", or "mNM" in a cascade) decides by its raw value which of the
    // message's multiplexed signals are present. `multiplexer` is the index, in the message, of
    // the selector of this signal (-1: always present), `multiplexValues` the selector's values
    // that make it present ("m3" -> 3..3, or the ranges of SG_MUL_VAL_).
    bool isMultiplexer = false;
    int multiplexer = -1;
    QVector<KvDbcMuxRange> multiplexValues;
    QVector<KvDbcValueName> valueNames; // VAL_, ordered by value
    QMap<QString, QString> attributes;  // BA_ ... SG_, as written
    int line = 0;                       // where the file defines it

    // Layout, computed at load time: the raw bits are (word >> shift) & mask, where word is the
    // frame's eight bytes read little-endian (Intel) or big-endian (Motorola). A frame shorter
    // than minBytes does not carry the signal.
    int shift = 0;
    quint64 mask = 0;
    int minBytes = 0;
};

// A message (BO_) and its signals.
//   BO_ 2566844926 EngineData: 8 Engine   -> extended ID 0x18FEF1FE, 8 bytes, sent by Engine
struct KvDbcMessage
{
    quint32 id = 0;        // 11 or 29 bits, without the extended mark
    bool extended = false; // bit 31 of the file's number
    QString name;
    int size = 0; // bytes, 0 to 8
    QString transmitter;
    QStringList transmitters; // BO_TX_BU_: further senders
    QString comment;
    int cycleTime = 0;  // ms, from GenMsgCycleTime or its default; 0 when not given
    bool j1939 = false; // VFrameFormat J1939PG: matched by parameter group number
    QVector<KvDbcSignal> signalList;
    QVector<int> decodeOrder;          // every signal, selectors before the signals they select
    QMap<QString, QString> attributes; // BA_ ... BO_, as written
    int firstSignal = 0;               // its first signal's number in signalCount() numbering
    int line = 0;
};

struct KvDbcNode
{
    QString name;
    QString comment;
    QMap<QString, QString> attributes;
};

// BA_DEF_ with its BA_DEF_DEF_.
//   BA_DEF_ BO_ "GenMsgCycleTime" INT 0 65535;  BA_DEF_DEF_ "GenMsgCycleTime" 100;
struct KvDbcAttributeDefinition
{
    QString name;
    QString object; // "", "BU_", "BO_", "SG_" or "EV_"
    QString type;   // "INT", "HEX", "FLOAT", "STRING" or "ENUM"
    QStringList enumValues;
    QString defaultValue;
};

// A problem the loader found, at a line of the file (0: the file as a whole).
struct KvDbcError
{
    int line = 0;
    QString message;
};

// One decoded signal. `present` is false for a signal the frame does not carry: too short a
// frame, or a multiplexed signal whose selector does not select it; the numbers are then stale.
struct KvDbcValue
{
    double physical = 0; // raw * factor + offset, in double precision
    double raw = 0;      // the integer (sign-extended when signed) or the IEEE value
    qint64 integer = 0;  // the raw integer: value-table key and selector value; 0 for floats
    bool present = false;
};
Q_DECLARE_TYPEINFO(KvDbcValue, Q_PRIMITIVE_TYPE);

// A DBC database: loads the messages, signals, value tables, comments and attributes of a DBC
// file and decodes and encodes frames with them.
//
// Loading reads UTF-8, or Windows-1252 when the bytes are not valid UTF-8. Every statement real
// files use is read (VERSION, NS_, BS_, BU_, BO_, SG_ with simple and extended multiplexing,
// SG_MUL_VAL_, VAL_, VAL_TABLE_, CM_, BA_DEF_, BA_DEF_DEF_, BA_, SIG_VALTYPE_, BO_TX_BU_); any
// other statement is skipped up to its ";" or the next statement. A file with errors loads what it
// can: each faulty statement is reported with its line and left out, the rest stays usable.
//
// Decoding reads the signals of a frame into a vector of KvDbcValue, one per signal of the message
// in the message's order. The vector is the caller's and is reused: once it has grown to the
// largest message, decoding allocates nothing. Lookup by identifier is one hash probe (two for
// J1939 parameter groups). A loaded database is read-only: any number of threads may decode with
// it at once.
//
// Decided here:
// - messages longer than 8 bytes, signals of length 0 or above 64, start bits past 63, signals
//   reaching past the eighth byte, a factor of 0 and numbers that are not finite are errors; the
//   message or signal is left out;
// - a second message with the ID or the name of an earlier one is an error and is left out with
//   its signals; so is a second signal of the same name in one message;
// - a float signal (SIG_VALTYPE_) must be 32 or 64 bits long, or it is left out;
// - a multiplexed signal without SG_MUL_VAL_ belongs to the message's one plain selector ("M"); a
//   message with several selectors needs SG_MUL_VAL_ for each, and a cycle of selectors is left
//   out;
// - a J1939 parameter group (VFrameFormat J1939PG) matches extended frames of the same parameter
//   group number (the destination address included when PF >= 240), any priority and any source;
//   a message with exactly the frame's ID wins;
// - the value table of a signal is keyed by its raw value, as the file writes it;
// - files larger than 64 MiB are refused; at most 1000 errors are listed, then one line says that
//   more were left out;
// - a reference (CM_, VAL_, BA_, ...) to a message or signal that does not exist is an error of
//   its line; the reference is ignored.
class KAVRI_EXPORT KvDbcDatabase
{
public:
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;
    static constexpr int MaxErrors = 1000;

    // Replaces the content with the file's. True when the file was read without any error; false
    // when it could not be read or had errors (what could be read is loaded even then).
    bool load(const QString &fileName);
    bool loadData(const QByteArray &data);
    void clear();

    const QVector<KvDbcError> &errors() const { return errorList; }
    // "line 12: signal length 0 is out of range (1 to 64)", one error a line.
    QString errorString() const;

    QString version() const { return versionText; }
    QString comment() const { return databaseComment; }
    const QVector<KvDbcNode> &nodes() const { return nodeList; }
    const QVector<KvDbcMessage> &messages() const { return messageList; }
    const QMap<QString, QVector<KvDbcValueName>> &valueTables() const { return tables; }
    const QVector<KvDbcAttributeDefinition> &attributeDefinitions() const { return definitions; }
    const QMap<QString, QString> &attributes() const { return databaseAttributes; }
    // Signals of every message; message m's signal s is number messages()[m].firstSignal + s.
    int signalCount() const { return totalSignals; }

    // The message a received frame belongs to, or -1.
    int messageIndex(quint32 id, bool extended) const;
    int messageIndex(const QString &name) const;
    int signalIndex(int message, const QString &name) const;
    // The parameter group number of a 29-bit identifier:
    //   0x18FEF100 -> 0xFEF1 (PDU2, PS kept); 0x0CF00400 -> 0xF004; 0x18EA00F9 -> 0xEA00 (PDU1)
    static quint32 pgnOf(quint32 id);

    // Decodes `length` bytes as message `message`; false for an unknown message index. `out`
    // gets one entry per signal of the message.
    bool decode(int message, const quint8 *data, int length, QVector<KvDbcValue> &out) const;
    // Finds the frame's message and decodes it; the message index or -1 (remote frames: -1).
    int decode(const VCI_CAN_OBJ &frame, QVector<KvDbcValue> &out) const;
    // The value-table text of a decoded value; empty when there is none.
    QString label(int message, int signal, const KvDbcValue &value) const;

    // Physical value of a text: a number, or a name of the signal's value table.
    bool physicalOf(int message, int signal, const QString &text, double &physical) const;
    // Writes one signal into `data` (`length` bytes), leaving the other bits as they are. False,
    // with a reason, when the value does not fit the signal or the frame is too short for it.
    bool encodeSignal(int message, int signal, double physical, quint8 *data, int length,
                      QString *error = nullptr) const;
    // Builds a payload of the message's size from NAME=VALUE pairs (values as physicalOf() reads
    // them), starting from `payload` when it already has that size, from zeros otherwise. A
    // multiplexed signal whose selector is not given sets the selector to its first value.
    bool encode(int message, const QList<QPair<QString, QString>> &assignments, QByteArray &payload,
                QString &error) const;

private:
    friend class kavri::detail::DbcParser;

    static quint32 key(quint32 id, bool extended) { return id | (extended ? 0x80000000u : 0u); }
    void finish();

    QString versionText;
    QString databaseComment;
    QVector<KvDbcNode> nodeList;
    QVector<KvDbcMessage> messageList;
    QMap<QString, QVector<KvDbcValueName>> tables;
    QVector<KvDbcAttributeDefinition> definitions;
    QMap<QString, QString> databaseAttributes;
    QVector<KvDbcError> errorList;
    QHash<quint32, int> byId;   // key(id, extended) -> message
    QHash<quint32, int> byPgn;  // parameter group number -> J1939 message
    QHash<QString, int> byName; // message name -> message
    int totalSignals = 0;
};

#endif // KVDBCDATABASE_H
