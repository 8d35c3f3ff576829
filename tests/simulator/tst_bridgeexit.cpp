#include <QtCore/QProcess>
#include <QtTest/QtTest>

// A host that bridged a device exits cleanly, whether it closed the device or not: the adapter
// library stops its I/O thread before its code can go away.
class tst_BridgeExit : public QObject
{
    Q_OBJECT
private slots:
    void exitsCleanly_data();
    void exitsCleanly();
};

void tst_BridgeExit::exitsCleanly_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("device closed before exit") << "close";
    QTest::newRow("device still started at exit") << "keep";
}

void tst_BridgeExit::exitsCleanly()
{
    QFETCH(QString, mode);
    QProcess host;
    host.start(QStringLiteral(BRIDGEEXIT_HELPER), {mode});
    QVERIFY(host.waitForFinished(20000));
    const QByteArray out = host.readAllStandardOutput();
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    QCOMPARE(out.trimmed(), QByteArray("open 1 init 1 start 1 transmit 1"));
}

QTEST_GUILESS_MAIN(tst_BridgeExit)
#include "tst_bridgeexit.moc"
