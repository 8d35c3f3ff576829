// Internal to the library: the DBC statement reader behind KvDbcDatabase; not installed.
#ifndef KVDBCPARSER_P_H
#define KVDBCPARSER_P_H

#include "kvdbcdatabase.h"

#include <QtCore/QHash>
#include <QtCore/QString>

namespace kavri {
namespace detail {

// Reads the text of a DBC file into a database, statement by statement. A statement that cannot
// be read is reported with its line and skipped up to its ";" or the next statement, so one bad
// line costs only itself. References between statements (CM_, VAL_, BA_, SIG_VALTYPE_,
// SG_MUL_VAL_ naming a message or signal) are kept aside and applied once every message is known,
// since files put them anywhere.
//
// Tokens: words (runs of anything but blanks, quotes and ":;|@()[],"), strings in double quotes
// with backslash escapes, and those punctuation characters one at a time.
//   SG_ Gear m2 : 7|4@0- (0.5,-1) [0|7] "" A,B
//   -> SG_ Gear m2 : 7 | 4 @ 0- ( 0.5 , -1 ) [ 0 | 7 ] "" A , B
class DbcParser
{
public:
    explicit DbcParser(KvDbcDatabase &db);
    // Fills the database from `text`; the database's finish() then computes layouts and indexes.
    void parse(const QString &text);

private:
    struct Token
    {
        enum Kind { End, Word, String, Punct } kind = End;
        QString text;
        int line = 0;
        bool lineStart = false; // first token of its line
    };
    struct Pending
    {
        int line;
        QString keyword;
        quint32 messageKey;
        QString signal;
        QStringList words; // the statement's further content, per statement kind
        QString text;
        QVector<KvDbcValueName> values;
        QVector<KvDbcMuxRange> ranges;
    };

    Token next();
    const Token &peek();
    Token lex();
    bool isKeyword(const Token &t) const;
    bool isStatementStart(const Token &t) const { return t.lineStart && isKeyword(t); }
    void skipStatement();
    void skipLine(int line);
    void error(int line, const QString &message);

    bool punct(char c);
    bool word(QString &out);
    bool string(QString &out);
    bool number(double &out);
    bool integer(qint64 &out);
    bool messageNumber(quint32 &key);
    bool endOfStatement();

    bool parseStatement(const Token &keyword);
    bool parseNodes();
    bool parseMessage(int line);
    bool parseSignal(int line);
    bool parseComment(int line);
    bool parseValueTable(int line);
    bool parseValues(int line);
    bool parseAttributeDefinition(int line);
    bool parseAttributeDefault(int line);
    bool parseAttribute(int line);
    bool parseValueType(int line);
    bool parseTransmitters(int line);
    bool parseMuxValues(int line);
    bool parseValuePairs(QVector<KvDbcValueName> &values);

    void applyPending();
    KvDbcMessage *messageOf(const Pending &p);
    KvDbcSignal *signalOf(const Pending &p);

    KvDbcDatabase &db;
    QString text;
    int pos = 0;
    int line = 1;
    bool atLineStart = true;
    bool hasPeek = false;
    Token peeked;
    Token last; // the token next() returned last

    int current = -1;              // message receiving SG_ lines; -1: none
    bool skippingMessage = false;  // the current BO_ was left out: its SG_ lines go too
    QHash<quint32, int> messageAt; // key(id, extended) -> message
    QHash<QString, int> messageNamed;
    QVector<QHash<QString, int>> signalAt; // per message: signal name -> index
    QVector<Pending> pending;
};

} // namespace detail
} // namespace kavri

#endif // KVDBCPARSER_P_H
