#include "filtereditor.h"

#include "kvidfilter.h"
#include "kvidfiltermannger.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

namespace {

QString hex(quint32 id)
{
    return QString::number(id, 16).toUpper();
}

// "1FF" or "0x1ff" -> 0x1FF; false for anything that is not a 32-bit hexadecimal number.
bool parseHex(QString text, quint32 &id)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text.remove(0, 2);
    bool ok = false;
    id = text.toUInt(&ok, 16);
    return ok;
}

} // namespace

FilterEditor::FilterEditor(QWidget *parent)
    : QWidget(parent), mode(new QComboBox), status(new QLabel)
{
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    mode->addItem(tr("No filter"), 0);
    mode->addItem(tr("Drop the not-receive ranges"), 1);
    mode->addItem(tr("Keep only the only-receive ranges"), 2);

    auto *grid = new QGridLayout;
    const QString titles[2] = {tr("Not-receive ranges"), tr("Only-receive ranges")};
    for (int l = 0; l < 2; ++l) {
        QTableWidget *t = lists[l] = new QTableWidget(0, 3);
        t->setHorizontalHeaderLabels({tr("Start"), tr("End"), tr("Note")});
        t->horizontalHeader()->setStretchLastSection(true);
        t->verticalHeader()->hide();
        auto *add = new QPushButton(tr("Add"));
        auto *remove = new QPushButton(tr("Remove"));
        connect(add, &QPushButton::clicked, this,
                [this, l] { addRange(List(l), 0, 0x7FF, QString()); });
        connect(remove, &QPushButton::clicked, this, [t] {
            if (t->currentRow() >= 0)
                t->removeRow(t->currentRow());
        });
        // The title above its list, so that the two lists fit side by side on a narrow page.
        auto *box = new QGroupBox(titles[l]);
        auto *buttons = new QHBoxLayout;
        buttons->addWidget(add);
        buttons->addWidget(remove);
        buttons->addStretch();
        auto *boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(4, 4, 4, 4);
        boxLayout->addLayout(buttons);
        boxLayout->addWidget(t);
        grid->addWidget(box, 0, l);
    }

    auto *applyBtn = new QPushButton(tr("Apply"));
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Mode")));
    top->addWidget(mode);
    top->addWidget(applyBtn);
    top->addWidget(status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(grid);
    connect(applyBtn, &QPushButton::clicked, this, &FilterEditor::apply);
    load();
}

QTableWidget *FilterEditor::rangeTable(List list) const
{
    return lists[list == OnlyReceive ? 1 : 0];
}

void FilterEditor::setChannel(int channel)
{
    ch = channel;
    load();
}

void FilterEditor::setMode(int m)
{
    mode->setCurrentIndex(qBound(0, m, 2));
}

void FilterEditor::addRange(List list, quint32 start, quint32 end, const QString &note)
{
    QTableWidget *t = rangeTable(list);
    const int row = t->rowCount();
    t->insertRow(row);
    t->setItem(row, 0, new QTableWidgetItem(hex(start)));
    t->setItem(row, 1, new QTableWidgetItem(hex(end)));
    t->setItem(row, 2, new QTableWidgetItem(note));
}

void FilterEditor::load()
{
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(ch);
    const int m = filter.getFilterMode();
    // Modes other than 1 and 2 filter nothing, like "No filter".
    mode->setCurrentIndex(m == 1 || m == 2 ? m : 0);
    for (List l : {NotReceive, OnlyReceive}) {
        rangeTable(l)->setRowCount(0);
        const QQueue<KvIdFilter> ranges =
            l == NotReceive ? filter.getNotReceiveQueue() : filter.getOnlyReceiveQueue();
        for (const KvIdFilter &f : ranges)
            addRange(l, f.startId, f.endId, f.note);
    }
    status->clear();
}

bool FilterEditor::apply()
{
    QQueue<KvIdFilter> ranges[2];
    for (List l : {NotReceive, OnlyReceive}) {
        const QTableWidget *t = rangeTable(l);
        for (int row = 0; row < t->rowCount(); ++row) {
            KvIdFilter f;
            const QTableWidgetItem *start = t->item(row, 0);
            const QTableWidgetItem *end = t->item(row, 1);
            if (!start || !end || !parseHex(start->text(), f.startId) ||
                !parseHex(end->text(), f.endId)) {
                status->setText(tr("Row %1 of the %2 list: start and end must be hexadecimal.")
                                    .arg(row + 1)
                                    .arg(l == NotReceive ? tr("not-receive") : tr("only-receive")));
                return false;
            }
            if (const QTableWidgetItem *note = t->item(row, 2))
                f.note = note->text();
            ranges[l].enqueue(f);
        }
    }
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(ch);
    filter.clearNotReceive();
    filter.clearOnlyReceive();
    for (const KvIdFilter &f : qAsConst(ranges[NotReceive]))
        filter.addNotReceive(f);
    for (const KvIdFilter &f : qAsConst(ranges[OnlyReceive]))
        filter.addOnlyReceive(f);
    filter.setFilterMode(mode->currentData().toInt());
    status->setText(tr("Applied to channel %1.").arg(ch));
    return true;
}

QString FilterEditor::statusText() const
{
    return status->text();
}
