#include "kvglobalset.h"

#include <QtTest/QtTest>

class tst_KvGlobalSet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsIdFormat_data();
    void readsIdFormat();
    void assignmentCopiesEverything();

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
    QTest::newRow("text that is no number") << "INIT" << QVariant("abc") << 0;
    QTest::newRow("key of another application") << "OTHER" << QVariant(1) << 0;
}

void tst_KvGlobalSet::readsIdFormat()
{
    QFETCH(QString, application);
    QFETCH(QVariant, value);
    QFETCH(int, idFormat);
    for (const char *app : {"INIT", "OTHER"})
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "DrevoSoft", app).clear();
    if (value.isValid()) {
        QSettings writer(QSettings::NativeFormat, QSettings::UserScope, "DrevoSoft", application);
        writer.setValue("IDFORMAT", value);
        writer.sync();
        QVERIFY(writer.fileName().startsWith(store.path()));
    }
    QCOMPARE(KvGlobalSet().idFormat, idFormat);
}

// The channel sets hold atomics, so copying is written out by hand: every field must come along.
void tst_KvGlobalSet::assignmentCopiesEverything()
{
    auto state = [](const KvGlobalSet &s) {
        QVariantList fields = {s.idFormat, s.isWatch()};
        for (const KvChannelSet &c : s.channelSets)
            fields << c.option1 << c.option2 << c.taskMode << c.optionFlag << c.rtSave.load()
                   << c.usedTime.load() << c.receiveCount.load() << c.sendCount.load();
        return fields;
    };
    KvGlobalSet source;
    source.idFormat = 1;
    source.onWatch();
    for (int c = 0; c < 4; ++c) {
        KvChannelSet &set = source.channelSets[c];
        set.option1 = 10 + c;
        set.option2 = 20 + c;
        set.taskMode = 2;
        set.optionFlag = true;
        set.rtSave = true;
        set.usedTime = 1.5 + c;
        set.receiveCount = 100 + c;
        set.sendCount = 200 + c;
    }
    KvGlobalSet assigned;
    QVERIFY(state(assigned) != state(source));
    assigned = source;
    QCOMPARE(state(assigned), state(source));
    QCOMPARE(state(KvGlobalSet(source)), state(source));
}

QTEST_GUILESS_MAIN(tst_KvGlobalSet)
#include "tst_kvglobalset.moc"
