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
    void randomRecordsMatchTheFormats();
};

namespace {

KvCanObj record(quint32 id, quint32 stamp, int hour, int minute, int second, int msec)
{
    KvCanObj r;
    r.frame.ID = id;
    r.frame.TimeStamp = stamp;
    r.hour = hour;
    r.minute = minute;
    r.second = second;
    r.msec = msec;
    return r;
}

// The texts as the printf formats give them: identifier, stamp and time of day.
QStringList formatted(const KvCanObj &r)
{
    return {QString::asprintf("%08X ", r.frame.ID),
            r.send ? QStringLiteral("NULL") : QString::asprintf("0x%X", r.frame.TimeStamp),
            QString::asprintf("%02d:%02d:%02d:%03d", r.hour, r.minute, r.second, r.msec)};
}

QStringList shown(const KvCanObj &r)
{
    const CanObjStr text = KvBuffer::analyseData(r);
    return {text.id, text.timeStamp, text.systemTime};
}

} // namespace

void tst_KvBufferText::randomRecordsMatchTheFormats()
{
    // The extremes no random draw below reaches, then the random records.
    QVector<KvCanObj> records = {record(0xFFFFFFFF, 0xFFFFFFFF, INT_MIN, INT_MAX, 0, 0),
                                 record(0, 0, INT_MAX, INT_MIN, INT_MIN, INT_MAX)};
    std::mt19937 random(20261205);
    std::uniform_int_distribution<quint32> word;
    std::uniform_int_distribution<int> small(-5, 1200);
    for (int i = 0; i < 20000; ++i) {
        records << record(word(random) >> (i % 32), word(random) >> (i % 32), small(random) % 130,
                          small(random) % 70, small(random) % 70, small(random));
        records.last().send = i % 5 == 0;
    }
    for (const KvCanObj &r : records)
        QCOMPARE(shown(r), formatted(r));
    // Spot checks that the formats are the intended ones.
    QCOMPARE(shown(records[0]), QStringList({"FFFFFFFF ", "0xFFFFFFFF",
                                             QString::asprintf("%d:%d:00:000", INT_MIN, INT_MAX)}));
    QCOMPARE(shown(record(0x123, 0x1F40, 9, 5, 3, 7)),
             QStringList({"00000123 ", "0x1F40", "09:05:03:007"}));
}

QTEST_GUILESS_MAIN(tst_KvBufferText)
#include "tst_kvbuffertext.moc"
