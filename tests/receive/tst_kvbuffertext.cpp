#include "kvbuffer.h"

#include <QtTest/QtTest>

#include <climits>
#include <random>

// The display texts are built without a printf-style formatter; every field must still read
// exactly as its printf format gives it, across the whole range of the record's values.
class tst_KvBufferText : public QObject
{
    Q_OBJECT
private slots:
    void identifierText_data();
    void identifierText();
    void timeStampText_data();
    void timeStampText();
    void timeOfDayText_data();
    void timeOfDayText();
    void randomRecordsMatchTheFormats();
};

namespace {

KvCanObj received(quint32 id, quint32 stamp)
{
    KvCanObj record;
    record.frame.ID = id;
    record.frame.TimeStamp = stamp;
    return record;
}

KvCanObj at(int hour, int minute, int second, int msec)
{
    KvCanObj record;
    record.hour = hour;
    record.minute = minute;
    record.second = second;
    record.msec = msec;
    return record;
}

} // namespace

void tst_KvBufferText::identifierText_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << "00000000 ";
    QTest::newRow("standard identifier") << 0x123u << "00000123 ";
    QTest::newRow("extended identifier") << 0x18FEF100u << "18FEF100 ";
    QTest::newRow("every bit set") << 0xFFFFFFFFu << "FFFFFFFF ";
    QTest::newRow("upper-case letters") << 0xABCDEFu << "00ABCDEF ";
}

void tst_KvBufferText::identifierText()
{
    QFETCH(quint32, id);
    QFETCH(QString, text);
    QCOMPARE(KvBuffer::analyseData(received(id, 1)).id, text);
}

void tst_KvBufferText::timeStampText_data()
{
    QTest::addColumn<quint32>("stamp");
    QTest::addColumn<QString>("text");
    QTest::newRow("one unit") << 1u << "0x1";
    QTest::newRow("no leading zeros") << 0x1F40u << "0x1F40";
    QTest::newRow("every digit used") << 0x89ABCDEFu << "0x89ABCDEF";
    QTest::newRow("largest stamp") << 0xFFFFFFFFu << "0xFFFFFFFF";
    QTest::newRow("one digit then zeros") << 0x10000000u << "0x10000000";
}

void tst_KvBufferText::timeStampText()
{
    QFETCH(quint32, stamp);
    QFETCH(QString, text);
    QCOMPARE(KvBuffer::analyseData(received(0x123, stamp)).timeStamp, text);
}

void tst_KvBufferText::timeOfDayText_data()
{
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("msec");
    QTest::addColumn<QString>("text");
    QTest::newRow("midnight") << 0 << 0 << 0 << 0 << "00:00:00:000";
    QTest::newRow("leading zeros") << 9 << 5 << 3 << 7 << "09:05:03:007";
    QTest::newRow("last millisecond of the day") << 23 << 59 << 59 << 999 << "23:59:59:999";
    QTest::newRow("three-digit hour widens") << 100 << 1 << 2 << 3 << "100:01:02:003";
    QTest::newRow("four-digit millisecond widens") << 1 << 2 << 3 << 1000 << "01:02:03:1000";
    QTest::newRow("negative values keep their sign") << -1 << 2 << 3 << -4 << "-1:02:03:-04";
    QTest::newRow("extreme values")
        << INT_MIN << INT_MAX << 0 << 0 << QString::asprintf("%02d:%02d:00:000", INT_MIN, INT_MAX);
}

void tst_KvBufferText::timeOfDayText()
{
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, second);
    QFETCH(int, msec);
    QFETCH(QString, text);
    QCOMPARE(KvBuffer::analyseData(at(hour, minute, second, msec)).systemTime, text);
}

void tst_KvBufferText::randomRecordsMatchTheFormats()
{
    std::mt19937 random(20261205);
    std::uniform_int_distribution<quint32> word;
    std::uniform_int_distribution<int> small(-5, 1200);
    for (int i = 0; i < 20000; ++i) {
        KvCanObj record =
            at(small(random) % 130, small(random) % 70, small(random) % 70, small(random));
        record.frame.ID = word(random) >> (i % 32);
        record.frame.TimeStamp = word(random) >> (i % 32);
        record.send = i % 5 == 0;
        const CanObjStr text = KvBuffer::analyseData(record);
        QCOMPARE(text.id, QString::asprintf("%08X ", record.frame.ID));
        QCOMPARE(text.timeStamp, record.send ? QStringLiteral("NULL")
                                             : QString::asprintf("0x%X", record.frame.TimeStamp));
        QCOMPARE(text.systemTime, QString::asprintf("%02d:%02d:%02d:%03d", record.hour,
                                                    record.minute, record.second, record.msec));
    }
}

QTEST_GUILESS_MAIN(tst_KvBufferText)
#include "tst_kvbuffertext.moc"
