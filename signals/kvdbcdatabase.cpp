#include "kvdbcdatabase.h"

#include "kvdbcparser_p.h"

#include <QtCore/QFile>
#include <QtCore/QTextCodec>
#include <QtCore/QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The enumeration of VFrameFormat as files define it, for a file that uses the attribute without
// defining it.
const char *const StandardFrameFormats[] = {"StandardCAN", "ExtendedCAN", "reserved", "J1939PG"};

// Where the signal's bits lie in the eight bytes read as one 64-bit word. False for a signal that
// reaches past the eighth byte.
//   Intel "8|12@1":    bits 8..19 of the little-endian word: shift 8, bytes 1 and 2 needed
//   Motorola "7|16@0": bit 7 of byte 0 is the most significant bit of the big-endian word, so the
//                      signal is its top 16 bits: shift 48, bytes 0 and 1 needed
bool computeLayout(KvDbcSignal &s)
{
    s.mask = s.length == 64 ? ~quint64(0) : (quint64(1) << s.length) - 1;
    if (!s.bigEndian) {
        if (s.startBit + s.length > 64)
            return false;
        s.shift = s.startBit;
        s.minBytes = (s.startBit + s.length - 1) / 8 + 1;
        return true;
    }
    // Position counted from the most significant bit of byte 0 of the big-endian word.
    const int msb = (s.startBit / 8) * 8 + (7 - s.startBit % 8);
    const int lsb = msb + s.length - 1;
    if (lsb > 63)
        return false;
    s.shift = 63 - lsb;
    s.minBytes = lsb / 8 + 1;
    return true;
}

bool inRanges(const QVector<KvDbcMuxRange> &ranges, qint64 value)
{
    for (const KvDbcMuxRange &r : ranges) {
        if (value >= r.low && value <= r.high)
            return true;
    }
    return false;
}

QString attributeValue(const KvDbcDatabase &db, const QMap<QString, QString> &attributes,
                       const QString &name, const KvDbcAttributeDefinition **definition)
{
    *definition = nullptr;
    for (const KvDbcAttributeDefinition &d : db.attributeDefinitions()) {
        if (d.name == name)
            *definition = &d;
    }
    const auto it = attributes.find(name);
    if (it != attributes.end())
        return it.value();
    return *definition ? (*definition)->defaultValue : QString();
}

} // namespace

bool KvDbcDatabase::load(const QString &fileName)
{
    clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        errorList.append(
            {0, QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString())});
        return false;
    }
    if (file.size() > MaxFileSize) {
        errorList.append({0, QStringLiteral("%1 is larger than %2 MiB")
                                 .arg(fileName)
                                 .arg(MaxFileSize / (1024 * 1024))});
        return false;
    }
    // A file that grows while it is read is cut at the limit and reported by the parse.
    return loadData(file.read(MaxFileSize + 1));
}

bool KvDbcDatabase::loadData(const QByteArray &data)
{
    clear();
    if (data.size() > MaxFileSize) {
        errorList.append({0, QStringLiteral("the database is larger than %1 MiB")
                                 .arg(MaxFileSize / (1024 * 1024))});
        return false;
    }
    // UTF-8 when the bytes are valid UTF-8; otherwise Windows-1252, the code page older writers
    // use, which maps every byte to a character.
    QTextCodec::ConverterState state;
    QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        text = QTextCodec::codecForName("Windows-1252")->toUnicode(data);
    kavri::detail::DbcParser parser(*this);
    parser.parse(text);
    finish();
    return errorList.isEmpty();
}

void KvDbcDatabase::clear()
{
    *this = KvDbcDatabase();
}

QString KvDbcDatabase::errorString() const
{
    QStringList lines;
    for (const KvDbcError &e : errorList)
        lines << (e.line > 0 ? QStringLiteral("line %1: %2").arg(e.line).arg(e.message)
                             : e.message);
    return lines.join(QLatin1Char('\n'));
}

// Computes layouts, settles multiplexing, drops what cannot be decoded and builds the indexes.
void KvDbcDatabase::finish()
{
    auto report = [this](int line, const QString &message) {
        if (errorList.size() < MaxErrors)
            errorList.append({line, message});
        else if (errorList.size() == MaxErrors)
            errorList.append({line, QStringLiteral("further errors are not listed")});
    };
    totalSignals = 0;
    for (int mi = 0; mi < messageList.size(); ++mi) {
        KvDbcMessage &m = messageList[mi];
        QVector<KvDbcSignal> &list = m.signalList;
        const int n = list.size();
        QVector<bool> ok(n, true);
        for (int i = 0; i < n; ++i) {
            KvDbcSignal &s = list[i];
            std::stable_sort(
                s.valueNames.begin(), s.valueNames.end(),
                [](const KvDbcValueName &a, const KvDbcValueName &b) { return a.value < b.value; });
            if ((s.valueType == KvDbcSignal::Float32 && s.length != 32) ||
                (s.valueType == KvDbcSignal::Float64 && s.length != 64)) {
                report(s.line, QStringLiteral("float signal %1 is %2 bits long, not %3")
                                   .arg(s.name)
                                   .arg(s.length)
                                   .arg(s.valueType == KvDbcSignal::Float32 ? 32 : 64));
                ok[i] = false;
            } else if (!computeLayout(s)) {
                report(s.line,
                       QStringLiteral("signal %1 reaches past the eighth byte").arg(s.name));
                ok[i] = false;
            }
        }
        // Selectors: SG_MUL_VAL_ named one already; an "mN" signal otherwise belongs to the
        // message's one plain selector.
        int plain = -1, plainCount = 0;
        for (int i = 0; i < n; ++i) {
            if (list[i].isMultiplexer && list[i].multiplexValues.isEmpty() &&
                list[i].multiplexer < 0) {
                plain = i;
                ++plainCount;
            }
        }
        for (int i = 0; i < n; ++i) {
            KvDbcSignal &s = list[i];
            if (s.multiplexValues.isEmpty() || s.multiplexer >= 0)
                continue;
            if (plainCount == 1 && plain != i) {
                s.multiplexer = plain;
            } else {
                report(s.line, QStringLiteral("multiplexed signal %1 has no selector").arg(s.name));
                ok[i] = false;
            }
        }
        // Depth in the cascade; a chain longer than the message has signals is a cycle.
        QVector<int> depth(n, 0);
        for (int i = 0; i < n; ++i) {
            int d = 0;
            for (int p = list[i].multiplexer; p >= 0 && d <= n; p = list[p].multiplexer) {
                ++d;
                if (!ok[p])
                    ok[i] = false;
            }
            if (d > n) {
                report(list[i].line,
                       QStringLiteral("selectors of signal %1 form a cycle").arg(list[i].name));
                ok[i] = false;
            }
            depth[i] = d;
        }
        QVector<int> newIndex(n, -1);
        QVector<KvDbcSignal> kept;
        for (int i = 0; i < n; ++i) {
            if (ok[i]) {
                newIndex[i] = kept.size();
                kept.append(list[i]);
            }
        }
        QVector<int> keptDepth;
        for (int i = 0; i < n; ++i) {
            if (ok[i])
                keptDepth.append(depth[i]);
        }
        for (KvDbcSignal &s : kept) {
            if (s.multiplexer >= 0)
                s.multiplexer = newIndex[s.multiplexer];
        }
        list = kept;
        m.decodeOrder.resize(list.size());
        for (int i = 0; i < list.size(); ++i)
            m.decodeOrder[i] = i;
        std::stable_sort(m.decodeOrder.begin(), m.decodeOrder.end(),
                         [&](int a, int b) { return keptDepth[a] < keptDepth[b]; });

        const KvDbcAttributeDefinition *definition = nullptr;
        m.cycleTime =
            attributeValue(*this, m.attributes, QStringLiteral("GenMsgCycleTime"), &definition)
                .toInt();
        QString format =
            attributeValue(*this, m.attributes, QStringLiteral("VFrameFormat"), &definition);
        bool isIndex = false;
        const int index = format.toInt(&isIndex);
        if (isIndex) {
            if (definition && !definition->enumValues.isEmpty())
                format = definition->enumValues.value(index);
            else if (index >= 0 && index < 4)
                format = QLatin1String(StandardFrameFormats[index]);
        }
        m.j1939 = m.extended && format == QLatin1String("J1939PG");

        m.firstSignal = totalSignals;
        totalSignals += list.size();
        byId.insert(key(m.id, m.extended), mi);
        byName.insert(m.name, mi);
        if (m.j1939 && !byPgn.contains(pgnOf(m.id)))
            byPgn.insert(pgnOf(m.id), mi);
    }
}

quint32 KvDbcDatabase::pgnOf(quint32 id)
{
    const quint32 pgn = (id >> 8) & 0x3FFFF;
    const quint32 pf = (pgn >> 8) & 0xFF;
    return pf < 240 ? (pgn & 0x3FF00) : pgn;
}

int KvDbcDatabase::messageIndex(quint32 id, bool extended) const
{
    const int m = byId.value(key(id, extended), -1);
    if (m >= 0 || !extended || byPgn.isEmpty())
        return m;
    return byPgn.value(pgnOf(id), -1);
}

int KvDbcDatabase::messageIndex(const QString &name) const
{
    return byName.value(name, -1);
}

int KvDbcDatabase::signalIndex(int message, const QString &name) const
{
    if (message < 0 || message >= messageList.size())
        return -1;
    const QVector<KvDbcSignal> &list = messageList.at(message).signalList;
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).name == name)
            return i;
    }
    return -1;
}

bool KvDbcDatabase::decode(int message, const quint8 *data, int length,
                           QVector<KvDbcValue> &out) const
{
    if (message < 0 || message >= messageList.size())
        return false;
    const KvDbcMessage &m = messageList.at(message);
    out.resize(m.signalList.size());
    quint8 bytes[8] = {};
    if (data && length > 0)
        std::memcpy(bytes, data, size_t(std::min(length, 8)));
    const quint64 little = qFromLittleEndian<quint64>(bytes);
    const quint64 big = qFromBigEndian<quint64>(bytes);
    const KvDbcSignal *signal = m.signalList.constData();
    KvDbcValue *values = out.data();
    for (const int i : m.decodeOrder) {
        const KvDbcSignal &s = signal[i];
        KvDbcValue &v = values[i];
        v.present =
            length >= s.minBytes &&
            (s.multiplexer < 0 || (values[s.multiplexer].present &&
                                   inRanges(s.multiplexValues, values[s.multiplexer].integer)));
        if (!v.present)
            continue;
        const quint64 bits = ((s.bigEndian ? big : little) >> s.shift) & s.mask;
        switch (s.valueType) {
        case KvDbcSignal::Integer:
            if (s.isSigned && s.length < 64) {
                const int unused = 64 - s.length;
                v.integer = qint64(bits << unused) >> unused;
            } else {
                v.integer = qint64(bits);
            }
            v.raw = s.isSigned ? double(v.integer) : double(bits);
            break;
        case KvDbcSignal::Float32: {
            const quint32 word = quint32(bits);
            float f;
            std::memcpy(&f, &word, sizeof f);
            v.raw = f;
            v.integer = 0;
            break;
        }
        case KvDbcSignal::Float64:
            std::memcpy(&v.raw, &bits, sizeof v.raw);
            v.integer = 0;
            break;
        }
        v.physical = v.raw * s.factor + s.offset;
    }
    return true;
}

int KvDbcDatabase::decode(const VCI_CAN_OBJ &frame, QVector<KvDbcValue> &out) const
{
    if (frame.RemoteFlag)
        return -1;
    const int m = messageIndex(frame.ID, frame.ExternFlag != 0);
    if (m >= 0)
        decode(m, frame.Data, std::min<int>(frame.DataLen, 8), out);
    return m;
}

QString KvDbcDatabase::label(int message, int signal, const KvDbcValue &value) const
{
    if (message < 0 || message >= messageList.size() || !value.present)
        return QString();
    const QVector<KvDbcSignal> &list = messageList.at(message).signalList;
    if (signal < 0 || signal >= list.size() || list.at(signal).valueType != KvDbcSignal::Integer)
        return QString();
    const QVector<KvDbcValueName> &names = list.at(signal).valueNames;
    const auto it =
        std::lower_bound(names.begin(), names.end(), value.integer,
                         [](const KvDbcValueName &v, qint64 integer) { return v.value < integer; });
    return it != names.end() && it->value == value.integer ? it->name : QString();
}

bool KvDbcDatabase::physicalOf(int message, int signal, const QString &text, double &physical) const
{
    if (message < 0 || message >= messageList.size())
        return false;
    const QVector<KvDbcSignal> &list = messageList.at(message).signalList;
    if (signal < 0 || signal >= list.size())
        return false;
    const KvDbcSignal &s = list.at(signal);
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (ok && std::isfinite(number)) {
        physical = number;
        return true;
    }
    QString name = text;
    if (name.size() >= 2 && name.startsWith(QLatin1Char('\'')) && name.endsWith(QLatin1Char('\'')))
        name = name.mid(1, name.size() - 2);
    for (const KvDbcValueName &v : s.valueNames) {
        if (v.name == name) {
            physical = double(v.value) * s.factor + s.offset;
            return true;
        }
    }
    return false;
}

bool KvDbcDatabase::encodeSignal(int message, int signal, double physical, quint8 *data, int length,
                                 QString *error) const
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (message < 0 || message >= messageList.size())
        return fail(QStringLiteral("no such message"));
    const QVector<KvDbcSignal> &list = messageList.at(message).signalList;
    if (signal < 0 || signal >= list.size())
        return fail(QStringLiteral("no such signal"));
    const KvDbcSignal &s = list.at(signal);
    if (!data || length < s.minBytes)
        return fail(QStringLiteral("%1 needs %2 bytes").arg(s.name).arg(s.minBytes));
    if (!std::isfinite(physical))
        return fail(QStringLiteral("%1: the value is not a finite number").arg(s.name));
    const double raw = (physical - s.offset) / s.factor;
    quint64 bits = 0;
    switch (s.valueType) {
    case KvDbcSignal::Integer: {
        const double rounded = std::nearbyint(raw);
        // The two's complement range; powers of two are exact in double, even 2^64.
        const double span = std::ldexp(1.0, s.length);
        const bool fits = s.isSigned ? rounded >= -span / 2 && rounded < span / 2
                                     : rounded >= 0 && rounded < span;
        if (!fits)
            return fail(QStringLiteral("%1: %2 is outside the signal's range")
                            .arg(s.name)
                            .arg(physical, 0, 'g', 17));
        constexpr double TwoTo63 = 9223372036854775808.0;
        if (rounded >= TwoTo63)
            bits = quint64(qint64(rounded - TwoTo63)) | (quint64(1) << 63);
        else
            bits = quint64(qint64(rounded));
        break;
    }
    case KvDbcSignal::Float32: {
        const float f = float(raw);
        quint32 word;
        std::memcpy(&word, &f, sizeof word);
        bits = word;
        break;
    }
    case KvDbcSignal::Float64:
        std::memcpy(&bits, &raw, sizeof bits);
        break;
    }
    bits &= s.mask;
    quint8 bytes[8] = {};
    std::memcpy(bytes, data, size_t(std::min(length, 8)));
    const quint64 clear = ~(s.mask << s.shift);
    if (s.bigEndian) {
        const quint64 word = (qFromBigEndian<quint64>(bytes) & clear) | (bits << s.shift);
        qToBigEndian(word, bytes);
    } else {
        const quint64 word = (qFromLittleEndian<quint64>(bytes) & clear) | (bits << s.shift);
        qToLittleEndian(word, bytes);
    }
    std::memcpy(data, bytes, size_t(std::min(length, 8)));
    return true;
}

bool KvDbcDatabase::encode(int message, const QList<QPair<QString, QString>> &assignments,
                           QByteArray &payload, QString &error) const
{
    if (message < 0 || message >= messageList.size()) {
        error = QStringLiteral("no such message");
        return false;
    }
    const KvDbcMessage &m = messageList.at(message);
    if (payload.size() != m.size)
        payload = QByteArray(m.size, '\0');
    QVector<bool> given(m.signalList.size(), false);
    QVector<QPair<int, double>> values;
    for (const auto &a : assignments) {
        const int s = signalIndex(message, a.first);
        if (s < 0) {
            error = QStringLiteral("%1 has no signal %2").arg(m.name, a.first);
            return false;
        }
        double physical = 0;
        if (!physicalOf(message, s, a.second, physical)) {
            error = QStringLiteral("%1: '%2' is neither a number nor a value name")
                        .arg(a.first, a.second);
            return false;
        }
        given[s] = true;
        values.append({s, physical});
    }
    // Selectors the caller left out take the first value that selects a given signal.
    for (int i = 0; i < values.size(); ++i) {
        const KvDbcSignal &s = m.signalList.at(values.at(i).first);
        if (s.multiplexer >= 0 && !given[s.multiplexer]) {
            const KvDbcSignal &selector = m.signalList.at(s.multiplexer);
            given[s.multiplexer] = true;
            values.append({s.multiplexer, double(s.multiplexValues.value(0).low) * selector.factor +
                                              selector.offset});
        }
    }
    quint8 *bytes = reinterpret_cast<quint8 *>(payload.data());
    for (const auto &v : values) {
        if (!encodeSignal(message, v.first, v.second, bytes, payload.size(), &error))
            return false;
    }
    return true;
}
