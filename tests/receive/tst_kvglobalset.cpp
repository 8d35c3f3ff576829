#include "kvglobalset.h"

#include <QtTest/QtTest>

#include <thread>
#include <vector>

class tst_KvGlobalSet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsIdFormat_data();
    void readsIdFormat();
    void watchSwitchToggles();
    void channelRecordsStartValues();
    void assignmentCopiesEverything();
    void sendCountAddsFromSeveralThreads();
    void instanceIsOneObject();

private:
    QTemporaryDir store;
};

void tst_KvGlobalSet::initTestCase()
{
    // Every settings file of this test lands in a folder of its own, never in the user's store.
    QVERIFY(store.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
}

void tst_KvGlobalSet::readsIdFormat_data()
{
    QTest::addColumn<QString>("application"); // where the test writes the key
    QTest::addColumn<QVariant>("value");      // invalid: no key written
    QTest::addColumn<int>("idFormat");

    QTest::newRow("absent key") << "INIT" << QVariant() << 0;
    QTest::newRow("register layout") << "INIT" << QVariant(1) << 1;
    QTest::newRow("plain layout") << "INIT" << QVariant(0) << 0;
    QTest::newRow("other number kept") << "INIT" << QVariant(2) << 2;
    QTest::newRow("text that is no number") << "INIT" << QVariant("abc") << 0;
    QTest::newRow("key of another application") << "OTHER" << QVariant(1) << 0;
}

void tst_KvGlobalSet::readsIdFormat()
{
    QFETCH(QString, application);
    QFETCH(QVariant, value);
    QFETCH(int, idFormat);

    for (const char *app : {"INIT", "OTHER"}) {
        QSettings clean(QSettings::NativeFormat, QSettings::UserScope, "DrevoSoft", app);
        clean.clear();
    }
    if (value.isValid()) {
        QSettings writer(QSettings::NativeFormat, QSettings::UserScope, "DrevoSoft", application);
        writer.setValue("IDFORMAT", value);
        writer.sync();
        QVERIFY(writer.fileName().startsWith(store.path()));
    }

    const KvGlobalSet settings;
    QCOMPARE(settings.idFormat, idFormat);
}

void tst_KvGlobalSet::watchSwitchToggles()
{
    KvGlobalSet settings;
    QVERIFY(!settings.isWatch());
    settings.onWatch();
    QVERIFY(settings.isWatch());
    settings.onWatch();
    QVERIFY(!settings.isWatch());
}

void tst_KvGlobalSet::channelRecordsStartValues()
{
    const KvGlobalSet settings;
    for (const KvChannelSet &c : settings.channelSets) {
        QCOMPARE(c.option1, 2);
        QCOMPARE(c.option2, 1);
        QCOMPARE(c.taskMode, 0);
        QCOMPARE(c.optionFlag, false);
        QCOMPARE(c.rtSave.load(), false);
        QCOMPARE(c.usedTime.load(), -1.0);
        QCOMPARE(c.receiveCount.load(), 0);
        QCOMPARE(c.sendCount.load(), 0);
    }
}

void tst_KvGlobalSet::assignmentCopiesEverything()
{
    KvGlobalSet source;
    source.idFormat = 1;
    source.onWatch();
    for (int c = 0; c < 4; ++c) {
        KvChannelSet &set = source.channelSets[c];
        set.option1 = 10 + c;
        set.option2 = 20 + c;
        set.taskMode = c % 3;
        set.optionFlag = true;
        set.rtSave = true;
        set.usedTime = 1.5 + c;
        set.receiveCount = 100 + c;
        set.sendCount = 200 + c;
    }

    KvGlobalSet assigned;
    assigned = source;
    const KvGlobalSet copied(source);
    for (const KvGlobalSet *s : {static_cast<const KvGlobalSet *>(&assigned), &copied}) {
        QCOMPARE(s->idFormat, 1);
        QVERIFY(s->isWatch());
        for (int c = 0; c < 4; ++c) {
            const KvChannelSet &set = s->channelSets[c];
            QCOMPARE(set.option1, 10 + c);
            QCOMPARE(set.option2, 20 + c);
            QCOMPARE(set.taskMode, c % 3);
            QVERIFY(set.optionFlag);
            QVERIFY(set.rtSave.load());
            QCOMPARE(set.usedTime.load(), 1.5 + c);
            QCOMPARE(set.receiveCount.load(), 100 + c);
            QCOMPARE(set.sendCount.load(), 200 + c);
        }
    }
}

void tst_KvGlobalSet::sendCountAddsFromSeveralThreads()
{
    KvGlobalSet settings;
    KvChannelSet &channel = settings.channelSets[1];
    constexpr int Senders = 4;
    constexpr int Frames = 50000;
    std::vector<std::thread> senders;
    for (int s = 0; s < Senders; ++s) {
        senders.emplace_back([&channel] {
            for (int i = 0; i < Frames; ++i)
                channel.sendCount += 1;
        });
    }
    for (std::thread &t : senders)
        t.join();
    QCOMPARE(channel.sendCount.load(), Senders * Frames);
}

void tst_KvGlobalSet::instanceIsOneObject()
{
    QCOMPARE(&KvGlobalSet::instance(), &KvGlobalSet::instance());
}

QTEST_GUILESS_MAIN(tst_KvGlobalSet)
#include "tst_kvglobalset.moc"
