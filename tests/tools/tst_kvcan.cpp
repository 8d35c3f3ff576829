#include "kvformatregistry.h"

#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtNetwork/QTcpSocket>
#include <QtTest/QtTest>

#include <csignal>

// Runs the command-line tool as a user would and checks exit codes and the key lines it prints.
class tst_Kvcan : public QObject
{
    Q_OBJECT
private slots:
    void commandsDoTheirWork_data();
    void commandsDoTheirWork();
    void monitorShowsFramesFromAnotherProcessOnABridgedBus();
    void convertKeepsEveryFrame();
    void recordingStoppedBySignalIsComplete_data();
    void recordingStoppedBySignalIsComplete();
    void tasksRunInEachMode_data();
    void tasksRunInEachMode();
    void errorsGiveOneLineAndNonZeroExit_data();
    void errorsGiveOneLineAndNonZeroExit();
    void everyCommandHasHelp_data();
    void everyCommandHasHelp();

private:
    struct Result
    {
        int code;
        QString out;
        QString err;
    };
    static Result run(const QStringList &args, int timeoutMs = 60000);
    static QString example(const char *name) { return QStringLiteral(KAVRI_EXAMPLES "/") + name; }
    QString write(const QString &name, const QByteArray &content);
    QTemporaryDir dir;
};

QString tst_Kvcan::write(const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return f.fileName();
}

// Padded as other tools write it. Read as our own ASC form, the event lines would count as
// frames too.
static const char otherAsc[] = "date Fri Jul 10 06:17:32 2015\n"
                               "base hex  timestamps absolute\n"
                               "internal events logged\n"
                               "Begin Triggerblock Fri Jul 10 06:17:32 2015\n"
                               " 0.000000 Start of measurement\n"
                               " 0.001000 1  123             Rx   d 2 11 22\n"
                               " 0.002000 1  ErrorFrame\n"
                               " 0.002000 1  1A2B3Cx         Rx   d 1 33\n"
                               " 0.003000 2  7DF             Rx   r 4\n"
                               "End TriggerBlock\n";
static const char candumpLog[] = "(1436509052.249713) can0 123#1122\n"
                                 "(1436509052.250713) can0 001A2B3C#33\n"
                                 "(1436509052.251713) can0 20000080#0000000000000000\n"
                                 "(1436509052.252713) can1 7DF#R4\n";

tst_Kvcan::Result tst_Kvcan::run(const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.start(QStringLiteral(KVCAN_PATH), args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromLocal8Bit(p.readAllStandardOutput()), QStringLiteral("timed out")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

void tst_Kvcan::commandsDoTheirWork_data()
{
    // Each pattern must match somewhere in what the command prints.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("patterns");
    const auto row = [](const char *name, const QStringList &args, const QStringList &patterns) {
        QTest::newRow(name) << args << patterns;
    };
    row("demo", {"demo", "--seconds", "2"},
        {"FwData", // traffic with names
         "Watch list, channel 0", "bus load [0-9.]+ %",
         "frames received on channel 0: (\\d+) = \\1 OK",
         "frames received on channel 1: (\\d+) = \\1 OK", "matches the digest frames: verified",
         "all checks passed"});
    const QStringList threeFrames{"123#1122", "18FEF100#0102030405060708", "7DF#R"};
    row("send", QStringList{"send", "--wire", "1"} + threeFrames,
        {"sent 3 frames on channel 0", "received 3 frames on channel 1",
         "ch1 Rx .*00000123 .*Data +Standard 2 11 22",
         "ch1 Rx .*18FEF100 .*Extend +8 01 02 03 04 05 06 07 08",
         "ch1 Rx .*000007DF .*Remote Standard 0"});
    row("monitor of frames sent on the wire",
        {"monitor", "--channel", "1", "--wire", "0", "--seconds", "1", "--watch", "--send",
         "123#01", "--send", "123#03", "--send", "456#AA", "--not", "400-4FF"},
        {"2 frames shown, 3 received", "^(?![\\s\\S]*00000456 )", // 456 filtered out
         "ch1 Rx .*00000123 [\\s\\S]*ch1 Rx .*00000123 ",
         "00000123 .*1  03\\*"}); // changed byte marked
    row("monitor with a recording",
        {"monitor", "--wire", "1", "--seconds", "1", "--send", "123#11", "--record",
         dir.filePath("monitor.log")},
        {"1 frames shown, 1 received", "recorded 1 frames into .*monitor.log"});
    row("flash", {"flash", example("firmware.bin"), "--wire", "1"},
        {"flashed 2000 bytes on channel 0", "received 2000 bytes in 250 frames", "verified"});

    const auto replay = [](const char *name, const QString &file, const QStringList &extra,
                           int frames) {
        QTest::newRow(name) << QStringList{"replay", file, "--wire", "1"} + extra
                            << QStringList{QStringLiteral("replayed %1 frames").arg(frames),
                                           "100%"};
    };
    replay("replay asc", example("recording.asc"), {}, 200);
    replay("replay csv", example("recording.csv"), {}, 100);
    replay("replay binary by option", example("firmware.bin"), {"--format", "bin"}, 250);
    replay("replay asc from other tools, by content", write("other.asc", otherAsc), {}, 3);
    replay("replay asc from other tools, by option", write("other.txt", otherAsc),
           {"--format", "asclog"}, 3);
    replay("replay candump log, by content", write("dump.log", candumpLog), {}, 3);
    replay("replay candump log without an ending, by content", write("dump", candumpLog), {}, 3);
    replay("replay candump log, by option", write("dump.txt", candumpLog), {"--format", "candump"},
           3);
}

void tst_Kvcan::commandsDoTheirWork()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, patterns);
    const Result r = run(args, 120000);
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    for (const QString &pattern : patterns)
        QVERIFY2(r.out.contains(QRegularExpression(pattern)), qPrintable(pattern + '\n' + r.out));
}

// Qt's virtual CAN bus: the monitor starts the bus server, a second kvcan sends on it.
void tst_Kvcan::monitorShowsFramesFromAnotherProcessOnABridgedBus()
{
    QProcess monitor;
    monitor.start(QStringLiteral(KVCAN_PATH),
                  {"monitor", "--bus", "virtualcan:can0", "--seconds", "4"});
    QVERIFY(monitor.waitForStarted());
    const auto busListening = [] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 35468);
        return probe.waitForConnected(200);
    };
    QTRY_VERIFY_WITH_TIMEOUT(busListening(), 10000);
    const Result sender =
        run({"send", "--bus", "virtualcan:can0", "123#1122", "18FEF100#0102030405060708", "7DF#R"});
    QVERIFY2(sender.code == 0, qPrintable(sender.out + sender.err));
    QVERIFY(sender.out.contains("sent 3 frames on channel 0"));
    QVERIFY(monitor.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(monitor.readAllStandardOutput());
    QVERIFY2(monitor.exitCode() == 0, qPrintable(out + monitor.readAllStandardError()));
    QVERIFY2(out.contains(QRegularExpression("ch0 Rx .*00000123 .*Data +Standard 2 11 22")),
             qPrintable(out));
    QVERIFY(
        out.contains(QRegularExpression("ch0 Rx .*18FEF100 .*Extend +8 01 02 03 04 05 06 07 08")));
    QVERIFY(out.contains(QRegularExpression("ch0 Rx .*000007DF .*Remote Standard 0")));
    QVERIFY(out.contains("3 frames shown, 3 received"));
}

// A recording through two conversions comes back frame for frame, with the summary line.
void tst_Kvcan::convertKeepsEveryFrame()
{
    QTemporaryDir dir;
    const QString blf = dir.filePath("r.blf");
    const QString log = dir.filePath("r.log");
    Result r = run({"convert", example("recording.asc"), blf});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    const QRegularExpressionMatch m =
        QRegularExpression("^converted ([0-9,]+) frames, skipped 0 lines, 0 error frames\n$")
            .match(r.out);
    QVERIFY2(m.hasMatch(), qPrintable(r.out));
    QVERIFY(r.err.isEmpty()); // no progress bar off a terminal
    r = run({"convert", blf, log, "--to", "candump"});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    QVERIFY(r.out.startsWith("converted " + m.captured(1) + " frames"));
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().count('\n'), m.captured(1).remove(',').toInt());
}

void tst_Kvcan::recordingStoppedBySignalIsComplete_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("file");
    QTest::newRow("SIGINT, asc") << int(SIGINT) << "int.asc";
    QTest::newRow("SIGTERM, blf") << int(SIGTERM) << "term.blf";
    QTest::newRow("SIGINT, candump") << int(SIGINT) << "int.log";
}

// A recording on Qt's virtual CAN bus, fed by a second kvcan, stopped by a signal mid-way: the
// frames are readable while it runs (the recorder flushes), and the file is whole after the stop.
void tst_Kvcan::recordingStoppedBySignalIsComplete()
{
    QFETCH(int, signal);
    QFETCH(QString, file);
    const QString path = dir.filePath(file);
    QProcess recorder;
    recorder.start(QStringLiteral(KVCAN_PATH), {"record", path, "--bus", "virtualcan:can0"});
    QVERIFY(recorder.waitForStarted());
    const auto busListening = [] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 35468);
        return probe.waitForConnected(200);
    };
    QTRY_VERIFY_WITH_TIMEOUT(busListening(), 10000);
    const Result sender =
        run({"send", "--bus", "virtualcan:can0", "123#1122", "18FEF100#0102030405060708", "7DF#R"});
    QVERIFY2(sender.code == 0, qPrintable(sender.out + sender.err));
    const auto framesIn = [&] {
        QString error;
        std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, {}, &error);
        QStringList ids;
        KvFrame f;
        while (reader && reader->read(f) == KvFrameReader::Frame)
            ids << QString::number(f.id, 16) + (f.remote ? "r" : "");
        return ids;
    };
    const QStringList expected{"123", "18fef100", "7dfr"};
    QTRY_COMPARE_WITH_TIMEOUT(framesIn(), expected, 10000);
    ::kill(pid_t(recorder.processId()), signal);
    QVERIFY(recorder.waitForFinished(20000));
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QVERIFY2(recorder.exitCode() == 0, recorder.readAllStandardError().constData());
    QVERIFY(recorder.readAllStandardOutput().contains("recorded 3 frames into"));
    QCOMPARE(framesIn(), expected);
    if (file.endsWith(".asc")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().endsWith("End TriggerBlock\n")); // closed, not cut off
    }
}

void tst_Kvcan::tasksRunInEachMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("sequential") << "sequential";
    QTest::newRow("cyclic") << "cyclic";
    QTest::newRow("parallel") << "parallel";
}

void tst_Kvcan::tasksRunInEachMode()
{
    QFETCH(QString, mode);
    const Result r = run({"tasks", example("tasks.xml"), "--mode", mode, "--seconds", "1"});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    QVERIFY(r.out.contains("3 tasks:"));
    QVERIFY(r.out.contains("Normal Send"));
    const QRegularExpressionMatch m =
        QRegularExpression("(\\d+) frames sent on channel 0 in " + mode + " mode").match(r.out);
    QVERIFY2(m.hasMatch(), qPrintable(r.out));
    if (mode == "sequential")
        QCOMPARE(m.captured(1).toInt(), 5 + 6 + 2); // each task's times x frames, once
    else
        QVERIFY(m.captured(1).toInt() > 13);
}

void tst_Kvcan::errorsGiveOneLineAndNonZeroExit_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing replay file")
        << QStringList{"replay", "/nonexistent/x.asc"} << "no such file";
    QTest::newRow("missing image") << QStringList{"flash", "/nonexistent/fw.bin"} << "cannot open";
    QTest::newRow("missing task list")
        << QStringList{"tasks", "/nonexistent/t.xml"} << "cannot open";
    QTest::newRow("bad frame") << QStringList{"send", "12G#11"} << "bad frame";
    QTest::newRow("too much data") << QStringList{"send", "123#112233445566778899"} << "bad frame";
    QTest::newRow("standard id too big") << QStringList{"send", "800#"} << "bad frame";
    QTest::newRow("not a recording")
        << QStringList{"replay", example("tasks.xml")} << "not a recording of any known format";
    QTest::newRow("log that is not a candump log")
        << QStringList{"replay", write("notes.log", "started the bench\n")}
        << "not a recording of any known format";
    QTest::newRow("content that contradicts the format asked for")
        << QStringList{"replay", example("recording.asc"), "--format", "blf"} << "not a blf";
    QTest::newRow("unknown format option")
        << QStringList{"replay", example("recording.asc"), "--format", "mdf"} << "unknown format";
    QTest::newRow("random bytes named .asc")
        << QStringList{"replay", write("noise.asc", QByteArray(5000, '\x01'))}
        << "not a recording of any known format";
    QTest::newRow("convert: input refused")
        << QStringList{"convert", write("noise2.asc", QByteArray(5000, '\x01')), "out.csv"}
        << "not a recording";
    QTest::newRow("convert: missing output folder")
        << QStringList{"convert", example("recording.asc"), "/nonexistent/out.blf"}
        << "/nonexistent/out.blf";
    QTest::newRow("convert: output is a folder")
        << QStringList{"convert", example("recording.asc"), "/tmp", "--to", "csv"}
        << "not a regular file";
    QTest::newRow("convert: nothing to convert")
        << QStringList{"convert", write("fd.log", "(1.0) can0 123##1AA\n"), write("fd.csv", "")}
        << "nothing converted";
    QTest::newRow("bad bit rate") << QStringList{"send", "--bitrate", "333k", "1#"} << "bit rate";
    QTest::newRow("channel beyond device")
        << QStringList{"send", "--device-type", "3", "--channel", "1", "1#"}
        << "cannot start channel";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command";
    QDir(dir.path()).mkpath("folder.asc");
    QTest::newRow("record into a missing folder")
        << QStringList{"record", "/nonexistent/x.asc", "--seconds", "1"}
        << "/nonexistent/x.asc: No such file or directory";
    QTest::newRow("record into a folder")
        << QStringList{"record", dir.filePath("folder.asc"), "--seconds", "1"}
        << "not a regular file";
    QTest::newRow("record in a read-only format")
        << QStringList{"record", dir.filePath("x.bin")} << "no writable format";
    QTest::newRow("record with both rotations")
        << QStringList{"record", dir.filePath("x.asc"), "--max-size", "1M", "--max-time", "1m"}
        << "choose one";
    QTest::newRow("record with a bad size")
        << QStringList{"record", dir.filePath("x.asc"), "--max-size", "lots"} << "--max-size";
    QTest::newRow("missing bus plugin") << QStringList{"send", "--bus", "nosuchplugin:can0", "1#"}
                                        << "(error 0x0800) on nosuchplugin:can0";
    QTest::newRow("bus without interface")
        << QStringList{"send", "--bus", "socketcan", "1#"} << "bad --bus";
    QTest::newRow("bus with wire")
        << QStringList{"send", "--bus", "virtualcan:can0", "--wire", "1", "1#"} << "--wire";
}

void tst_Kvcan::errorsGiveOneLineAndNonZeroExit()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Result r = run(args);
    QVERIFY2(r.code > 0, qPrintable(QString::number(r.code) + r.err));
    QVERIFY2(r.err.startsWith("kvcan: ") && r.err.contains(message), qPrintable(r.err));
}

void tst_Kvcan::everyCommandHasHelp_data()
{
    QTest::addColumn<QString>("command");
    for (const char *c : {"demo", "monitor", "send", "record", "replay", "flash", "tasks"})
        QTest::newRow(c) << QString::fromLatin1(c);
}

void tst_Kvcan::everyCommandHasHelp()
{
    QFETCH(QString, command);
    const Result r = run({command, "--help"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains("Usage:"));
    QVERIFY(r.out.contains("--help"));
}

QTEST_GUILESS_MAIN(tst_Kvcan)
#include "tst_kvcan.moc"
