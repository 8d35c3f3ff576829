#include "devcan.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtTest/QtTest>

class tst_DevCanNoAdapter : public QObject
{
    Q_OBJECT
private slots:
    void adapterInWorkingDirectoryIsIgnored();
    void everyCallAnswersZero();
};

void tst_DevCanNoAdapter::adapterInWorkingDirectoryIsIgnored()
{
    // The test runs in the build's output folder, which holds an adapter library, and with that
    // folder on the library search path; neither may be used.
    QVERIFY(QFile::exists(QDir::current().filePath(QStringLiteral("libControlCAN.so"))));
    QVERIFY(!DevCan::instance().isLoaded());
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("libControlCAN"));
}

void tst_DevCanNoAdapter::everyCallAnswersZero()
{
    DevCan &dev = DevCan::instance();
    VCI_INIT_CONFIG config{};
    VCI_CAN_OBJ frames[4]{};
    VCI_ERR_INFO err{};
    VCI_BOARD_INFO board{};
    VCI_CAN_STATUS status{};
    QCOMPARE(dev.openDevice(4, 0, 0), 0ul);
    QVERIFY(dev.isClose());
    QCOMPARE(dev.initCAN(0, &config), 0ul);
    QCOMPARE(dev.StartCAN(0), 0ul);
    QCOMPARE(dev.ResetCAN(0), 0ul);
    QCOMPARE(dev.Transmit(0, frames, 4), 0ul);
    QCOMPARE(dev.Receive(0, frames, 4, 0), 0ul);
    QCOMPARE(dev.readErrInfo(0, &err), 0ul);
    QCOMPARE(dev.readBoardInfo(&board), 0ul);
    QCOMPARE(dev.readCANStatus(0, &status), 0ul);
    QCOMPARE(dev.getReceiveNum(0), 0ul);
    QCOMPARE(dev.clearBuffer(0), 0ul);
    QCOMPARE(dev.getReference(0, 1, nullptr), 0ul);
    QCOMPARE(dev.setReference(0, 1, nullptr), 0ul);
    QCOMPARE(dev.closeDevice(), 1ul); // closing is always reported done
    QVERIFY(dev.isClose());
}

QTEST_GUILESS_MAIN(tst_DevCanNoAdapter)
#include "tst_devcan_noadapter.moc"
