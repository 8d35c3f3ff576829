#include "devcan.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

namespace {

VCI_INIT_CONFIG config(quint8 t0 = 0x00, quint8 t1 = 0x1C)
{
    VCI_INIT_CONFIG c{};
    c.AccMask = 0xFFFFFFFF;
    c.Timing0 = t0;
    c.Timing1 = t1;
    return c;
}

// Opens `dev` on the simulated adapter and initialises and starts `channels` channels.
bool openStarted(DevCan &dev, ulong type, ulong channels = 0)
{
    if (dev.openDevice(type, 0, 0) != 1)
        return false;
    for (ulong ch = 0; ch < channels; ++ch) {
        VCI_INIT_CONFIG c = config();
        if (dev.initCAN(ch, &c) != 1 || dev.StartCAN(ch) != 1)
            return false;
    }
    return true;
}

} // namespace

class tst_DevCan : public QObject
{
    Q_OBJECT
private slots:
    void init() { VSIM_Reset(); }

    void bitRate_data();
    void bitRate();
    void channelsByType_data();
    void channelsByType();
    void channelBeyondCountNeverReachesAdapter();
    void failedCallsKeepTheState();
    void closeAlwaysSucceeds();
    void assignmentSharesTheLibrary();
};

void tst_DevCan::bitRate_data()
{
    QTest::addColumn<int>("timing0");
    QTest::addColumn<int>("timing1");
    QTest::addColumn<uint>("rate");
    QTest::newRow("500k") << 0x00 << 0x1C << 500000u;
    QTest::newRow("1M") << 0x00 << 0x14 << 1000000u;
    QTest::newRow("250k") << 0x01 << 0x1C << 250000u;
    QTest::newRow("125k") << 0x03 << 0x1C << 125000u;
    QTest::newRow("10k") << 0x31 << 0x1C << 10000u;
    QTest::newRow("all bits set") << 0xFF << 0xFF << 5000u;
    QTest::newRow("ignored bits only") << 0xC0 << 0x80 << 2666666u;
}

// The rate follows from the timing registers, and initialising a channel records it.
void tst_DevCan::bitRate()
{
    QFETCH(int, timing0);
    QFETCH(int, timing1);
    QFETCH(uint, rate);
    QCOMPARE(DevCan::bitRate(quint8(timing0), quint8(timing1)), rate);

    DevCan dev;
    QVERIFY(openStarted(dev, 4));
    VCI_INIT_CONFIG c = config(quint8(timing0), quint8(timing1));
    QCOMPARE(dev.initCAN(1, &c), 1ul);
    QVERIFY(dev.isInited(1));
    QCOMPARE(dev.maxBaudrate(1), int(rate));
    QCOMPARE(dev.maxBaudrate(0), 1); // untouched channel
}

void tst_DevCan::channelsByType_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<uint>("channels");
    for (uint t : {4u, 5u, 24u})
        QTest::addRow("type %u", t) << t << 2u;
    QTest::newRow("type 14") << 14u << 4u;
    QTest::newRow("type 3") << 3u << 1u;
}

void tst_DevCan::channelsByType()
{
    QFETCH(uint, type);
    QFETCH(uint, channels);
    DevCan dev;
    QVERIFY(dev.isLoaded() && dev.isClose());
    QCOMPARE(dev.getChannels(), 1ul); // before opening
    QCOMPARE(dev.openDevice(type, 2, 0), 1ul);
    QVERIFY(dev.isOpen());
    QCOMPARE(dev.getDevType(), ulong(type));
    QCOMPARE(dev.getDevIndex(), 2ul);
    QCOMPARE(dev.getChannels(), ulong(channels));
    QVERIFY(dev.isValid(channels - 1));
    QVERIFY(!dev.isValid(channels));
}

void tst_DevCan::channelBeyondCountNeverReachesAdapter()
{
    DevCan dev;
    QVERIFY(openStarted(dev, 4));
    VCI_INIT_CONFIG c = config();
    VCI_CAN_STATUS status{};
    QCOMPARE(dev.initCAN(2, &c), 0ul);
    QCOMPARE(dev.StartCAN(2), 0ul);
    QCOMPARE(dev.ResetCAN(3), 0ul);
    QCOMPARE(dev.readCANStatus(2, &status), 0ul);
    QCOMPARE(VSIM_CallCount("VCI_InitCAN") + VSIM_CallCount("VCI_StartCAN") +
                 VSIM_CallCount("VCI_ResetCAN") + VSIM_CallCount("VCI_ReadCANStatus"),
             0u);
    QVERIFY(!dev.isInited(2));
    QCOMPARE(dev.maxBaudrate(4), 0);
}

// Anything but 1 from the adapter is a failure, and a failed step leaves the manager as it was.
void tst_DevCan::failedCallsKeepTheState()
{
    DevCan dev;
    for (uint forced : {0u, 2u}) {
        VSIM_ForceResult(14, 3, "VCI_OpenDevice", forced, 1);
        QCOMPARE(dev.openDevice(14, 3, 0), 0ul);
        QCOMPARE(dev.getDevType() + dev.getDevIndex(), 0ul);
        QVERIFY(dev.isClose());
        QCOMPARE(dev.getChannels(), 1ul);
    }

    QVERIFY(openStarted(dev, 4, 1));
    QVERIFY(dev.isStarted(0));
    QVERIFY(!dev.isInited(0)); // a started channel no longer reports initialised
    VSIM_ForceResult(4, 0, "VCI_InitCAN", 0, 1);
    VCI_INIT_CONFIG other = config(0x00, 0x14);
    QCOMPARE(dev.initCAN(0, &other), 0ul);
    QCOMPARE(dev.maxBaudrate(0), 500000);
    QVERIFY(dev.isStarted(0));

    VSIM_ForceResult(4, 0, "VCI_ResetCAN", 0, 1);
    QCOMPARE(dev.ResetCAN(0), 0ul);
    QVERIFY(dev.isStarted(0));
    QCOMPARE(dev.ResetCAN(0), 1ul);
    QVERIFY(dev.isReset(0));
    VSIM_ForceResult(4, 0, "VCI_StartCAN", 0, 1);
    QCOMPARE(dev.StartCAN(0), 0ul);
    QVERIFY(dev.isReset(0));
    QCOMPARE(dev.StartCAN(0), 1ul);
}

void tst_DevCan::closeAlwaysSucceeds()
{
    DevCan dev;
    QVERIFY(openStarted(dev, 4));
    dev.closingDevice();
    QVERIFY(!dev.isOpen() && !dev.isClose());
    VSIM_ForceResult(4, 0, "VCI_CloseDevice", 0, 1);
    QCOMPARE(dev.closeDevice(), 1ul);
    QVERIFY(dev.isClose());
    QCOMPARE(dev.getChannels(), 2ul); // closing leaves the channel count alone
}

void tst_DevCan::assignmentSharesTheLibrary()
{
    DevCan copy;
    {
        DevCan source;
        QVERIFY(openStarted(source, 14));
        copy = source;
    }
    // The source is gone; the copy still holds the library and the device fields.
    QVERIFY(copy.isLoaded() && copy.isOpen());
    QCOMPARE(copy.getChannels(), 4ul);
    VCI_INIT_CONFIG c = config();
    QCOMPARE(copy.initCAN(3, &c), 1ul);
}

QTEST_GUILESS_MAIN(tst_DevCan)
#include "tst_devcan.moc"
