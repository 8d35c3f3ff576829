#include "kvnamexmlreader.h"
#include "kvnamexmlwriter.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>
#include <QtWidgets/QTableWidget>

#include <sys/stat.h>

namespace {

QByteArray document(const QByteArray &body)
{
    return "<?xml version='1.0'?>\n<!DOCTYPE xml>\n<xml version='1.0'>" + body + "</xml>\n";
}

// Entities that multiply by ten nine times over: far past any sane expansion once referenced.
QByteArray laughs(const QByteArray &root)
{
    QByteArray doc = "<!DOCTYPE xml [<!ENTITY e0 'lol'>";
    for (int i = 1; i < 10; ++i)
        doc += "<!ENTITY e" + QByteArray::number(i) + " '" +
               ("&e" + QByteArray::number(i - 1) + ";").repeated(10) + "'>";
    return doc + "]>" + root;
}

bool read(const QByteArray &doc, QTableWidget &table, QString *error = nullptr)
{
    QBuffer buffer;
    buffer.setData(doc);
    buffer.open(QIODevice::ReadOnly);
    KvNameXmlReader reader(&table);
    const bool ok = reader.readFile(&buffer);
    if (error)
        *error = reader.errorString();
    return ok;
}

QByteArray write(QTableWidget &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return KvNameXmlWriter(&table).writeFile(&buffer) ? buffer.data() : "write failed";
}

taskObj rowTask(const QTableWidget &table, int row)
{
    return table.item(row, 0)->data(Qt::UserRole).value<taskObj>();
}

// "texts of the four cells | what the document carries of the task"
QStringList tableTexts(const QTableWidget &table)
{
    QStringList rows;
    for (int row = 0; row < table.rowCount(); ++row) {
        const taskObj t = rowTask(table, row);
        const CanObj f = t.at(0).at(0);
        QStringList cells;
        for (int column = 0; column < 4; ++column)
            cells << table.item(row, column)->text();
        rows << cells.join(QLatin1Char('|')) +
                    QString::asprintf("|%d %d %d %d %d|%u %u %u %u %u ", t.frames, t.interval,
                                      t.times, t.idIncrease, t.dataIncrease, f.ID, f.SendType,
                                      f.RemoteFlag, f.ExternFlag, f.DataLen) +
                    QByteArray(reinterpret_cast<const char *>(f.Data), 8).toHex();
    }
    return rows;
}

taskObj makeTask(QList<int> counts, quint32 id, QList<quint8> flags, const QByteArray &data)
{
    taskObj task;
    task.frames = counts.value(0);
    task.interval = counts.value(1);
    task.times = counts.value(2);
    task.idIncrease = counts.value(3);
    task.dataIncrease = counts.value(4);
    CanObj frame;
    frame.ID = id;
    frame.SendType = flags.value(0);
    frame.RemoteFlag = flags.value(1);
    frame.ExternFlag = flags.value(2);
    frame.DataLen = flags.value(3);
    memcpy(frame.Data, QByteArray::fromHex(data).leftJustified(8, '\0').constData(), 8);
    CanData burst;
    burst.push(frame);
    task.dataList << burst << CanData(); // only the first frame of the first burst is saved
    return task;
}

} // namespace

class tst_KvNameXml : public QObject
{
    Q_OBJECT
private slots:
    void roundTripThroughGoldenDocument();
    void readsElements_data();
    void readsElements();
    void bursts_data();
    void bursts();
    void failures_data();
    void failures();
    void writerSkipsRowsWithoutFrame();
    void noDeviceOrRefusingDevice();
    void frameLimit_data();
    void frameLimit();
    void readsOnlyRegularFiles_data();
    void readsOnlyRegularFiles();
};

void tst_KvNameXml::roundTripThroughGoldenDocument()
{
    QTableWidget source;
    KvNameXmlReader rows(&source);
    rows.addItem(makeTask({1, 10, 3, 0, 0}, 0x123, {0, 0, 0, 2}, "1122"));
    rows.addItem(makeTask({2, -5, 1, 1, 8}, 0x1ABCDEF0, {3, 1, 1, 8}, "01020304050607ff"));
    QFile golden(QStringLiteral(KAVRI_TEST_DATA "/tasklist.xml"));
    QVERIFY(golden.open(QIODevice::ReadOnly));
    const QByteArray doc = write(source);
    QCOMPARE(QString::fromUtf8(doc), QString::fromUtf8(golden.readAll()));

    QTableWidget loaded;
    QVERIFY(read(doc, loaded));
    QCOMPARE(tableTexts(loaded), tableTexts(source));
    QCOMPARE(tableTexts(loaded).first(), "Normal Send|00000123 |Data|Standard|1 10 3 0 0|"
                                         "291 0 0 0 2 1122000000000000");
    QCOMPARE(rowTask(loaded, 0).size(), 3);
    QCOMPARE(rowTask(loaded, 1).at(0).at(1).ID, 0x1ABCDEF1u);
}

void tst_KvNameXml::readsElements_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("rows");

    const QByteArray once = "<TaskObj Frames='1' Times='1' ";
    QTest::newRow("send types and flags")
        << (once + "SendType='1' ID='5' RemoteFlag='1'/>" + once +
            "SendType='2' ID='4294967295' ExternFlag='1' DataLen='0'/>")
        << QStringList{"Single Send|00000005 |Remote|Standard|1 0 1 0 0|5 1 1 0 1 0000000000000000",
                       "Send & Receive|ffffffff |Data|Extend|1 0 1 0 0|4294967295 2 0 1 0 "
                       "0000000000000000"};
    QTest::newRow("send type 4 has no text but is kept")
        << (once + "SendType='4' DataLen='2' Data='11 22 00 00 00 00 00 00'/>")
        << QStringList{"|00000000 |Data|Standard|1 0 1 0 0|0 4 0 0 2 1122000000000000"};
    QTest::newRow("low 8 bits of flags, unparseable numbers 0")
        << (once + "SendType='258' RemoteFlag='2' ExternFlag='257' ID='0x10' Interval='x'/>")
        << QStringList{"Send & Receive|00000000 |Data|Extend|1 0 1 0 0|0 2 2 1 1 "
                       "0000000000000000"};
    QTest::newRow("data tokens: last two characters, count gives DataLen")
        << (once + "Data='1 x2f zz  123'/>")
        << QStringList{"Normal Send|00000000 |Data|Standard|1 0 1 0 0|0 0 0 0 5 012f000023000000"};
    QTest::newRow("at most eight data tokens, DataLen at most 8")
        << (once + "Data='1 2 3 4 5 6 7 8 9'/>" + once + "DataLen='20'/>")
        << QStringList{"Normal Send|00000000 |Data|Standard|1 0 1 0 0|0 0 0 0 8 0102030405060708",
                       "Normal Send|00000000 |Data|Standard|1 0 1 0 0|0 0 0 0 8 0000000000000000"};
    QTest::newRow("tasks that send nothing add no row")
        << QByteArray("<TaskObj Frames='1' Times='0'/><TaskObj Frames='1' Times='-3'/>"
                      "<TaskObj Frames='0' Times='5'/><TaskObj Frames='-1' Times='5'/>")
        << QStringList();
    const QStringList sixth{"Normal Send|00000006 |Data|Standard|1 0 1 0 0|6 0 0 0 1 "
                            "0000000000000000"};
    QTest::newRow("unknown elements are skipped with their content")
        << ("<Note a='1'>text" + once + "ID='5'/></Note><!-- c -->" + once + "ID='6'/><Other/>")
        << sixth;
    QTest::newRow("deep nesting") << (QByteArray("<a>").repeated(200000) +
                                      QByteArray("</a>").repeated(200000) + once + "ID='6'/>")
                                  << sixth;
}

void tst_KvNameXml::readsElements()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    QTableWidget table;
    QVERIFY(read(document(body), table));
    QCOMPARE(tableTexts(table), rows);
}

void tst_KvNameXml::bursts_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("idIncrease");
    QTest::addColumn<int>("bursts");
    QTest::addColumn<int>("burstSize");

    QTest::newRow("ids run on across bursts") << 2 << 3 << 1 << 3 << 2;
    QTest::newRow("ids stay unless the increase is 1") << 2 << 2 << 2 << 2 << 2;
    QTest::newRow("huge frames capped per burst") << 1000000 << 3 << 1 << 3 << 100;
    QTest::newRow("huge times capped per task") << 1 << 2000000000 << 0 << 1000 << 1;
    QTest::newRow("both huge") << 2000000000 << 2000000000 << 1 << 10 << 100;
}

void tst_KvNameXml::bursts()
{
    QFETCH(int, frames);
    QFETCH(int, times);
    QFETCH(int, idIncrease);
    QFETCH(int, bursts);
    QFETCH(int, burstSize);
    QTableWidget table;
    QVERIFY(read(document(QString::asprintf("<TaskObj Frames='%d' Times='%d' IdIncrease='%d' "
                                            "ID='256'/>",
                                            frames, times, idIncrease)
                              .toLatin1()),
                 table));
    const taskObj task = rowTask(table, 0);
    QCOMPARE(task.getFrames(), frames);
    QCOMPARE(task.getTimes(), times);
    QCOMPARE(task.size(), bursts);
    quint32 id = 256; // 256 257 | 258 259 | 260 261 when the ID runs on
    for (int b = 0; b < bursts; ++b) {
        QCOMPARE(task.at(b).size(), burstSize);
        for (int f = 0; f < burstSize; ++f, id += idIncrease == 1 ? 1 : 0)
            QCOMPARE(task.at(b).at(f).ID, id);
    }
}

void tst_KvNameXml::failures_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rows");
    // Empty, truncated and mismatched documents are in the bad-input corpus (tst_badinput).
    const QString notOurs = QStringLiteral("The file is not an XBEL version 1.0 file.");
    const QByteArray task = "<TaskObj Frames='1' Times='1'/>";
    const QByteArray start = "<?xml version='1.0'?><xml version='1.0'>" + task;
    QTest::newRow("wrong root") << ("<root version='1.0'>" + task + "</root>") << notOurs << 0;
    QTest::newRow("wrong version") << ("<xml version='2.0'>" + task + "</xml>") << notOurs << 0;
    QTest::newRow("no version") << ("<xml>" + task + "</xml>") << notOurs << 0;
    QTest::newRow("only a declaration") << QByteArray("<?xml version='1.0'?>") << QString() << 0;
    QTest::newRow("cut before the root ends") << start << QString() << 1;
    QTest::newRow("content after the root") << (start + "</xml><xml/>") << QString() << 1;
    QTest::newRow("entity expansion in an attribute")
        << laughs("<xml version='1.0'><TaskObj Frames='1' Times='1' Data='&e9;'/></xml>")
        << QString() << 0;
    QTest::newRow("entity expansion in content")
        << laughs("<xml version='1.0'>" + task + "<a>&e9;</a></xml>") << QString() << 1;
}

void tst_KvNameXml::failures()
{
    QFETCH(QByteArray, doc);
    QFETCH(QString, message);
    QFETCH(int, rows);
    QTableWidget table;
    QString error;
    QVERIFY(!read(doc, table, &error));
    QVERIFY2(error.startsWith(message), qPrintable(error));
    QVERIFY2(error.contains(QRegularExpression("^.+\nLine \\d+, column \\d+$")), qPrintable(error));
    QCOMPARE(table.rowCount(), rows);
}

void tst_KvNameXml::writerSkipsRowsWithoutFrame()
{
    taskObj emptyBurst;
    emptyBurst.dataList << CanData();
    const QVariantList cells{QVariant(), 42, QVariant::fromValue(taskObj()),
                             QVariant::fromValue(emptyBurst),
                             QVariant::fromValue(makeTask({1, 0, 1}, 9, {}, ""))};
    QTableWidget table(cells.size() + 1, 4); // the last row has no item at all
    for (int row = 0; row < cells.size(); ++row) {
        table.setItem(row, 0, new QTableWidgetItem(QStringLiteral("Normal Send")));
        table.item(row, 0)->setData(Qt::UserRole, cells.at(row));
    }
    const QByteArray doc = write(table);
    QCOMPARE(doc.count("<TaskObj"), 1);
    QVERIFY(doc.contains("ID=\"9\""));
}

void tst_KvNameXml::noDeviceOrRefusingDevice()
{
    QTableWidget table;
    KvNameXmlReader reader(&table);
    reader.addItem(makeTask({1, 0, 1}, 1, {}, ""));
    KvNameXmlWriter writer(&table);
    QVERIFY(!writer.writeFile(nullptr));
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    QVERIFY(!writer.writeFile(&readOnly));
    QVERIFY(!reader.readFile(nullptr));
    QVERIFY(!reader.errorString().isEmpty());
}

void tst_KvNameXml::frameLimit_data()
{
    QTest::addColumn<qint64>("limit"); // 0: the default
    QTest::addColumn<int>("tasks");    // each keeps 1000 frames (10 bursts of 100)
    QTest::addColumn<bool>("accepted");
    QTest::newRow("at the limit") << qint64(3000) << 3 << true;
    QTest::newRow("one frame past it: refused, its rows taken out") << qint64(2999) << 3 << false;
    QTest::newRow("default limit") << qint64(0) << 3 << true;
}

void tst_KvNameXml::frameLimit()
{
    QFETCH(qint64, limit);
    QFETCH(int, tasks);
    QFETCH(bool, accepted);
    QTableWidget table(1, 4); // a row of the user's, which stays
    KvNameXmlReader reader(&table);
    QCOMPARE(reader.maxFrames(), qint64(1000000));
    if (limit)
        reader.setMaxFrames(limit);
    QBuffer buffer;
    buffer.setData(document(QByteArray("<TaskObj Frames='100' Times='2000000'/>").repeated(tasks)));
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(reader.readFile(&buffer), accepted);
    QCOMPARE(table.rowCount(), 1 + (accepted ? tasks : 0));
    if (!accepted)
        QVERIFY2(reader.errorString().startsWith("The task list holds more than 2999 frames."),
                 qPrintable(reader.errorString()));
}

void tst_KvNameXml::readsOnlyRegularFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message"); // empty: read
    QTest::newRow("golden document") << KAVRI_TEST_DATA "/tasklist.xml" << QString();
    QTest::newRow("missing") << KAVRI_TEST_DATA "/no-such.xml"
                             << "does not exist";
    QTest::newRow("folder") << KAVRI_TEST_DATA << "is not a regular file";
    QTest::newRow("/dev/zero") << "/dev/zero"
                               << "is not a regular file";
    // Opening a FIFO would block until a writer comes.
    static QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo.xml");
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0)
        QTest::newRow("FIFO") << fifo << "is not a regular file";
}

void tst_KvNameXml::readsOnlyRegularFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    QTableWidget table;
    KvNameXmlReader reader(&table);
    QCOMPARE(reader.readFile(path), message.isEmpty());
    QVERIFY2(reader.errorString().contains(message), qPrintable(reader.errorString()));
    QCOMPARE(table.rowCount() > 0, message.isEmpty());
}

QTEST_MAIN(tst_KvNameXml)
#include "tst_kvnamexml.moc"
