#include "devicebar.h"
#include "framesignalsview.h"
#include "mainwindow.h"
#include "ownsettings.h"
#include "sendpanel.h"
#include "signalplot.h"
#include "signalsendpanel.h"
#include "signalsmodel.h"
#include "signalspanel.h"
#include "tracemodel.h"
#include "tracepanel.h"

#include "kvbuffer.h"
#include "kvdbcdatabase.h"
#include "kvdevicesession.h"
#include "kvsignaldecoder.h"
#include "taskobj.h"
#include "vci_sim.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>

using namespace QtCharts;

namespace {

const QString Dbc = QStringLiteral(KAVRI_TEST_DATA "/dbc/bmw_e9x_e8x.dbc");

VCI_CAN_OBJ frameOf(quint32 id, const QByteArray &hex, quint32 stamp = 10000)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.ExternFlag = id > 0x7FF ? 1 : 0;
    f.TimeStamp = stamp;
    const QByteArray bytes = QByteArray::fromHex(hex);
    f.DataLen = quint8(bytes.size());
    memcpy(f.Data, bytes.constData(), size_t(bytes.size()));
    return f;
}

// The row of "Message.Signal" on the Signals page, or -1.
int rowOf(const SignalsPanel *page, const QString &name)
{
    const KvDbcDatabase *db = page->database();
    const QString message = name.section('.', 0, 0);
    const int m = db->messageIndex(message);
    if (m < 0)
        return -1;
    const int s = db->signalIndex(m, name.section('.', 1));
    return s < 0 ? -1 : db->messages().at(m).firstSignal + s;
}

QString cell(const SignalsPanel *page, int row, int column)
{
    return page->model()->index(row, column).data().toString();
}

} // namespace

// The window's signal pages on the BMW database of the test data: values decoded from the shown
// channel's queue, the plot of ticked signals, the trace row unfolded, the Send page filled from
// signal values, and the same over a wired simulated session.
class tst_SignalsPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void showsDecodedValues_data();
    void showsDecodedValues();
    void loadErrorsAreShownAndSettingsAreKept();
    void plotDrawsChosenSignalsOnUnitAxes();
    void traceRowUnfolds_data();
    void traceRowUnfolds();
    void fillsSendPageFromSignals_data();
    void fillsSendPageFromSignals();
    void wiredTrafficReachesSignalsPage();
};

void tst_SignalsPanel::init()
{
    VSIM_Reset();
    useOwnSettings();
    for (int ch = 0; ch < 4; ++ch) {
        KvBuffer::instance(ch).reset();
        KvBuffer::instance(ch).ClearDBC();
    }
}

void tst_SignalsPanel::showsDecodedValues_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("raw");
    // EngineSpeed 32|16@1+ (0.25,0) "rpm": 0x1F40 = 8000 -> 2000 rpm.
    QTest::newRow("intel, scaled")
        << 0xAAu << QByteArray("00001027401F0000") << "AccPedal.EngineSpeed"
        << "2000.0"
        << ""
        << "8000";
    // Wheel_FL 0|16@1- (0.0625,0): 0xFFF0 = -16 -> -1 kph.
    QTest::newRow("signed") << 0xCEu << QByteArray("F0FF000000000000") << "WheelSpeeds.Wheel_FL"
                            << "-1.0"
                            << ""
                            << "-16";
    // ShiftLeverPosition 0|4 with its value table: 8 is "D".
    QTest::newRow("value table") << 0x1D2u << QByteArray("0800000000000000")
                                 << "TransmissionDataDisplay.ShiftLeverPosition"
                                 << "8.0"
                                 << "D"
                                 << "8";
    // GearAct 12|4@1+ (1,-4): raw 6 -> 2.
    QTest::newRow("offset") << 0x1D2u << QByteArray("0060000000000000")
                            << "TransmissionDataDisplay.GearAct"
                            << "2.0"
                            << ""
                            << "6";
}

void tst_SignalsPanel::showsDecodedValues()
{
    QFETCH(quint32, id);
    QFETCH(QByteArray, data);
    QFETCH(QString, signal);
    QFETCH(QString, value);
    QFETCH(QString, label);
    QFETCH(QString, raw);
    MainWindow w;
    SignalsPanel *page = w.signalsPanel();
    QVERIFY(page->loadDatabase(Dbc));
    QVERIFY(KvBuffer::instance(0).DBCRun());
    const int row = rowOf(page, signal);
    QVERIFY(row >= 0);
    QVERIFY(cell(page, row, SignalsModel::Value).isEmpty());

    VCI_CAN_OBJ frames[] = {frameOf(id, data), frameOf(0x7FF, "01"), frameOf(0x7FE, "")};
    KvBuffer::instance(0).addDBCFrame(frames, 3);
    w.refresh();
    QCOMPARE(cell(page, row, SignalsModel::Value), value);
    QCOMPARE(cell(page, row, SignalsModel::Label), label);
    QCOMPARE(cell(page, row, SignalsModel::Raw), raw);
    QCOMPARE(cell(page, row, SignalsModel::Time), QStringLiteral("1.0000"));
    QCOMPARE(cell(page, row, SignalsModel::Updates), QStringLiteral("1"));
    QVERIFY2(page->unknownLabel()->text().endsWith(": 2"),
             qPrintable(page->unknownLabel()->text()));
}

// The database and its ticked signals come back with the next window.
void tst_SignalsPanel::loadErrorsAreShownAndSettingsAreKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("faulty.dbc");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("VERSION \"\"\n\nBO_ 256 Engine: 8 ECU\n"
            " SG_ Speed : 0|16@1+ (0.5,0) [0|100] \"km/h\" X\n"
            " SG_ Broken : 16|0@1+ (1,0) [0|1] \"\" X\n");
    f.close();
    {
        MainWindow w;
        SignalsPanel *page = w.signalsPanel();
        QVERIFY(!page->loadDatabase(path)); // errors, yet usable
        QVERIFY(!page->errorView()->isHidden());
        QVERIFY2(page->errorView()->toPlainText().contains("line 5"),
                 qPrintable(page->errorView()->toPlainText()));
        QCOMPARE(page->model()->rowCount(), 1);

        // A file without a message leaves the database in use.
        QVERIFY(!page->loadDatabase(dir.filePath("missing.dbc")));
        QCOMPARE(page->fileName(), path);
        QCOMPARE(page->model()->rowCount(), 1);
        page->model()->setChosen(0, true);
    }
    MainWindow again;
    QCOMPARE(again.signalsPanel()->fileName(), path);
    QCOMPARE(again.signalsPanel()->model()->rowCount(), 1);
    QCOMPARE(again.signalsPanel()->model()->chosen(), QVector<int>{0});
    QVERIFY(KvBuffer::instance(0).DBCRun());
}

void tst_SignalsPanel::plotDrawsChosenSignalsOnUnitAxes()
{
    MainWindow w;
    w.resize(1024, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    SignalsPanel *page = w.signalsPanel();
    QVERIFY(page->loadDatabase(Dbc));
    const int speed = rowOf(page, "AccPedal.EngineSpeed");
    const int left = rowOf(page, "WheelSpeeds.Wheel_FL");
    const int right = rowOf(page, "WheelSpeeds.Wheel_FR");
    for (int row : {speed, left, right})
        QVERIFY(page->model()->setData(page->model()->index(row, SignalsModel::Plot), Qt::Checked,
                                       Qt::CheckStateRole));
    SignalPlot *plot = w.signalPlot();
    QCOMPARE(plot->signalNumbers(), QVector<int>({speed, left, right}));
    QVERIFY(plot->unitAxis("rpm"));
    QVERIFY(plot->unitAxis("kph"));
    QCOMPARE(plot->unitAxis("rpm")->titleText(), QStringLiteral("rpm"));
    QCOMPARE(plot->chart()->axes(Qt::Vertical).size(), 2); // the wheels share one

    // Five engine frames 0.1 s apart, speed 1000 to 1400 rpm; one wheel frame.
    QVector<VCI_CAN_OBJ> frames;
    for (int i = 0; i < 5; ++i) {
        const quint16 raw = quint16((1000 + 100 * i) * 4);
        QByteArray data(8, '\0');
        data[4] = char(raw & 0xFF);
        data[5] = char(raw >> 8);
        frames << frameOf(0xAA, data.toHex(), quint32(10000 + 1000 * i));
    }
    frames << frameOf(0xCE, "1000200000000000", 16000);
    KvBuffer::instance(0).addDBCFrame(frames.data(), frames.size());
    w.mainPages()->setCurrentWidget(plot);
    QTRY_VERIFY(plot->chart()->plotArea().width() > 10);
    w.refresh();
    QLineSeries *line = plot->series(speed);
    QCOMPARE(line->count(), 5);
    QCOMPARE(line->at(0), QPointF(1.0, 1000));
    QCOMPARE(line->at(4), QPointF(1.4, 1400));
    QCOMPARE(plot->series(left)->count(), 1);
    QCOMPARE(plot->series(left)->at(0), QPointF(1.6, 1));
    QCOMPARE(plot->series(right)->at(0), QPointF(1.6, 2));
    QVERIFY(plot->timeAxis()->min() <= 1.0 && plot->timeAxis()->max() >= 1.6);
    QVERIFY(plot->unitAxis("rpm")->min() <= 1000 && plot->unitAxis("rpm")->max() >= 1400);

    // Panning with a key holds the view where it went; Reset follows the data again.
    const double before = plot->timeAxis()->min();
    QTest::keyClick(plot->view(), Qt::Key_Right);
    QVERIFY(!plot->isFollowing());
    QVERIFY(plot->timeAxis()->min() > before);
    w.refresh();
    QVERIFY(plot->timeAxis()->min() > before);
    plot->resetButton()->click();
    QVERIFY(plot->isFollowing());
    QCOMPARE(plot->timeAxis()->min(), before);

    // A drag pans the other way, content following the pointer.
    QTest::mousePress(plot->view()->viewport(), Qt::LeftButton, {}, QPoint(200, 100));
    // QTest::mouseMove only moves the cursor; the drag needs the event itself.
    QMouseEvent move(QEvent::MouseMove, QPoint(260, 100), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot->view()->viewport(), &move);
    QTest::mouseRelease(plot->view()->viewport(), Qt::LeftButton, {}, QPoint(260, 100));
    QVERIFY(!plot->isFollowing());
    QVERIFY(plot->timeAxis()->min() < before);

    // Unticking drops the line and, with the last kph signal, nothing else.
    page->model()->setChosen(speed, false);
    QVERIFY(!plot->series(speed));
    QVERIFY(!plot->unitAxis("rpm"));
    QCOMPARE(plot->series(left)->count(), 1); // refilled at once, not on the next cycle
}

void tst_SignalsPanel::traceRowUnfolds_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QStringList>("children"); // "Signal=Value"
    QTest::newRow("known message")
        << 0x1D2u << QByteArray("0860000000000000") << "TransmissionDataDisplay"
        << QStringList{"ShiftLeverPosition=8.0 'D'", "GearAct=2.0"};
    QTest::newRow("unknown identifier")
        << 0x7F0u << QByteArray("01") << "0x7F0: not in the database" << QStringList();
    // 0xCE carries 8 bytes; a 2-byte frame holds Wheel_FL only.
    QTest::newRow("short frame") << 0xCEu << QByteArray("1000") << "WheelSpeeds"
                                 << QStringList{"Wheel_FL=1.0 kph"};
}

void tst_SignalsPanel::traceRowUnfolds()
{
    QFETCH(quint32, id);
    QFETCH(QByteArray, data);
    QFETCH(QString, top);
    QFETCH(QStringList, children);
    MainWindow w;
    FrameSignalsView *view = w.frameSignalsView();
    QVERIFY(view->isHidden()); // nothing to unfold without a database
    QVERIFY(w.signalsPanel()->loadDatabase(Dbc));
    QVERIFY(!view->isHidden());

    VCI_CAN_OBJ frames[] = {frameOf(0x100, "00"), frameOf(id, data)};
    KvBuffer::instance(0).addFrame(frames, 2, false);
    w.refresh();
    QCOMPARE(w.trace()->model()->rowCount(), 2);
    w.trace()->view()->selectRow(1);
    QCOMPARE(view->topLevelItemCount(), 1);
    QTreeWidgetItem *item = view->topLevelItem(0);
    QCOMPARE(item->text(FrameSignalsView::Signal), top);
    QStringList shown;
    for (int i = 0; i < item->childCount(); ++i)
        shown << item->child(i)->text(FrameSignalsView::Signal) + '=' +
                     item->child(i)->text(FrameSignalsView::Value);
    for (const QString &child : children)
        QVERIFY2(shown.contains(child), qPrintable(shown.join(", ")));
    if (children.isEmpty())
        QCOMPARE(item->childCount(), 0);
    if (id == 0xCE)
        QCOMPARE(item->childCount(), 1);
}

void tst_SignalsPanel::fillsSendPageFromSignals_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("values"); // "Signal=Value"
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("data"); // empty: refused
    QTest::newRow("scaled intel") << "AccPedal"
                                  << QStringList{"EngineSpeed=2000",
                                                 "AcceleratorPedalPercentage=400"}
                                  << "0AA" << QByteArray("00 00 10 27 40 1F 00 00");
    QTest::newRow("value-table name and offset")
        << "TransmissionDataDisplay" << QStringList{"ShiftLeverPosition=D", "GearAct=2"} << "1D2"
        << QByteArray("08 60 00 00 00 00 00 00");
    QTest::newRow("signed, negative") << "WheelSpeeds" << QStringList{"Wheel_FL=-1"} << "0CE"
                                      << QByteArray("F0 FF 00 00 00 00 00 00");
    QTest::newRow("not a value name")
        << "TransmissionDataDisplay" << QStringList{"ShiftLeverPosition=Q"} << "" << QByteArray();
    QTest::newRow("negative for an unsigned signal")
        << "AccPedal" << QStringList{"EngineSpeed=-5"} << "" << QByteArray();
}

void tst_SignalsPanel::fillsSendPageFromSignals()
{
    QFETCH(QString, message);
    QFETCH(QStringList, values);
    QFETCH(QString, id);
    QFETCH(QByteArray, data);
    MainWindow w;
    QVERIFY(!w.signalsPanel()->buildButton()->isEnabled());
    QVERIFY(w.signalsPanel()->loadDatabase(Dbc));
    SignalSendPanel *page = w.signalSendPanel();
    w.signalsPanel()->buildButton()->click();
    QVERIFY(page->isVisible());
    QVERIFY(page->setMessage(message));
    for (const QString &v : values)
        QVERIFY(page->setValue(v.section('=', 0, 0), v.section('=', 1)));
    QSignalSpy ready(page, &SignalSendPanel::frameReady);
    page->fillButton()->click();
    if (data.isEmpty()) {
        QCOMPARE(ready.count(), 0);
        QVERIFY2(page->statusText().contains(values.first().section('=', 0, 0)),
                 qPrintable(page->statusText()));
        return;
    }
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).toString(), id);
    QCOMPARE(w.lowerPages()->currentWidget(), w.sendPanel());
    taskObj task;
    QString error;
    QVERIFY2(w.sendPanel()->task(task, error), qPrintable(error));
    const CanObj &frame = task.dataList.at(0).at(0);
    QCOMPARE(frame.ID, id.toUInt(nullptr, 16));
    QCOMPARE(int(frame.ExternFlag), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.Data), frame.DataLen).toHex(' '),
             data.toLower());
}

// End to end: a frame built from signal values goes out on channel 0 and comes back decoded on
// the Signals page of channel 1, with its history for the plot.
void tst_SignalsPanel::wiredTrafficReachesSignalsPage()
{
    MainWindow w;
    w.deviceBar()->openButton()->click();
    w.deviceBar()->startButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Started);
    w.trace()->setChannel(1);
    SignalsPanel *page = w.signalsPanel();
    QCOMPARE(page->channel(), 1);
    QVERIFY(page->loadDatabase(Dbc));
    QVERIFY(KvBuffer::instance(1).DBCRun());
    QVERIFY(!KvBuffer::instance(0).DBCRun());

    QVERIFY(w.signalSendPanel()->setMessage("AccPedal"));
    QVERIFY(w.signalSendPanel()->setValue("EngineSpeed", "1250.5"));
    QVERIFY(w.signalSendPanel()->fill());
    w.sendPanel()->setRepeat(3, 0, 1);
    QSignalSpy sent(w.sendPanel(), &SendPanel::sendFinished);
    QVERIFY(w.sendPanel()->send());
    QVERIFY(sent.wait(10000));
    const int row = rowOf(page, "AccPedal.EngineSpeed");
    QTRY_COMPARE_WITH_TIMEOUT(cell(page, row, SignalsModel::Updates), QStringLiteral("3"), 10000);
    QCOMPARE(cell(page, row, SignalsModel::Value), QStringLiteral("1250.5"));
    QVector<KvSignalSample> history;
    QCOMPARE(page->decoder()->history(row, history), 3);
    w.session()->stop();
}

QTEST_MAIN(tst_SignalsPanel)
#include "tst_signalspanel.moc"
