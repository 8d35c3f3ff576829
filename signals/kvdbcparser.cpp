#include "kvdbcparser_p.h"

#include <QtCore/QSet>

#include <charconv>
#include <cmath>

namespace kavri {
namespace detail {

namespace {

bool isPunct(QChar c)
{
    switch (c.unicode()) {
    case ':':
    case ';':
    case '|':
    case '@':
    case '(':
    case ')':
    case '[':
    case ']':
    case ',':
        return true;
    default:
        return false;
    }
}

// Every statement keyword of the format, used or not: a keyword at the start of a line begins a
// statement, which is where reading resumes after a faulty or unknown one.
const QSet<QString> &keywords()
{
    static const QSet<QString> set = {
        QStringLiteral("VERSION"),
        QStringLiteral("NS_"),
        QStringLiteral("BS_"),
        QStringLiteral("BU_"),
        QStringLiteral("BO_"),
        QStringLiteral("SG_"),
        QStringLiteral("EV_"),
        QStringLiteral("ENVVAR_DATA_"),
        QStringLiteral("VAL_"),
        QStringLiteral("VAL_TABLE_"),
        QStringLiteral("CM_"),
        QStringLiteral("BA_DEF_"),
        QStringLiteral("BA_DEF_DEF_"),
        QStringLiteral("BA_"),
        QStringLiteral("BA_DEF_REL_"),
        QStringLiteral("BA_REL_"),
        QStringLiteral("BA_DEF_DEF_REL_"),
        QStringLiteral("BA_DEF_SGTYPE_"),
        QStringLiteral("BA_SGTYPE_"),
        QStringLiteral("SIG_VALTYPE_"),
        QStringLiteral("SIGTYPE_VALTYPE_"),
        QStringLiteral("SIG_TYPE_REF_"),
        QStringLiteral("SIG_GROUP_"),
        QStringLiteral("SGTYPE_"),
        QStringLiteral("SGTYPE_VAL_"),
        QStringLiteral("BO_TX_BU_"),
        QStringLiteral("SG_MUL_VAL_"),
        QStringLiteral("BU_SG_REL_"),
        QStringLiteral("BU_EV_REL_"),
        QStringLiteral("BU_BO_REL_"),
        QStringLiteral("CAT_DEF_"),
        QStringLiteral("CAT_"),
        QStringLiteral("FILTER"),
        QStringLiteral("EV_DATA_"),
        QStringLiteral("NS_DESC_"),
        QStringLiteral("VECTOR__INDEPENDENT_SIG_MSG"),
    };
    return set;
}

} // namespace

DbcParser::DbcParser(KvDbcDatabase &db) : db(db) {}

// Where a reading went wrong: "before 'text'" or "at the end of the file".
static QString place(const QString &text, bool end)
{
    return end ? QStringLiteral("at the end of the file")
               : QStringLiteral("before '%1'").arg(text.left(40));
}

void DbcParser::error(int at, const QString &message)
{
    if (db.errorList.size() < KvDbcDatabase::MaxErrors)
        db.errorList.append({at, message});
    else if (db.errorList.size() == KvDbcDatabase::MaxErrors)
        db.errorList.append({at, QStringLiteral("further errors are not listed")});
}

DbcParser::Token DbcParser::lex()
{
    Token t;
    const int n = text.size();
    const QChar *s = text.constData();
    for (;;) {
        while (pos < n && s[pos].isSpace()) {
            if (s[pos] == QLatin1Char('\n')) {
                ++line;
                atLineStart = true;
            }
            ++pos;
        }
        // "//" comment lines, which some writers add, run to the end of the line.
        if (pos + 1 < n && s[pos] == QLatin1Char('/') && s[pos + 1] == QLatin1Char('/')) {
            while (pos < n && s[pos] != QLatin1Char('\n'))
                ++pos;
            continue;
        }
        break;
    }
    t.line = line;
    t.lineStart = atLineStart;
    atLineStart = false;
    if (pos >= n)
        return t;
    const QChar c = s[pos];
    if (c == QLatin1Char('"')) {
        t.kind = Token::String;
        ++pos;
        int from = pos;
        while (pos < n && s[pos] != QLatin1Char('"')) {
            if (s[pos] == QLatin1Char('\\') && pos + 1 < n) {
                t.text.append(s + from, pos - from);
                ++pos;
                from = pos;
            }
            if (s[pos] == QLatin1Char('\n'))
                ++line;
            ++pos;
        }
        t.text.append(s + from, pos - from);
        if (pos >= n)
            error(t.line, QStringLiteral("string is not closed"));
        else
            ++pos;
        return t;
    }
    if (isPunct(c)) {
        t.kind = Token::Punct;
        t.text = c;
        ++pos;
        return t;
    }
    t.kind = Token::Word;
    const int from = pos;
    while (pos < n && !s[pos].isSpace() && !isPunct(s[pos]) && s[pos] != QLatin1Char('"'))
        ++pos;
    t.text = QString(s + from, pos - from);
    return t;
}

DbcParser::Token DbcParser::next()
{
    if (hasPeek) {
        hasPeek = false;
        last = peeked;
    } else {
        last = lex();
    }
    return last;
}

const DbcParser::Token &DbcParser::peek()
{
    if (!hasPeek) {
        peeked = lex();
        hasPeek = true;
    }
    return peeked;
}

bool DbcParser::isKeyword(const Token &t) const
{
    // Every keyword but VERSION and FILTER ends in '_'; the test spares most names and all
    // numbers the hash.
    if (t.kind != Token::Word || t.text.isEmpty())
        return false;
    const QChar last = t.text.at(t.text.size() - 1);
    if (last != QLatin1Char('_') && last != QLatin1Char('N') && last != QLatin1Char('R'))
        return false;
    return keywords().contains(t.text);
}

void DbcParser::skipStatement()
{
    for (;;) {
        const Token &t = peek();
        if (t.kind == Token::End || isStatementStart(t))
            return;
        next();
        if (t.kind == Token::Punct && t.text == QLatin1String(";"))
            return;
    }
}

void DbcParser::skipLine(int at)
{
    while (peek().kind != Token::End && !peek().lineStart && peek().line == at)
        next();
}

bool DbcParser::punct(char c)
{
    const Token t = next();
    if (t.kind == Token::Punct && t.text.at(0) == QLatin1Char(c))
        return true;
    error(t.line, QStringLiteral("'%1' expected %2")
                      .arg(QLatin1Char(c))
                      .arg(place(t.text, t.kind == Token::End)));
    return false;
}

bool DbcParser::word(QString &out)
{
    const Token t = next();
    if (t.kind == Token::Word && !(t.lineStart && isKeyword(t))) {
        out = t.text;
        return true;
    }
    error(t.line, QStringLiteral("name expected %1").arg(place(t.text, t.kind == Token::End)));
    return false;
}

bool DbcParser::string(QString &out)
{
    const Token t = next();
    if (t.kind == Token::String) {
        out = t.text;
        return true;
    }
    error(t.line,
          QStringLiteral("quoted text expected %1").arg(place(t.text, t.kind == Token::End)));
    return false;
}

// Numbers are read with std::from_chars: independent of the process's locale (a host that set a
// decimal comma must not change what "0.5" means) and several times faster than the locale-aware
// readers, which matters for files of many thousand signals.
template <typename T> static bool parseNumber(const QString &text, T &out)
{
    char buffer[64];
    int n = text.size();
    if (n == 0 || n >= int(sizeof buffer))
        return false;
    const QChar *s = text.constData();
    int from = s[0] == QLatin1Char('+') ? 1 : 0;
    for (int i = from; i < n; ++i) {
        const ushort c = s[i].unicode();
        if (c > 127)
            return false;
        buffer[i - from] = char(c);
    }
    n -= from;
    const auto result = std::from_chars(buffer, buffer + n, out);
    return result.ec == std::errc() && result.ptr == buffer + n;
}

bool DbcParser::number(double &out)
{
    const Token t = next();
    bool ok = false;
    if (t.kind == Token::Word)
        ok = parseNumber(t.text, out);
    if (!ok) {
        error(t.line,
              QStringLiteral("number expected %1").arg(place(t.text, t.kind == Token::End)));
        return false;
    }
    if (!std::isfinite(out)) {
        error(t.line, QStringLiteral("'%1' is not a finite number").arg(t.text.left(40)));
        return false;
    }
    return true;
}

bool DbcParser::integer(qint64 &out)
{
    const Token t = next();
    bool ok = false;
    if (t.kind == Token::Word)
        out = t.text.toLongLong(&ok);
    if (!ok) {
        error(t.line,
              QStringLiteral("integer expected %1").arg(place(t.text, t.kind == Token::End)));
        return false;
    }
    return true;
}

// A message's number as the file writes it: bit 31 marks an extended identifier.
bool DbcParser::messageNumber(quint32 &key)
{
    qint64 value = 0;
    if (!integer(value))
        return false;
    if (value < 0 || value > 0xFFFFFFFFll) {
        error(last.line, QStringLiteral("message number %1 is out of range").arg(value));
        return false;
    }
    key = quint32(value);
    return true;
}

bool DbcParser::endOfStatement()
{
    // Some writers leave out the ";" of the last statement on a line; the next statement
    // begins all the same.
    const Token &t = peek();
    if (t.kind == Token::End || isStatementStart(t))
        return true;
    return punct(';');
}

void DbcParser::parse(const QString &source)
{
    text = source;
    if (text.startsWith(QChar(0xFEFF)))
        pos = 1;
    for (;;) {
        const Token t = next();
        if (t.kind == Token::End)
            break;
        if (!isKeyword(t)) {
            error(t.line, QStringLiteral("unexpected '%1'").arg(t.text.left(40)));
            skipStatement();
            continue;
        }
        const int before = db.errorList.size();
        if (!parseStatement(t)) {
            if (db.errorList.size() == before)
                error(t.line, QStringLiteral("%1 statement cannot be read").arg(t.text));
            skipStatement();
        }
    }
    applyPending();
}

bool DbcParser::parseStatement(const Token &keyword)
{
    const QString &k = keyword.text;
    const int at = keyword.line;
    if (k != QLatin1String("SG_")) {
        // Signals follow their message directly; anything else ends the message.
        current = -1;
        skippingMessage = false;
    }
    if (k == QLatin1String("VERSION"))
        return string(db.versionText);
    if (k == QLatin1String("NS_")) {
        // The list of new symbols: keywords one a line, up to the next real statement.
        while (peek().kind != Token::End) {
            const QString &w = peek().text;
            if (peek().lineStart && (w == QLatin1String("BS_") || w == QLatin1String("BU_") ||
                                     w == QLatin1String("BO_")))
                break;
            next();
        }
        return true;
    }
    if (k == QLatin1String("BS_")) {
        skipLine(at);
        return true;
    }
    if (k == QLatin1String("BU_"))
        return parseNodes();
    if (k == QLatin1String("BO_"))
        return parseMessage(at);
    if (k == QLatin1String("SG_"))
        return parseSignal(at);
    if (k == QLatin1String("CM_"))
        return parseComment(at);
    if (k == QLatin1String("VAL_TABLE_"))
        return parseValueTable(at);
    if (k == QLatin1String("VAL_"))
        return parseValues(at);
    if (k == QLatin1String("BA_DEF_"))
        return parseAttributeDefinition(at);
    if (k == QLatin1String("BA_DEF_DEF_"))
        return parseAttributeDefault(at);
    if (k == QLatin1String("BA_"))
        return parseAttribute(at);
    if (k == QLatin1String("SIG_VALTYPE_"))
        return parseValueType(at);
    if (k == QLatin1String("BO_TX_BU_"))
        return parseTransmitters(at);
    if (k == QLatin1String("SG_MUL_VAL_"))
        return parseMuxValues(at);
    skipStatement(); // statements the database does not use
    return true;
}

// BU_: Engine Gateway Dashboard
bool DbcParser::parseNodes()
{
    if (!punct(':'))
        return false;
    while (peek().kind == Token::Word && !peek().lineStart) {
        KvDbcNode node;
        node.name = next().text;
        db.nodeList.append(node);
    }
    return true;
}

// BO_ 100 EngineData: 8 Engine
bool DbcParser::parseMessage(int at)
{
    KvDbcMessage m;
    quint32 number = 0;
    qint64 size = 0;
    if (!messageNumber(number) || !word(m.name) || !punct(':') || !integer(size) ||
        !word(m.transmitter)) {
        skippingMessage = true;
        return false;
    }
    m.line = at;
    m.extended = number & 0x80000000u;
    m.id = number & 0x7FFFFFFFu;
    current = -1;
    skippingMessage = true; // until the message is accepted
    if (size < 0 || size > 8) {
        error(at, QStringLiteral("message %1 is %2 bytes long; at most 8 are supported")
                      .arg(m.name)
                      .arg(size));
        return true;
    }
    m.size = int(size);
    if (messageAt.contains(number)) {
        error(at, QStringLiteral("message ID %1 is defined twice (first on line %2)")
                      .arg(number)
                      .arg(db.messageList.at(messageAt.value(number)).line));
        return true;
    }
    if (messageNamed.contains(m.name)) {
        error(at, QStringLiteral("message name %1 is defined twice (first on line %2)")
                      .arg(m.name)
                      .arg(db.messageList.at(messageNamed.value(m.name)).line));
        return true;
    }
    current = db.messageList.size();
    skippingMessage = false;
    messageAt.insert(number, current);
    messageNamed.insert(m.name, current);
    db.messageList.append(m);
    signalAt.append(QHash<QString, int>());
    return true;
}

//  SG_ EngSpeed m3 : 24|16@1+ (0.25,0) [0|16383.75] "rpm" Gateway,Dashboard
bool DbcParser::parseSignal(int at)
{
    KvDbcSignal s;
    s.line = at;
    if (!word(s.name))
        return false;
    if (peek().kind == Token::Word) {
        // Multiplexing: "M" (selector), "m3" (selected by 3), "m3M" (both, in a cascade).
        QString mux = next().text;
        if (mux.endsWith(QLatin1Char('M'))) {
            s.isMultiplexer = true;
            mux.chop(1);
        }
        if (!mux.isEmpty()) {
            bool ok = false;
            const qint64 value = mux.startsWith(QLatin1Char('m')) ? mux.mid(1).toLongLong(&ok) : 0;
            if (!ok || value < 0) {
                error(at, QStringLiteral("multiplexer mark '%1' cannot be read").arg(mux.left(40)));
                return false;
            }
            s.multiplexValues.append({value, value});
        }
    }
    qint64 start = 0, length = 0;
    QString order;
    double limits[2] = {0, 0};
    if (!punct(':') || !integer(start) || !punct('|') || !integer(length) || !punct('@') ||
        !word(order))
        return false;
    // "1+" normally; "1" "+" where a writer put a blank between them.
    if (order.size() == 1 && peek().kind == Token::Word &&
        (peek().text == QLatin1String("+") || peek().text == QLatin1String("-")))
        order += next().text;
    if (order.size() != 2 || (order[0] != QLatin1Char('0') && order[0] != QLatin1Char('1')) ||
        (order[1] != QLatin1Char('+') && order[1] != QLatin1Char('-'))) {
        error(at, QStringLiteral("byte order and sign '%1' cannot be read").arg(order.left(40)));
        return false;
    }
    s.bigEndian = order[0] == QLatin1Char('0');
    s.isSigned = order[1] == QLatin1Char('-');
    if (!punct('(') || !number(s.factor) || !punct(',') || !number(s.offset) || !punct(')') ||
        !punct('[') || !number(limits[0]) || !punct('|') || !number(limits[1]) || !punct(']') ||
        !string(s.unit))
        return false;
    s.minimum = limits[0];
    s.maximum = limits[1];
    // Receivers: the rest of the line, separated by commas or blanks.
    while (peek().kind != Token::End && !peek().lineStart) {
        const Token t = next();
        if (t.kind == Token::Word)
            s.receivers.append(t.text);
    }
    if (skippingMessage)
        return true; // its message was reported already
    if (current < 0) {
        error(at, QStringLiteral("signal %1 does not follow a message").arg(s.name));
        return true;
    }
    if (start < 0 || start > 63) {
        error(at, QStringLiteral("start bit %1 of signal %2 is out of range (0 to 63)")
                      .arg(start)
                      .arg(s.name));
        return true;
    }
    if (length < 1 || length > 64) {
        error(at, QStringLiteral("length %1 of signal %2 is out of range (1 to 64)")
                      .arg(length)
                      .arg(s.name));
        return true;
    }
    if (s.factor == 0) {
        error(at, QStringLiteral("factor of signal %1 is 0").arg(s.name));
        return true;
    }
    s.startBit = int(start);
    s.length = int(length);
    QHash<QString, int> &names = signalAt[current];
    KvDbcMessage &m = db.messageList[current];
    if (names.contains(s.name)) {
        error(at, QStringLiteral("signal %1 of message %2 is defined twice (first on line %3)")
                      .arg(s.name, m.name)
                      .arg(m.signalList.at(names.value(s.name)).line));
        return true;
    }
    names.insert(s.name, m.signalList.size());
    m.signalList.append(s);
    return true;
}

// CM_ "database";  CM_ BU_ Engine "node";  CM_ BO_ 100 "message";  CM_ SG_ 100 Speed "signal";
bool DbcParser::parseComment(int at)
{
    Pending p{at, QStringLiteral("CM_"), 0, {}, {}, {}, {}, {}};
    if (peek().kind == Token::String) {
        string(db.databaseComment);
        return endOfStatement();
    }
    QString object;
    if (!word(object))
        return false;
    p.words << object;
    if (object == QLatin1String("BU_") || object == QLatin1String("EV_")) {
        if (!word(p.signal))
            return false;
    } else if (object == QLatin1String("BO_")) {
        if (!messageNumber(p.messageKey))
            return false;
    } else if (object == QLatin1String("SG_")) {
        if (!messageNumber(p.messageKey) || !word(p.signal))
            return false;
    } else {
        error(at, QStringLiteral("comment on unknown object '%1'").arg(object.left(40)));
        return false;
    }
    if (!string(p.text) || !endOfStatement())
        return false;
    if (object != QLatin1String("EV_"))
        pending.append(p);
    return true;
}

// 0 "Off" 1 "On" up to ";"
bool DbcParser::parseValuePairs(QVector<KvDbcValueName> &values)
{
    for (;;) {
        const Token &t = peek();
        if ((t.kind == Token::Punct && t.text == QLatin1String(";")) || t.kind == Token::End ||
            isStatementStart(t))
            return endOfStatement();
        KvDbcValueName v;
        double value = 0;
        if (!number(value) || !string(v.name))
            return false;
        if (value != std::floor(value) || std::fabs(value) > 9.2e18) {
            error(last.line,
                  QStringLiteral("value %1 of a value table is not an integer").arg(value));
            return false;
        }
        v.value = qint64(value);
        values.append(v);
    }
}

// VAL_TABLE_ Switch 0 "Off" 1 "On" ;
bool DbcParser::parseValueTable(int)
{
    QString name;
    QVector<KvDbcValueName> values;
    if (!word(name) || !parseValuePairs(values))
        return false;
    db.tables.insert(name, values);
    return true;
}

// VAL_ 100 Gear 0 "P" 1 "R" ;   (VAL_ of an environment variable has no number and is skipped)
bool DbcParser::parseValues(int at)
{
    Pending p{at, QStringLiteral("VAL_"), 0, {}, {}, {}, {}, {}};
    if (peek().kind == Token::Word && !peek().text.isEmpty() && !peek().text.at(0).isDigit()) {
        skipStatement();
        return true;
    }
    if (!messageNumber(p.messageKey) || !word(p.signal))
        return false;
    // A signal may name a VAL_TABLE_ instead of listing values.
    if (peek().kind == Token::Word && !peek().text.at(0).isDigit() &&
        peek().text.at(0) != QLatin1Char('-')) {
        const QString table = next().text;
        if (!db.tables.contains(table)) {
            error(at, QStringLiteral("value table %1 is not defined").arg(table.left(40)));
            return false;
        }
        p.values = db.tables.value(table);
        endOfStatement();
    } else if (!parseValuePairs(p.values)) {
        return false;
    }
    pending.append(p);
    return true;
}

// BA_DEF_ BO_ "GenMsgCycleTime" INT 0 65535;   BA_DEF_ "BusType" STRING;
// BA_DEF_ BO_ "VFrameFormat" ENUM "StandardCAN","ExtendedCAN","reserved","J1939PG";
bool DbcParser::parseAttributeDefinition(int)
{
    KvDbcAttributeDefinition d;
    if (peek().kind == Token::Word) {
        d.object = next().text;
        if (d.object != QLatin1String("BU_") && d.object != QLatin1String("BO_") &&
            d.object != QLatin1String("SG_") && d.object != QLatin1String("EV_")) {
            error(last.line,
                  QStringLiteral("attribute of unknown object '%1'").arg(d.object.left(40)));
            return false;
        }
    }
    if (!string(d.name) || !word(d.type))
        return false;
    if (d.type == QLatin1String("ENUM")) {
        while (peek().kind == Token::String || peek().text == QLatin1String(",")) {
            const Token t = next();
            if (t.kind == Token::String)
                d.enumValues.append(t.text);
        }
    } else if (d.type == QLatin1String("INT") || d.type == QLatin1String("HEX") ||
               d.type == QLatin1String("FLOAT")) {
        double lo = 0, hi = 0;
        if (!number(lo) || !number(hi))
            return false;
    } else if (d.type != QLatin1String("STRING")) {
        error(last.line, QStringLiteral("attribute type '%1' is unknown").arg(d.type.left(40)));
        return false;
    }
    if (!endOfStatement())
        return false;
    for (KvDbcAttributeDefinition &old : db.definitions) {
        if (old.name == d.name) {
            d.defaultValue = old.defaultValue;
            old = d;
            return true;
        }
    }
    db.definitions.append(d);
    return true;
}

// BA_DEF_DEF_ "GenMsgCycleTime" 100;
bool DbcParser::parseAttributeDefault(int at)
{
    QString name;
    if (!string(name))
        return false;
    const Token value = next();
    if (value.kind != Token::Word && value.kind != Token::String) {
        error(value.line, QStringLiteral("attribute value expected"));
        return false;
    }
    if (!endOfStatement())
        return false;
    for (KvDbcAttributeDefinition &d : db.definitions) {
        if (d.name == name) {
            d.defaultValue = value.text;
            return true;
        }
    }
    error(at, QStringLiteral("default of undefined attribute %1").arg(name.left(40)));
    return true;
}

// BA_ "GenMsgCycleTime" BO_ 100 50;   BA_ "SPN" SG_ 100 Speed 190;   BA_ "BusType" "CAN";
bool DbcParser::parseAttribute(int at)
{
    Pending p{at, QStringLiteral("BA_"), 0, {}, {}, {}, {}, {}};
    QString name, object;
    if (!string(name))
        return false;
    if (peek().kind == Token::Word &&
        (peek().text == QLatin1String("BU_") || peek().text == QLatin1String("BO_") ||
         peek().text == QLatin1String("SG_") || peek().text == QLatin1String("EV_"))) {
        object = next().text;
        if (object == QLatin1String("BO_")) {
            if (!messageNumber(p.messageKey))
                return false;
        } else if (object == QLatin1String("SG_")) {
            if (!messageNumber(p.messageKey) || !word(p.signal))
                return false;
        } else if (!word(p.signal)) {
            return false;
        }
    }
    const Token value = next();
    if (value.kind != Token::Word && value.kind != Token::String) {
        error(value.line, QStringLiteral("attribute value expected"));
        return false;
    }
    if (!endOfStatement())
        return false;
    p.words << name << object;
    p.text = value.text;
    if (object.isEmpty())
        db.databaseAttributes.insert(name, value.text);
    else if (object != QLatin1String("EV_"))
        pending.append(p);
    return true;
}

// SIG_VALTYPE_ 100 Temperature : 1;
bool DbcParser::parseValueType(int at)
{
    Pending p{at, QStringLiteral("SIG_VALTYPE_"), 0, {}, {}, {}, {}, {}};
    if (!messageNumber(p.messageKey) || !word(p.signal))
        return false;
    if (peek().kind == Token::Punct && peek().text == QLatin1String(":"))
        next();
    qint64 type = 0;
    if (!integer(type) || !endOfStatement())
        return false;
    if (type < 0 || type > 2) {
        error(at, QStringLiteral("value type %1 is unknown").arg(type));
        return true;
    }
    p.text = QString::number(type);
    pending.append(p);
    return true;
}

// BO_TX_BU_ 100 : Engine,Gateway;
bool DbcParser::parseTransmitters(int at)
{
    Pending p{at, QStringLiteral("BO_TX_BU_"), 0, {}, {}, {}, {}, {}};
    if (!messageNumber(p.messageKey) || !punct(':'))
        return false;
    for (;;) {
        const Token t = next();
        if (t.kind == Token::Punct && t.text == QLatin1String(";"))
            break;
        if (t.kind == Token::Word)
            p.words.append(t.text);
        else if (!(t.kind == Token::Punct && t.text == QLatin1String(","))) {
            error(t.line, QStringLiteral("node name expected"));
            return false;
        }
    }
    pending.append(p);
    return true;
}

// SG_MUL_VAL_ 100 Detail Selector 1-1, 4-7;
bool DbcParser::parseMuxValues(int at)
{
    Pending p{at, QStringLiteral("SG_MUL_VAL_"), 0, {}, {}, {}, {}, {}};
    QString selector;
    if (!messageNumber(p.messageKey) || !word(p.signal) || !word(selector))
        return false;
    p.words << selector;
    for (;;) {
        const Token t = next();
        if (t.kind == Token::Punct && t.text == QLatin1String(";"))
            break;
        if (t.kind == Token::Punct && t.text == QLatin1String(","))
            continue;
        const QStringList bounds = t.text.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = false;
        const KvDbcMuxRange r{bounds.value(0).toLongLong(&ok1), bounds.value(1).toLongLong(&ok2)};
        if (t.kind != Token::Word || bounds.size() != 2 || !ok1 || !ok2 || r.low > r.high ||
            r.low < 0) {
            error(t.line, QStringLiteral("value range '%1' cannot be read").arg(t.text.left(40)));
            return false;
        }
        p.ranges.append(r);
    }
    pending.append(p);
    return true;
}

KvDbcMessage *DbcParser::messageOf(const Pending &p)
{
    const int m = messageAt.value(p.messageKey, -1);
    if (m < 0) {
        error(p.line, QStringLiteral("%1 names message %2, which is not defined")
                          .arg(p.keyword)
                          .arg(p.messageKey));
        return nullptr;
    }
    return &db.messageList[m];
}

KvDbcSignal *DbcParser::signalOf(const Pending &p)
{
    const int m = messageAt.value(p.messageKey, -1);
    const int s = m < 0 ? -1 : signalAt.at(m).value(p.signal, -1);
    if (s < 0) {
        error(p.line, QStringLiteral("%1 names signal %2 of message %3, which is not defined")
                          .arg(p.keyword, p.signal.left(40))
                          .arg(p.messageKey));
        return nullptr;
    }
    return &db.messageList[m].signalList[s];
}

void DbcParser::applyPending()
{
    QHash<QString, int> nodeAt;
    for (int i = 0; i < db.nodeList.size(); ++i)
        nodeAt.insert(db.nodeList.at(i).name, i);
    for (const Pending &p : qAsConst(pending)) {
        const QString object = p.words.value(p.keyword == QLatin1String("BA_") ? 1 : 0);
        if (p.keyword == QLatin1String("CM_") || p.keyword == QLatin1String("BA_")) {
            const bool comment = p.keyword == QLatin1String("CM_");
            const QString attribute = p.words.value(0);
            if (object == QLatin1String("BU_")) {
                const int n = nodeAt.value(p.signal, -1);
                if (n < 0) {
                    error(p.line, QStringLiteral("%1 names node %2, which is not defined")
                                      .arg(p.keyword, p.signal.left(40)));
                } else if (comment) {
                    db.nodeList[n].comment = p.text;
                } else {
                    db.nodeList[n].attributes.insert(attribute, p.text);
                }
            } else if (object == QLatin1String("BO_")) {
                if (KvDbcMessage *m = messageOf(p)) {
                    if (comment)
                        m->comment = p.text;
                    else
                        m->attributes.insert(attribute, p.text);
                }
            } else if (KvDbcSignal *s = signalOf(p)) {
                if (comment)
                    s->comment = p.text;
                else
                    s->attributes.insert(attribute, p.text);
            }
        } else if (p.keyword == QLatin1String("VAL_")) {
            if (KvDbcSignal *s = signalOf(p))
                s->valueNames = p.values;
        } else if (p.keyword == QLatin1String("SIG_VALTYPE_")) {
            if (KvDbcSignal *s = signalOf(p))
                s->valueType = KvDbcSignal::ValueType(p.text.toInt());
        } else if (p.keyword == QLatin1String("BO_TX_BU_")) {
            if (KvDbcMessage *m = messageOf(p))
                m->transmitters = p.words;
        } else if (p.keyword == QLatin1String("SG_MUL_VAL_")) {
            KvDbcSignal *s = signalOf(p);
            const int m = messageAt.value(p.messageKey, -1);
            const int selector = m < 0 ? -1 : signalAt.at(m).value(p.words.value(0), -1);
            if (s && selector < 0) {
                error(p.line, QStringLiteral("SG_MUL_VAL_ names selector %1, which is not defined")
                                  .arg(p.words.value(0).left(40)));
            } else if (s) {
                s->multiplexer = selector;
                s->multiplexValues = p.ranges;
            }
        }
    }
    pending.clear();
}

} // namespace detail
} // namespace kavri
