#include "nameeditor.h"

#include "kvnamemapping.h"

#include <QtCore/QMap>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

NameEditor::NameEditor(QWidget *parent)
    : QWidget(parent), names(new QTableWidget(0, 2)), status(new QLabel)
{
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    names->setHorizontalHeaderLabels({tr("ID (hex)"), tr("Name")});
    names->horizontalHeader()->setStretchLastSection(true);
    names->verticalHeader()->hide();
    auto *add = new QPushButton(tr("Add"));
    auto *remove = new QPushButton(tr("Remove"));
    auto *applyBtn = new QPushButton(tr("Apply"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(applyBtn);
    buttons->addWidget(status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(names);

    connect(add, &QPushButton::clicked, this, [this] { addName(0, QString()); });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (names->currentRow() >= 0)
            names->removeRow(names->currentRow());
    });
    connect(applyBtn, &QPushButton::clicked, this, &NameEditor::apply);
    load();
}

void NameEditor::addName(quint32 id, const QString &name)
{
    const int row = names->rowCount();
    names->insertRow(row);
    names->setItem(row, 0, new QTableWidgetItem(QString::number(id, 16).toUpper()));
    names->setItem(row, 1, new QTableWidgetItem(name));
}

void NameEditor::load()
{
    names->setRowCount(0);
    for (const QPair<unsigned int, QString> &entry : KvNameMapping::getSingleton().getList())
        addName(entry.first, entry.second);
}

bool NameEditor::apply()
{
    QMap<unsigned int, QString> table;
    for (int row = 0; row < names->rowCount(); ++row) {
        const QTableWidgetItem *id = names->item(row, 0);
        const QTableWidgetItem *name = names->item(row, 1);
        bool ok = false;
        const unsigned int value = id ? id->text().trimmed().toUInt(&ok, 16) : 0;
        if (!ok) {
            status->setText(tr("Row %1: the ID must be hexadecimal.").arg(row + 1));
            return false;
        }
        table.insert(value, name ? name->text() : QString());
    }
    KvNameMapping &mapping = KvNameMapping::getSingleton();
    mapping.clear();
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        mapping.add(it.key(), it.value());
    status->setText(tr("%n name(s) applied.", nullptr, table.size()));
    return true;
}

QString NameEditor::statusText() const
{
    return status->text();
}
