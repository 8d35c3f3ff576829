#include "busmapping_p.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(BusTarget)

// Which channels a mapping text puts on which Qt CAN bus interface, and where the text comes from.
class tst_BusMapping : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void source_data();
    void source();
};

void tst_BusMapping::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("type");
    QTest::addColumn<uint>("index");
    QTest::addColumn<int>("channels"); // mapped channels of that device
    QTest::addColumn<uint>("channel");
    QTest::addColumn<BusTarget>("target"); // of `channel`

    const BusTarget can0{"socketcan", "can0"};
    QTest::newRow("one entry") << "4:0:0=socketcan:can0" << 4u << 0u << 1 << 0u << can0;
    QTest::newRow("two channels, ';'") << "4:0:0=socketcan:can0;4:0:1=virtualcan:can1" << 4u << 0u
                                       << 2 << 1u << BusTarget{"virtualcan", "can1"};
    QTest::newRow("lines and comments") << "# bench\n4:0:0 = socketcan : can0\r\n\n"
                                        << 4u << 0u << 1 << 0u << can0;
    QTest::newRow("interface keeps its colons")
        << "4:0:1=virtualcan:tcp://127.0.0.1:35468/can1" << 4u << 0u << 1 << 1u
        << BusTarget{"virtualcan", "tcp://127.0.0.1:35468/can1"};
    QTest::newRow("other device not mapped")
        << "4:1:0=socketcan:can0" << 4u << 0u << 0 << 0u << BusTarget{};
    QTest::newRow("later entry wins")
        << "4:0:0=socketcan:can9;4:0:0=socketcan:can0" << 4u << 0u << 1 << 0u << can0;
    QTest::newRow("channel beyond the type skipped")
        << "3:0:1=socketcan:can1;3:0:0=socketcan:can0" << 3u << 0u << 1 << 0u << can0;
    QTest::newRow("four-channel type")
        << "14:2:3=peakcan:usb0" << 14u << 2u << 1 << 3u << BusTarget{"peakcan", "usb0"};
    QTest::newRow("bad key skipped")
        << "4:x:0=socketcan:can0;4:0=socketcan:can0" << 4u << 0u << 0 << 0u << BusTarget{};
    QTest::newRow("no interface kept as empty target")
        << "4:0:0=socketcan" << 4u << 0u << 1 << 0u << BusTarget{};
    QTest::newRow("empty text") << "" << 4u << 0u << 0 << 0u << BusTarget{};
}

void tst_BusMapping::parse()
{
    QFETCH(QString, text);
    QFETCH(uint, type);
    QFETCH(uint, index);
    QFETCH(int, channels);
    QFETCH(uint, channel);
    QFETCH(BusTarget, target);
    const std::map<uint32_t, BusTarget> mapped = BusMapping::parse(text).device(type, index);
    QCOMPARE(int(mapped.size()), channels);
    if (channels > 0) {
        QVERIFY(mapped.count(channel));
        QCOMPARE(mapped.at(channel).plugin, target.plugin);
        QCOMPARE(mapped.at(channel).interface, target.interface);
        QCOMPARE(mapped.at(channel).isValid(), !target.plugin.isEmpty());
    }
}

void tst_BusMapping::source_data()
{
    QTest::addColumn<bool>("envSet");
    QTest::addColumn<QString>("env");
    QTest::addColumn<QString>("file"); // what ControlCAN.ini is: none, mapping, large, fifo, folder
    QTest::addColumn<QString>("expected"); // interface of 4:0:0, empty for none

    QTest::newRow("variable wins over file") << true << "4:0:0=virtualcan:can0"
                                             << "mapping"
                                             << "can0";
    QTest::newRow("file when variable unset") << false << ""
                                              << "mapping"
                                              << "can1";
    QTest::newRow("empty variable maps nothing") << true << ""
                                                 << "mapping"
                                                 << "";
    QTest::newRow("neither") << false << ""
                             << "none"
                             << "";
    // A mapping is a few lines; a file past 1 MB is refused before it is read.
    QTest::newRow("file larger than 1 MB") << false << ""
                                           << "large"
                                           << "";
    // Opening a FIFO would block until a writer comes.
    QTest::newRow("FIFO") << false << ""
                          << "fifo"
                          << "";
    QTest::newRow("folder") << false << ""
                            << "folder"
                            << "";
}

void tst_BusMapping::source()
{
    QFETCH(bool, envSet);
    QFETCH(QString, env);
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString ini = dir.filePath("ControlCAN.ini");
    if (file == "mapping" || file == "large") {
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# bench adapter\n4:0:0=virtualcan:can1\n");
        if (file == "large")
            f.write("#" + QByteArray(1 << 20, ' ') + "\n");
    } else if (file == "fifo") {
        QVERIFY(mkfifo(QFile::encodeName(ini).constData(), 0600) == 0);
    } else if (file == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("ControlCAN.ini"));
    }
    const QByteArray envBytes = env.toLocal8Bit();
    const std::map<uint32_t, BusTarget> mapped =
        BusMapping::load(envSet ? envBytes.constData() : nullptr, ini).device(4, 0);
    QCOMPARE(mapped.count(0) ? mapped.at(0).interface : QString(), expected);
}

QTEST_APPLESS_MAIN(tst_BusMapping)
#include "tst_busmapping.moc"
