#include "canreadthread.h"
#include "devcan.h"
#include "kvdevicesession.h"

#include <QtTest/QtTest>

// Run beside a stand-in for the maker's adapter library, which has the fourteen entry points
// and no simulator control.
class tst_KvDeviceSessionStandIn : public QObject
{
    Q_OBJECT
private slots:
    void startsWithTheMakersLibrary();
    void simulatorRequestsFailWithTheirReason_data();
    void simulatorRequestsFailWithTheirReason();
};

void tst_KvDeviceSessionStandIn::startsWithTheMakersLibrary()
{
    QVERIFY(DevCan::instance().isLoaded());
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 500000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    QVERIFY(session.status(0).started);
    session.stop();
    QCOMPARE(session.state(), KvDeviceSession::Closed);
}

void tst_KvDeviceSessionStandIn::simulatorRequestsFailWithTheirReason_data()
{
    QTest::addColumn<bool>("wire");
    QTest::addColumn<QString>("message");
    QTest::newRow("wire") << true << "the adapter library has no simulator control (VSIM_Connect)";
    QTest::newRow("bus timing")
        << false << "the adapter library has no simulator control (VSIM_SetBusTiming)";
}

void tst_KvDeviceSessionStandIn::simulatorRequestsFailWithTheirReason()
{
    QFETCH(bool, wire);
    QFETCH(QString, message);
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 500000);
    session.addChannel(1, 500000);
    QVERIFY(session.start());
    QSignalSpy states(&session, &KvDeviceSession::stateChanged);
    QVERIFY(!(wire ? session.wire(0, 1) : session.setSimulatedBusTiming(true)));
    QCOMPARE(session.errorString(), message);
    // Nothing else changed: the channels still run.
    QCOMPARE(session.state(), KvDeviceSession::Started);
    QCOMPARE(states.count(), 0);
    QVERIFY(session.reader(1) && session.reader(1)->isRunning());
}

QTEST_MAIN(tst_KvDeviceSessionStandIn)
#include "tst_kvdevicesession_standin.moc"
