#include "kvidstatistics.h"

#include <QtTest/QtTest>

// A frame as the tables write it: host time of day in milliseconds since midnight, adapter stamp
// (0 = transmitted), identifier and data bytes.
struct TableFrame
{
    int hostMs;
    quint32 stamp;
    quint32 id;
    QByteArray data;
    bool extended = false;
    bool remote = false;
};
Q_DECLARE_METATYPE(QVector<TableFrame>)

namespace {

constexpr int TenOClock = 10 * 3600 * 1000;

KvCanObj record(const TableFrame &t)
{
    KvCanObj r;
    r.send = t.stamp == 0;
    r.hour = t.hostMs / 3600000;
    r.minute = t.hostMs / 60000 % 60;
    r.second = t.hostMs / 1000 % 60;
    r.msec = t.hostMs % 1000;
    r.frame.ID = t.id;
    r.frame.TimeStamp = t.stamp;
    r.frame.ExternFlag = t.extended ? 1 : 0;
    r.frame.RemoteFlag = t.remote ? 1 : 0;
    r.frame.DataLen = quint8(t.data.size());
    memcpy(r.frame.Data, t.data.constData(), size_t(t.data.size()));
    return r;
}

} // namespace

class tst_KvIdStatistics : public QObject
{
    Q_OBJECT
private slots:
    void clock_data();
    void clock();
    void rows_data();
    void rows();
    void rateWindows();
};

void tst_KvIdStatistics::clock_data()
{
    QTest::addColumn<QVector<TableFrame>>("frames");
    QTest::addColumn<QVector<double>>("times");
    QTest::addColumn<QVector<double>>("deltas");
    QTest::newRow("transmitted frames on the host's time")
        << QVector<TableFrame>{{TenOClock, 0, 0x10, {}}, {TenOClock + 250, 0, 0x10, {}}}
        << QVector<double>{0.0, 0.25} << QVector<double>{-1.0, 0.25};
    QTest::newRow("stamps anchored on the first stamped frame")
        << QVector<TableFrame>{{TenOClock, 0, 0x10, {}},
                               {TenOClock + 500, 20000, 0x20, {}},
                               {TenOClock + 510, 30000, 0x20, {}}}
        << QVector<double>{0.0, 0.5, 1.5} << QVector<double>{-1.0, -1.0, 1.0};
    QTest::newRow("stamp counter wraps and runs on")
        << QVector<TableFrame>{{TenOClock, 0xFFFFFF00u, 0x20, {}}, {TenOClock, 0x100, 0x20, {}}}
        << QVector<double>{0.0, 0.0512} << QVector<double>{-1.0, 0.0512};
    QTest::newRow("restarted adapter is anchored afresh")
        << QVector<TableFrame>{{TenOClock, 50000, 0x20, {}}, {TenOClock + 2000, 10000, 0x20, {}}}
        << QVector<double>{0.0, 2.0} << QVector<double>{-1.0, 2.0};
    QTest::newRow("host time past midnight")
        << QVector<TableFrame>{{24 * 3600000 - 100, 0, 0x10, {}}, {100, 0, 0x10, {}}}
        << QVector<double>{0.0, 0.2} << QVector<double>{-1.0, 0.2};
}

void tst_KvIdStatistics::clock()
{
    QFETCH(QVector<TableFrame>, frames);
    QFETCH(QVector<double>, times);
    QFETCH(QVector<double>, deltas);
    KvIdStatistics statistics;
    for (int i = 0; i < frames.size(); ++i) {
        const KvFrameTime at = statistics.add(record(frames.at(i)));
        QVERIFY2(qAbs(at.time - times.at(i)) < 1e-6, qPrintable(QString::number(at.time)));
        QVERIFY2(qAbs(at.delta - deltas.at(i)) < 1e-6, qPrintable(QString::number(at.delta)));
    }
    QCOMPARE(statistics.frames(), quint64(frames.size()));
}

void tst_KvIdStatistics::rows_data()
{
    QTest::addColumn<QVector<TableFrame>>("frames");
    QTest::addColumn<int>("rows");
    // Of the last row: count, last, min and max cycle in ms, data length and changed bytes.
    QTest::addColumn<QVector<int>>("last");

    // Stamps of 0x100 at 0, 100, 150 ms: cycles 100 and 50.
    const QVector<TableFrame> cycles{{TenOClock, 1, 0x100, "\x01\x02"},
                                     {TenOClock, 1001, 0x100, "\x01\x02"},
                                     {TenOClock, 1501, 0x100, "\x01\x03"}};
    QTest::newRow("cycles and a changed byte")
        << cycles << 1 << QVector<int>{3, 50, 50, 100, 2, 0x02};
    QTest::newRow("longer frame marks its new bytes")
        << (cycles + QVector<TableFrame>{{TenOClock, 2001, 0x100, QByteArray("\x01\x03\x00", 3)}})
        << 1 << QVector<int>{4, 50, 50, 100, 3, 0x04};
    QTest::newRow("remote frame marks nothing")
        << (cycles + QVector<TableFrame>{{TenOClock, 2001, 0x100, {}, false, true}}) << 1
        << QVector<int>{4, 50, 50, 100, 0, 0};
    QTest::newRow("first frame of an identifier has no cycle")
        << QVector<TableFrame>{{TenOClock, 1, 0x1, "\x05"}} << 1
        << QVector<int>{1, -1, -1, -1, 1, 0};
    QTest::newRow("standard and extended with one number are two rows")
        << QVector<TableFrame>{{TenOClock, 1, 0x7FF, "\x05"}, {TenOClock, 101, 0x7FF, "\x06", true}}
        << 2 << QVector<int>{1, -1, -1, -1, 1, 0};
}

void tst_KvIdStatistics::rows()
{
    QFETCH(QVector<TableFrame>, frames);
    QFETCH(int, rows);
    QFETCH(QVector<int>, last);
    QVector<KvCanObj> records;
    for (const TableFrame &f : frames)
        records << record(f);
    KvIdStatistics statistics;
    statistics.add(records);
    QCOMPARE(statistics.rows().size(), rows);
    const KvIdStatisticsRow &row = statistics.rows().last();
    QCOMPARE(statistics.indexOf(row.id, row.extended), rows - 1);
    auto ms = [](double seconds) { return seconds < 0 ? -1 : qRound(seconds * 1000); };
    QCOMPARE((QVector<int>{int(row.count), ms(row.lastCycle), ms(row.minCycle), ms(row.maxCycle),
                           row.dataLen, row.changed}),
             last);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(row.data), row.dataLen),
             frames.last().data.left(row.dataLen));
}

// Rates are counted per window of the clock; a gap of more than a window leaves rate 0.
void tst_KvIdStatistics::rateWindows()
{
    KvIdStatistics statistics(1.0);
    quint32 stamp = 10000; // the clock's 0
    auto frame = [&](quint32 id) { statistics.add(record({TenOClock, stamp, id, "\x01"})); };
    for (int i = 0; i < 10; ++i, stamp += 900) // ten frames of 0x1 within the first second
        frame(0x1);
    // Before the first window closes: frames so far over the time so far.
    QVERIFY(qAbs(statistics.rows().at(0).rate - 10 / 0.81) < 1e-9);
    frame(0x2);
    QVERIFY(qAbs(statistics.rows().at(1).rate - 1 / 0.9) < 1e-9);
    stamp = 20500;
    frame(0x2);
    QCOMPARE(statistics.rows().at(0).rate, 10.0);
    QCOMPARE(statistics.rows().at(1).rate, 1.0);
    stamp = 45000;
    frame(0x2);
    QCOMPARE(statistics.rows().at(0).rate, 0.0);
    QCOMPARE(statistics.rows().at(1).rate, 0.0);
    QCOMPARE(statistics.now(), 3.5);
    statistics.clear();
    QVERIFY(statistics.rows().isEmpty());
    QCOMPARE(statistics.indexOf(0x1, false), -1);
}

QTEST_MAIN(tst_KvIdStatistics)
#include "tst_kvidstatistics.moc"
