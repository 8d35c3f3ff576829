#include "canbusbridge_p.h"
#include "vci_sim.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtTest/QtTest>

// A host without a QCoreApplication: Qt would deliver no events to a bus device, so a mapped
// device fails to open at once with a record saying why, and every other device stays simulated.
class tst_CanBusBridgeNoApp : public QObject
{
    Q_OBJECT
private slots:
    void mappedDeviceFailsCleanly();
};

void tst_CanBusBridgeNoApp::mappedDeviceFailsCleanly()
{
    QVERIFY(!QCoreApplication::instance());
    qputenv("KAVRI_CANBUS", "4:0:1=virtualcan:can1");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(VCI_OpenDevice(4, 0, 0), 0u);
    QVERIFY(timer.elapsed() < 1000);
    VCI_ERR_INFO info{};
    QCOMPARE(VCI_ReadErrInfo(4, 0, 1, &info), 1u);
    QCOMPARE(info.ErrCode, uint32_t(BridgeErrNoDevice));
    QCOMPARE(info.Passive_ErrData[0], quint8(NoApplication));
    QCOMPARE(VCI_ReadErrInfo(4, 0, 1, &info), 0u);
    QCOMPARE(VCI_CloseDevice(4, 0), 1u);

    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_OpenDevice(4, 1, 0), 1u);
    QCOMPARE(VCI_InitCAN(4, 1, 1, &config), 1u);
    QCOMPARE(VCI_StartCAN(4, 1, 1), 1u);
    VCI_CAN_OBJ f{};
    f.ID = 0x321;
    QCOMPARE(VSIM_Inject(4, 1, 1, &f, 1), 1u);
    VCI_CAN_OBJ got{};
    QCOMPARE(VCI_Receive(4, 1, 1, &got, 1, 0), 1u);
    QCOMPARE(got.ID, 0x321u);
}

QTEST_APPLESS_MAIN(tst_CanBusBridgeNoApp)
#include "tst_canbusbridge_noapp.moc"
