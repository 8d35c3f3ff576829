#include "candata.h"
#include "canobj.h"
#include "kvfilebin.h"

#include <QtTest>

// The template frame: every field the reader must leave alone differs from a fresh frame.
static CanObj templateFrame()
{
    CanObj frame;
    frame.ID = 0x1ABCDE;
    frame.ExternFlag = frame.RemoteFlag = 1;
    frame.SendType = 2;
    frame.TimeStamp = 55;
    frame.UserData = 7;
    frame.TailFlag = 1;
    std::fill(frame.Data, frame.Data + 8, quint8(0xEE));
    return frame;
}

static bool sameTemplate(const CanObj &f, const CanObj &t)
{
    return f.ID == t.ID && f.ExternFlag == t.ExternFlag && f.RemoteFlag == t.RemoteFlag &&
           f.SendType == t.SendType && f.TimeStamp == t.TimeStamp && f.UserData == t.UserData &&
           f.TailFlag == t.TailFlag;
}

// The golden file holds the bytes 01 02 ... 14.
static QByteArray counting(int from, int count)
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes.append(char(i + 1));
    return bytes.toHex();
}

class TestKvFileBin : public QObject
{
    Q_OBJECT
private slots:
    void getFrame();
    void getFrames_data();
    void getFrames();
    void getFramesWithoutTemplate();

private:
    const QString golden = QStringLiteral(KAVRI_TEST_DATA "/bin/counting_20_bytes.bin");
};

void TestKvFileBin::getFrame()
{
    KvFileBin file;
    QVERIFY(file.open(golden));
    QVERIFY(file.prepare());
    CanObj frame = templateFrame();
    // Bytes beyond the new DataLen keep what the previous record left there.
    const QByteArray expected[] = {counting(0, 8), counting(8, 8),
                                   counting(16, 4) + counting(12, 4)};
    for (const QByteArray &data : expected) {
        QVERIFY(file.getFrame(frame));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(frame.Data), 8).toHex(), data);
    }
    QCOMPARE(frame.DataLen, quint8(4));
    QVERIFY(file.atEnd());
    QVERIFY(!file.getFrame(frame));
    QCOMPARE(frame.DataLen, quint8(0));
    QVERIFY(sameTemplate(frame, templateFrame()));
}

void TestKvFileBin::getFrames_data()
{
    // Per call, each frame as DataLen plus U for UserFlag and B for BatchEndFlag.
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("batches");
    QTest::newRow("batch ends early") << 16 << 3 << QStringList{"8U 8", ""};
    QTest::newRow("full batch then the rest") << 20 << 2 << QStringList{"8U 8B", "4U", ""};
    QTest::newRow("short record ends a full batch") << 20 << 3 << QStringList{"8U 8 4B", ""};
    QTest::newRow("one frame per batch") << 9 << 1 << QStringList{"8UB", "1UB", ""};
    QTest::newRow("empty file") << 0 << 2 << QStringList{""};
    QTest::newRow("count 0 empties the queue") << 16 << 0 << QStringList{""};
    QTest::newRow("negative count") << 16 << -1 << QStringList{""};
}

void TestKvFileBin::getFrames()
{
    QFETCH(int, fileSize);
    QFETCH(int, count);
    QFETCH(QStringList, batches);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(QByteArray::fromHex(counting(0, fileSize)));
    file.close();
    KvFileBin reader;
    QVERIFY(reader.open(file.fileName()));
    CanData queue;
    queue.push(templateFrame());
    int offset = 0;
    for (const QString &batch : batches) {
        // As the download thread does, the last batch is the next call's template.
        QVERIFY(reader.getFrames(queue, count));
        QStringList frames;
        for (int i = 0; i < queue.size(); ++i) {
            const CanObj &f = queue.at(i);
            frames << QString::number(f.DataLen) + (f.UserFlag ? "U" : "") +
                          (f.BatchEndFlag ? "B" : "");
            QByteArray data = QByteArray::fromHex(counting(offset, f.DataLen));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.Data), 8),
                     data.leftJustified(8, '\0'));
            QVERIFY(sameTemplate(f, templateFrame()));
            offset += f.DataLen;
        }
        QCOMPARE(frames.join(' '), batch);
        if (queue.isEmpty())
            queue.push(templateFrame());
    }
}

// Without a template there is no identifier to send under: nothing is read.
void TestKvFileBin::getFramesWithoutTemplate()
{
    KvFileBin file;
    QVERIFY(file.open(golden));
    CanData queue;
    QVERIFY(!file.getFrames(queue, 2));
    QVERIFY(queue.isEmpty());
    QCOMPARE(file.pos(), qint64(0));
    QVERIFY(file.getFrames(queue, 0));
}

QTEST_GUILESS_MAIN(TestKvFileBin)
#include "tst_kvfilebin.moc"
