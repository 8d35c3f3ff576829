#include "kvtextline_p.h"

#include <QtTest>

#include <cstring>

// The text readers parse plain ASCII numbers and times themselves for speed; they must give
// exactly what Qt gives on the decoded text. Held against Qt on generated input, odd forms
// and non-ASCII bytes included.

static QByteArray randomText(QRandomGenerator &random, const QByteArrayList &pieces, int most)
{
    QByteArray text;
    for (int n = random.bounded(most + 1); n > 0; --n)
        text += pieces.at(random.bounded(pieces.size()));
    return text;
}

// Floats compare bit for bit (QCOMPARE on floats is fuzzy); NaN equals NaN.
static quint32 bits(float value)
{
    quint32 b;
    std::memcpy(&b, &value, sizeof b);
    return value != value ? 0x7FC00000 : b;
}

static kavri::TextField field(const QByteArray &bytes)
{
    return kavri::TextField{bytes.constData(), bytes.size()};
}

class TestKvTextLine : public QObject
{
    Q_OBJECT
private slots:
    void numbersMatchQt();
    void timesMatchQt();
    void splitMatchesRegExp();
};

void TestKvTextLine::numbersMatchQt()
{
    QRandomGenerator random(5);
    // Hex digits, signs, prefixes, white space, a no-break space, a fullwidth digit, bad UTF-8.
    QByteArrayList pieces = QByteArray("0 1 7 9 a F e E x X + - . g").split(' ');
    pieces += QByteArrayList{" ", "\t", "\n", "\xC2\xA0", "\xEF\xBC\x91", "\xFF"};
    for (int i = 0; i < 50000; ++i) {
        const QByteArray text = randomText(random, pieces, 12);
        const QString decoded = QString::fromUtf8(text);
        QCOMPARE(kavri::hexToUInt(field(text)), decoded.toUInt(nullptr, 16));
        QCOMPARE(kavri::decToUShort(field(text)), decoded.toUShort(nullptr, 10));
        QCOMPARE(kavri::firstHexByte(field(text)),
                 quint8(QByteArray::fromHex(text).append('\0').at(0)));
        bool ok = false, qtOk = false;
        const float value = kavri::decToFloat(field(text), &ok);
        const float qtValue = decoded.toFloat(&qtOk);
        QCOMPARE(ok, qtOk);
        QCOMPARE(bits(value), bits(qtValue));
    }
    // Plain decimals, where rounding to double and then to float must round alike.
    for (int i = 0; i < 200000; ++i) {
        QByteArray text = QByteArray::number(random.bounded(100000)) + '.';
        for (int n = random.bounded(1, 13); n > 0; --n)
            text += char('0' + random.bounded(10));
        bool ok = false;
        QCOMPARE(bits(kavri::decToFloat(field(text), &ok)),
                 bits(QString::fromLatin1(text).toFloat()));
        QVERIFY(ok);
    }
}

void TestKvTextLine::timesMatchQt()
{
    QRandomGenerator random(7);
    const QByteArrayList pieces = {"0", "1", "2", "5", "9", ":", ".", " ", "+", "-"};
    for (int i = 0; i < 20000; ++i) {
        QByteArray text = randomText(random, pieces, 14);
        if (i % 2) { // the usual shape, with any digits
            text.clear();
            for (int k = 0; k < 3; ++k)
                text += QByteArray::number(random.bounded(100)).rightJustified(2, '0') + ':';
            text[8] = random.bounded(2) ? ':' : '.';
            for (int n = random.bounded(5); n > 0; --n)
                text += char('0' + random.bounded(10));
        }
        for (const char separator : {':', '.'}) {
            const QTime time = QTime::fromString(QString::fromLatin1(text),
                                                 separator == ':' ? "hh:mm:ss:z" : "hh:mm:ss.z");
            QCOMPARE(kavri::msecsSinceMidnight(field(text), separator),
                     time.isValid() ? time.msecsSinceStartOfDay() : 0);
        }
    }
}

void TestKvTextLine::splitMatchesRegExp()
{
    QRandomGenerator random(11);
    const QByteArrayList pieces = {"a", "1", " ", "\t", "\n", "\r", "\v", "\f", "\x1F"};
    const QRegExp separator(QStringLiteral("\t|\\s"));
    for (int i = 0; i < 20000; ++i) {
        const QByteArray text = randomText(random, pieces, 20);
        kavri::TextField fields[32];
        const int count =
            kavri::splitFields(text.constData(), text.size(), kavri::isAsciiSpace, fields);
        QStringList parts;
        for (int k = 0; k < count; ++k)
            parts << fields[k].toString();
        QCOMPARE(parts, QString::fromLatin1(text).split(separator, Qt::KeepEmptyParts));
    }
}

QTEST_GUILESS_MAIN(TestKvTextLine)
#include "tst_kvtextline.moc"
