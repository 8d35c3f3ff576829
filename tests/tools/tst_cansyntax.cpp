#include "cansyntax.h"

#include <QtTest/QtTest>

using namespace cansyntax;

// The forms users bring from cansend and candump, accepted and refused, with the reason given.
class tst_CanSyntax : public QObject
{
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void filters_data();
    void filters();
    void numbers_data();
    void numbers();
    void outputLines();
};

void tst_CanSyntax::frames_data()
{
    // expected: "ID/x(extended)/r(remote)/DLC/hex data", or the start of the refusal
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("standard") << "123#1122"
                              << "123//2/1122";
    QTest::newRow("no data") << "123#"
                             << "123//0/";
    QTest::newRow("extended, 8 digits") << "18FEF100#01"
                                        << "18fef100/x/1/01";
    QTest::newRow("extended with small value") << "00000123#"
                                               << "123/x/0/";
    QTest::newRow("dots between bytes") << "123#11.22.33"
                                        << "123//3/112233";
    QTest::newRow("eight bytes") << "7FF#0102030405060708"
                                 << "7ff//8/0102030405060708";
    QTest::newRow("remote") << "7DF#R"
                            << "7df/r/0/";
    QTest::newRow("remote with length") << "7DF#R3"
                                        << "7df/r/3/";
    QTest::newRow("lower case") << "1ab#cdef"
                                << "1ab//2/cdef";
    QTest::newRow("standard too large") << "800#11"
                                        << "identifier 800 is too large for a standard";
    QTest::newRow("extended too large") << "20000000#"
                                        << "identifier 20000000 is too large for an extended";
    QTest::newRow("four digits") << "1234#11"
                                 << "the identifier needs 3 hex digits";
    QTest::newRow("nine bytes") << "123#112233445566778899"
                                << "9 data bytes";
    QTest::newRow("odd digits") << "123#112"
                                << "odd number of hex digits";
    QTest::newRow("bad data character") << "123#11GG"
                                        << "'G' in the data";
    QTest::newRow("bad id character") << "12X#11"
                                      << "'X' in the identifier";
    QTest::newRow("no hash") << "1231122"
                             << "no '#'";
    QTest::newRow("dot inside a byte") << "123#1.122"
                                       << "'.' in the data";
    QTest::newRow("remote too long") << "123#R9"
                                     << "remote length 9";
    QTest::newRow("CAN FD") << "123##1"
                            << "CAN FD";
    QTest::newRow("option-like") << "-123#11"
                                 << "'-' in the identifier";
}

void tst_CanSyntax::frames()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    Frame f;
    QString error;
    if (!parseFrame(text, f, error)) {
        QVERIFY2(error.startsWith(expected), qPrintable(error));
        return;
    }
    QString got = QStringLiteral("%1/%2%3/%4/")
                      .arg(f.id, 0, 16)
                      .arg(f.extended ? "x" : "")
                      .arg(f.remote ? "r" : "")
                      .arg(f.dlc);
    for (int i = 0; i < f.dlc && !f.remote; ++i)
        got += QStringLiteral("%1").arg(f.data[i], 2, 16, QLatin1Char('0'));
    QCOMPARE(got, expected);
}

void tst_CanSyntax::filters_data()
{
    QTest::addColumn<QStringList>("only");
    QTest::addColumn<QStringList>("exclude");
    // "id" or "id x" (extended), then '+' accepted or '-' dropped
    QTest::addColumn<QStringList>("cases");
    QTest::addColumn<QString>("error");
    const QStringList none;
    QTest::newRow("nothing passes all") << none << none << QStringList{"123 +", "1 x +"} << "";
    QTest::newRow("range") << QStringList{"100-1FF"} << none
                           << QStringList{"100 +", "1FF +", "200 -", "FF -"} << "";
    QTest::newRow("mask") << QStringList{"120:7F0"} << none
                          << QStringList{"120 +", "12F +", "130 -", "120 x +"} << "";
    QTest::newRow("inverted mask")
        << QStringList{"120~7F0"} << none << QStringList{"120 -", "130 +"} << "";
    QTest::newRow("eight digits: extended only")
        << QStringList{"18FEF100:1FFFFFFF"} << none << QStringList{"18FEF100 x +", "100 -"} << "";
    QTest::newRow("only and not together") << QStringList{"100-1FF"} << QStringList{"150"}
                                           << QStringList{"100 +", "150 -", "300 -"} << "";
    QTest::newRow("not alone") << none << QStringList{"100-1FF", "7DF:7FF"}
                               << QStringList{"100 -", "7DF -", "200 +"} << "";
    QTest::newRow("reversed range")
        << QStringList{"1FF-100"} << none << none << "range is reversed";
    QTest::newRow("bad digit") << QStringList{"1G0"} << none << none << "'G' in the identifier";
    QTest::newRow("beyond 29 bits") << QStringList{"3FFFFFFF"} << none << none << "identifiers end";
}

void tst_CanSyntax::filters()
{
    QFETCH(QStringList, only);
    QFETCH(QStringList, exclude);
    QFETCH(QStringList, cases);
    QFETCH(QString, error);
    IdFilter filter;
    QString why;
    bool ok = true;
    for (const QString &t : only) {
        IdCondition c;
        ok = ok && parseCondition(t, c, why);
        filter.only << c;
    }
    for (const QString &t : exclude) {
        IdCondition c;
        ok = ok && parseCondition(t, c, why);
        filter.exclude << c;
    }
    if (!error.isEmpty()) {
        QVERIFY(!ok);
        QVERIFY2(why.contains(error), qPrintable(why));
        return;
    }
    QVERIFY2(ok, qPrintable(why));
    for (const QString &c : cases) {
        const QStringList parts = c.split(' ');
        const bool extended = parts.size() == 3;
        QCOMPARE(filter.accepts(parts.first().toUInt(nullptr, 16), extended) ? "+" : "-",
                 parts.last());
    }
}

void tst_CanSyntax::numbers_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value"); // -1: refused
    QTest::newRow("fractional seconds") << "seconds"
                                        << "1.5" << qint64(1500);
    QTest::newRow("large seconds in 64 bits") << "seconds"
                                              << "3000000" << qint64(3000000000);
    QTest::newRow("seconds with a unit") << "seconds"
                                         << "3s" << qint64(-1);
    QTest::newRow("seconds negative") << "seconds"
                                      << "-1" << qint64(-1);
    QTest::newRow("seconds text") << "seconds"
                                  << "abc" << qint64(-1);
    QTest::newRow("seconds beyond limit") << "seconds"
                                          << "1e9" << qint64(-1);
    QTest::newRow("count") << "count"
                           << "12" << qint64(12);
    QTest::newRow("count fraction") << "count"
                                    << "1.5" << qint64(-1);
    QTest::newRow("count out of range") << "count"
                                        << "0" << qint64(-1);
    QTest::newRow("size") << "size"
                          << "100M" << qint64(104857600);
    QTest::newRow("size plain") << "size"
                                << "4096" << qint64(4096);
    QTest::newRow("size bad unit") << "size"
                                   << "100X" << qint64(-1);
    QTest::newRow("duration minutes") << "duration"
                                      << "10m" << qint64(600000);
    QTest::newRow("duration plain seconds") << "duration"
                                            << "90" << qint64(90000);
    QTest::newRow("duration hours") << "duration"
                                    << "1.5h" << qint64(5400000);
    QTest::newRow("duration zero") << "duration"
                                   << "0" << qint64(-1);
}

void tst_CanSyntax::numbers()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(qint64, value);
    qint64 got = -1;
    QString error;
    bool ok = false;
    if (kind == "seconds")
        ok = parseSeconds(text, 1.0e8, got, error);
    else if (kind == "count")
        ok = parseCount(text, 1, 1000, got, error);
    else if (kind == "size")
        ok = parseSize(text, got, error);
    else
        ok = parseDuration(text, got, error);
    QCOMPARE(ok ? got : -1, value);
    QCOMPARE(error.isEmpty(), ok);
}

void tst_CanSyntax::outputLines()
{
    Frame f;
    QString error;
    QVERIFY(parseFrame("7DF#R3", f, error));
    QCOMPARE(logLine(1436509052249713, 1, f), QString("(1436509052.249713) can1 7DF#R3"));
    QCOMPARE(jsonLine(0.5, 0, false, f),
             QString("{\"time\": 0.500000, \"channel\": 0, \"dir\": \"Rx\", \"id\": 2015, "
                     "\"extended\": false, \"remote\": true, \"dlc\": 3, \"data\": \"\"}"));
    QVERIFY(parseFrame("0001A2B3#0102", f, error));
    QCOMPARE(logLine(5, 0, f), QString("(0.000005) can0 0001A2B3#0102"));

    TimeMode mode;
    QVERIFY(parseTimeMode("A", mode, error) && mode == TimeMode::Date);
    QVERIFY(!parseTimeMode("x", mode, error));
}

QTEST_APPLESS_MAIN(tst_CanSyntax)
#include "tst_cansyntax.moc"
