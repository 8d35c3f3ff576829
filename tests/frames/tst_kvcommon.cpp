#include "kvcommon.h"

#include <QtTest/QtTest>

#include <ctime>

using namespace kavri;

class tst_KvCommon : public QObject
{
    Q_OBJECT
private slots:
    void byteHelpers();
    void identifierTexts_data();
    void identifierTexts();
    void strtodataParses_data();
    void strtodataParses();
    void settleTime_data();
    void settleTime();
    void incData_data();
    void incData();
    void clockFollowsWallClock();
    void usleepWaitsAtLeast();
};

void tst_KvCommon::byteHelpers()
{
    QCOMPARE(MSB(0x1234), char(0x12));
    QCOMPARE(LSB(0x1234), char(0x34));
    QCOMPARE(MSB(short(-2)), char(-1)); // arithmetic shift keeps the sign
    unsigned char out = 77;
    QCOMPARE(chartoint('f', &out), 0);
    QCOMPARE(out, 15);
    QCOMPARE(chartoint('g', &out), 1); // not a digit: reported, the output left alone
    QCOMPARE(out, 15);
    const QBitArray bits = chartoBitArray(0x81);
    QCOMPARE(bits.size(), 8);
    QVERIFY(bits.testBit(0) && bits.testBit(7));
    QCOMPARE(bits.count(true), 2);
}

void tst_KvCommon::identifierTexts_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("type");
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("standard id into word") << "to" << 0 << 0x7FFLL << "FFE00000";
    QTest::newRow("extended id into word") << "to" << 1 << 0x1FFFFFFFLL << "FFFFFFF8";
    QTest::newRow("bits past 31 dropped") << "to" << 0 << 0xFFFLL << "FFE00000";
    QTest::newRow("standard id out of word") << "get" << 0 << 0xFFE00000LL << "000007FF";
    QTest::newRow("extended id out of word") << "get" << 1 << 0xF8LL << "0000001F";
    QTest::newRow("negative word sign-shifts") << "get" << 1 << -8LL << "FFFFFFFF";
    QTest::newRow("code") << "code" << 0 << 0xABLL << "000000AB";
    QTest::newRow("code is eight digits") << "code" << 0 << 0xDEADBEEFLL << "DEADBEEF";
    QTest::newRow("wide code keeps low 32 bits") << "code" << 0 << 0x123456789LL << "23456789";
    QTest::newRow("negative code") << "code" << 0 << -1LL << "FFFFFFFF";
}

void tst_KvCommon::identifierTexts()
{
    QFETCH(QString, function);
    QFETCH(int, type);
    QFETCH(qlonglong, value);
    QFETCH(QString, text);
    if (function == QLatin1String("to"))
        QCOMPARE(toCanIdFromLL(type, value), text);
    else if (function == QLatin1String("get"))
        QCOMPARE(getCanIdFromLL(type, value), text);
    else {
        QCOMPARE(getCanCodeFromLL(value), text);
        QCOMPARE(toCanCodeFromLL(value), text);
    }
}

void tst_KvCommon::strtodataParses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("separated") << QByteArray("12 AB") << 2 << 1 << 0 << QByteArray("\x12\xAB", 2);
    QTest::newRow("packed") << QByteArray("12AB") << 2 << 0 << 0 << QByteArray("\x12\xAB", 2);
    QTest::newRow("separator is never examined")
        << QByteArray("12Zab") << 2 << 1 << 0 << QByteArray("\x12\xAB", 2);
    QTest::newRow("bad low digit keeps high")
        << QByteArray("1G") << 1 << 0 << 1 << QByteArray("\x01", 1);
    QTest::newRow("bad high digit writes nothing")
        << QByteArray("12 G1") << 2 << 1 << 1 << QByteArray("\x12\x55", 2);
    QTest::newRow("zero count") << QByteArray("") << 0 << 0 << 0 << QByteArray();
}

void tst_KvCommon::strtodataParses()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QFETCH(int, mode);
    QFETCH(int, result);
    QFETCH(QByteArray, bytes);
    unsigned char out[8];
    memset(out, 0x55, sizeof out);
    QByteArray input = text + QByteArray(4, '\0');
    QCOMPARE(strtodata(reinterpret_cast<unsigned char *>(input.data()), out, count, mode), result);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), bytes.size()), bytes);
}

void tst_KvCommon::settleTime_data()
{
    QTest::addColumn<QString>("direction");
    QTest::addColumn<QString>("timeText");
    QTest::addColumn<int>("base");
    QTest::addColumn<QString>("text");

    auto row = [](const char *name, const char *direction, const char *time, int base,
                  const char *text) {
        QTest::newRow(name) << QString(direction) << QString(time) << base << QString(text);
    };
    row("received", "Rx", "0x75BCD15", 0, "03:25:45.678.9");
    row("same as base", "Rx", "0x75BCD15", 123456789, "00:00:00.000.0");
    row("sent frame unchanged", "Tx", "NULL", 0, "NULL");
    row("without prefix", "Rx", "75BCD15", 0, "03:25:45.678.9");
    row("short stamp", "Rx", "0x7B", 0, "00:00:00.12.3");
    row("before base wraps back", "Rx", "0x2710", 20000, "23:59:59.000.0");
    row("unparsable is zero", "Rx", "zz", 0, "00:00:00.000.0");
    row("direction compared exactly", "rx", "0x10", 0, "0x10");
}

void tst_KvCommon::settleTime()
{
    QFETCH(QString, direction);
    QFETCH(QString, timeText);
    QFETCH(int, base);
    QFETCH(QString, text);
    QCOMPARE(gSettleTime(direction, timeText, base), text);
}

void tst_KvCommon::incData_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("carry");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("carryAfter");

    const QByteArray zero8(8, '\0');
    auto bytes = [](const char *s, int n) { return QByteArray(s, n) + QByteArray(8 - n, '\0'); };
    QTest::newRow("simple") << bytes("\x01\x02", 2) << 2 << 0 << true << bytes("\x02\x02", 2)
                            << false;
    QTest::newRow("passes over FF")
        << bytes("\xFF\x05", 2) << 2 << 0 << true << bytes("\xFF\x06", 2) << false;
    QTest::newRow("overflow clears all")
        << bytes("\xFF\xFF", 2) << 2 << 0 << true << zero8 << false;
    QTest::newRow("no carry no change")
        << bytes("\x01", 1) << 1 << 0 << false << bytes("\x01", 1) << false;
    QTest::newRow("index out of range")
        << bytes("\x01", 1) << 1 << 8 << true << bytes("\x01", 1) << true;
}

void tst_KvCommon::incData()
{
    QFETCH(QByteArray, data);
    QFETCH(int, len);
    QFETCH(int, index);
    QFETCH(bool, carry);
    QFETCH(QByteArray, expected);
    QFETCH(bool, carryAfter);
    CanObj f;
    memcpy(f.Data, data.constData(), 8);
    f.DataLen = quint8(len);
    kavri::incData(f, index, carry);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.Data), 8), expected);
    QCOMPARE(carry, carryAfter);
}

void tst_KvCommon::clockFollowsWallClock()
{
    struct timeval tv;
    const time_t before = time(nullptr);
    QCOMPARE(kavri::gettimeofday(&tv, nullptr), 0);
    const time_t after = time(nullptr);
    QVERIFY(tv.tv_sec >= before - 1 && tv.tv_sec <= after + 1);
    QCOMPARE(tv.tv_usec % 1000, 0); // millisecond resolution
    QVERIFY(tv.tv_usec >= 0 && tv.tv_usec < 1000000);
}

void tst_KvCommon::usleepWaitsAtLeast()
{
    gUsleep(0);
    gUsleep(-5);
    QElapsedTimer timer;
    timer.start();
    gUsleep(3000);
    // The clock has millisecond resolution, so the wait may be up to one millisecond short.
    QVERIFY(timer.nsecsElapsed() >= 2000000);
}

QTEST_GUILESS_MAIN(tst_KvCommon)
#include "tst_kvcommon.moc"
