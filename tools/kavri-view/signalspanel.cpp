#include "signalspanel.h"

#include "kvbuffer.h"
#include "kvdbcdatabase.h"
#include "kvsignaldecoder.h"
#include "signalsmodel.h"
#include "tablesizing.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtCore/QSortFilterProxyModel>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>
#include <QtWidgets/QVBoxLayout>

SignalsPanel::SignalsPanel(QWidget *parent)
    : QWidget(parent), signalsModel(new SignalsModel(this)), proxy(new QSortFilterProxyModel(this)),
      table(new QTableView), load(new QPushButton(tr("Load DBC..."))),
      build(new QPushButton(tr("Build frame..."))), fileLabel(new QLabel(tr("No database"))),
      filter(new QLineEdit), unknown(new QLabel), errors(new QPlainTextEdit)
{
    proxy->setSourceModel(signalsModel);
    proxy->setSortRole(Qt::UserRole);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    table->setModel(proxy);
    table->setSortingEnabled(true);
    table->sortByColumn(-1, Qt::AscendingOrder); // database order until a title is clicked
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    setUpTextTable(table, &SignalsModel::widestText);

    filter->setPlaceholderText(tr("Filter: message or signal"));
    filter->setClearButtonEnabled(true);
    // Long paths and counts must not widen the page.
    fileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    unknown->setToolTip(tr("Frames of identifiers the database does not define"));
    errors->setReadOnly(true);
    errors->setMaximumHeight(errors->fontMetrics().height() * 4 + 12);
    errors->setLineWrapMode(QPlainTextEdit::NoWrap);
    errors->hide();
    build->setEnabled(false);
    build->setToolTip(tr("Encode a message from signal values into the Send page"));

    // Two short rows rather than one long one: the page shares the small window's width with
    // the Send page.
    auto *bar = new QHBoxLayout;
    bar->addWidget(load);
    bar->addWidget(build);
    bar->addWidget(fileLabel, 1);
    auto *filterBar = new QHBoxLayout;
    filterBar->addWidget(filter, 1);
    filterBar->addWidget(unknown);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addLayout(filterBar);
    layout->addWidget(errors);
    layout->addWidget(table, 1);

    connect(load, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getOpenFileName(
            this, tr("Load DBC database"), QFileInfo(file).absolutePath(),
            tr("DBC databases (*.dbc);;All files (*)"));
        if (!name.isEmpty())
            loadDatabase(name);
    });
    connect(build, &QPushButton::clicked, this, &SignalsPanel::buildFrameRequested);
    connect(filter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    connect(signalsModel, &SignalsModel::chosenChanged, this, &SignalsPanel::chosenChanged);
}

void SignalsPanel::saveSettings(QSettings &settings) const
{
    QStringList names;
    if (db) {
        for (const int row : signalsModel->chosen()) {
            const KvDbcMessage &m = db->messages().at(signalsModel->messageOf(row));
            names << m.name + QLatin1Char('.') + m.signalList.at(signalsModel->signalOf(row)).name;
        }
    }
    settings.setValue(QStringLiteral("signals/plotted"), names);
}

void SignalsPanel::restoreSettings(const QSettings &settings)
{
    if (!db)
        return;
    const QStringList names = settings.value(QStringLiteral("signals/plotted")).toStringList();
    for (const QString &name : names) {
        // Message names hold no dot, signal names neither: the first dot splits them.
        const int dot = name.indexOf(QLatin1Char('.'));
        const int m = db->messageIndex(name.left(dot));
        const int s = m < 0 || dot < 0 ? -1 : db->signalIndex(m, name.mid(dot + 1));
        if (s >= 0)
            signalsModel->setChosen(db->messages().at(m).firstSignal + s, true);
    }
}

SignalsPanel::~SignalsPanel()
{
    stopDecoder();
}

bool SignalsPanel::loadDatabase(const QString &fileName)
{
    auto fresh = std::make_unique<KvDbcDatabase>();
    const bool clean = fresh->load(fileName);
    QString report = fresh->errorString();
    if (fresh->messages().isEmpty()) {
        report += (report.isEmpty() ? QString() : QStringLiteral("\n")) +
                  tr("%1 defines no message; the database in use stays.").arg(fileName);
        errors->setPlainText(report);
        errors->show();
        return false;
    }
    stopDecoder();
    signalsModel->setDatabase(nullptr);
    db = std::move(fresh);
    file = fileName;
    signalsModel->setDatabase(db.get());
    startDecoder();
    build->setEnabled(true);
    errors->setPlainText(report);
    errors->setVisible(!report.isEmpty());
    fileLabel->setText(tr("%1: %2 messages, %3 signals%4")
                           .arg(QFileInfo(fileName).fileName())
                           .arg(db->messages().size())
                           .arg(db->signalCount())
                           .arg(clean ? QString() : tr(", %1 errors").arg(db->errors().size())));
    fileLabel->setToolTip(fileName);
    emit databaseChanged();
    refresh();
    return clean;
}

void SignalsPanel::setChannel(int channel)
{
    if (channel == ch)
        return;
    stopDecoder();
    ch = channel;
    // The fresh decoder has seen nothing: the next refresh empties the values, while the
    // signals ticked for the plot stay ticked.
    startDecoder();
}

void SignalsPanel::startDecoder()
{
    if (!db)
        return;
    KvBuffer &buffer = KvBuffer::instance(ch);
    // What was queued before belongs to no database of ours.
    buffer.ClearDBC();
    signalDecoder = std::make_unique<KvSignalDecoder>(buffer, *db);
    buffer.setDBCRun(true);
}

void SignalsPanel::stopDecoder()
{
    if (!signalDecoder)
        return;
    KvBuffer &buffer = KvBuffer::instance(ch);
    buffer.setDBCRun(false);
    buffer.ClearDBC();
    signalDecoder.reset();
}

void SignalsPanel::refresh()
{
    if (!signalDecoder) {
        unknown->clear();
        return;
    }
    signalDecoder->poll();
    signalsModel->refresh(signalDecoder.get());
    unknown->setText(tr("Unknown IDs: %L1").arg(signalDecoder->unknownFrames()));
}
