#include "signalsendpanel.h"

#include "kvdbcdatabase.h"
#include "kvdbcformat.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <numeric>

SignalSendPanel::SignalSendPanel(QWidget *parent)
    : QWidget(parent), messages(new QComboBox), signalTable(new QTableWidget),
      fillBtn(new QPushButton(tr("Fill Send page"))), status(new QLabel)
{
    messages->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    messages->setMinimumContentsLength(12);
    signalTable->setColumnCount(ColumnCount);
    signalTable->setHorizontalHeaderLabels({tr("Signal"), tr("Value"), tr("Unit"), tr("Range")});
    signalTable->verticalHeader()->hide();
    signalTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    signalTable->horizontalHeader()->setStretchLastSection(true);
    signalTable->setWordWrap(false);
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // The message on top, the button under the values it encodes: the page stays narrow enough
    // to share the small window's lower half with the Send page.
    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Message")));
    bar->addWidget(messages, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(fillBtn);
    bottom->addWidget(status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(signalTable, 1);
    layout->addLayout(bottom);

    connect(messages, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SignalSendPanel::showMessage);
    connect(fillBtn, &QPushButton::clicked, this, &SignalSendPanel::fill);
    setDatabase(nullptr);
}

void SignalSendPanel::setDatabase(const KvDbcDatabase *database)
{
    db = database;
    const QSignalBlocker quiet(messages);
    messages->clear();
    if (db) {
        // By name: a user looks a message up by what it is called, not where the file has it.
        QVector<int> order(db->messages().size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [this](int a, int b) {
            return db->messages().at(a).name < db->messages().at(b).name;
        });
        for (int m : qAsConst(order))
            messages->addItem(db->messages().at(m).name, m);
    }
    fillBtn->setEnabled(db && messages->count() > 0);
    status->setText(db ? QString() : tr("Load a DBC on the Signals page to build frames here."));
    showMessage();
}

int SignalSendPanel::messageIndex() const
{
    return db ? messages->currentData().toInt() : -1;
}

bool SignalSendPanel::setMessage(const QString &name)
{
    const int i = messages->findText(name);
    if (i < 0)
        return false;
    messages->setCurrentIndex(i);
    showMessage();
    return true;
}

bool SignalSendPanel::setValue(const QString &signal, const QString &value)
{
    const QList<QTableWidgetItem *> found = signalTable->findItems(signal, Qt::MatchExactly);
    for (QTableWidgetItem *item : found) {
        if (item->column() == Signal) {
            signalTable->item(item->row(), Value)->setText(value);
            return true;
        }
    }
    return false;
}

void SignalSendPanel::showMessage()
{
    signalTable->setRowCount(0);
    const int m = messageIndex();
    if (m < 0 || m >= db->messages().size())
        return;
    const KvDbcMessage &message = db->messages().at(m);
    signalTable->setRowCount(message.signalList.size());
    for (int s = 0; s < message.signalList.size(); ++s) {
        const KvDbcSignal &signal = message.signalList.at(s);
        QStringList hint;
        for (const KvDbcValueName &v : signal.valueNames)
            hint << QStringLiteral("%1=%2").arg(v.value).arg(v.name);
        if (hint.isEmpty() && signal.maximum > signal.minimum)
            hint << QStringLiteral("%1 .. %2")
                        .arg(KvDbcFormat::number(signal.minimum),
                             KvDbcFormat::number(signal.maximum));
        auto fixed = [](const QString &text) {
            auto *item = new QTableWidgetItem(text);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            return item;
        };
        signalTable->setItem(s, Signal, fixed(signal.name));
        signalTable->setItem(s, Value, new QTableWidgetItem);
        signalTable->setItem(s, Unit, fixed(signal.unit));
        signalTable->setItem(s, Hint, fixed(hint.join(QStringLiteral(", "))));
        signalTable->item(s, Hint)->setToolTip(hint.join(QLatin1Char('\n')));
    }
}

bool SignalSendPanel::fill()
{
    const int m = messageIndex();
    if (m < 0) {
        status->setText(tr("No message chosen."));
        return false;
    }
    QList<QPair<QString, QString>> assignments;
    for (int row = 0; row < signalTable->rowCount(); ++row) {
        const QString value = signalTable->item(row, Value)->text().trimmed();
        if (!value.isEmpty())
            assignments.append({signalTable->item(row, Signal)->text(), value});
    }
    QByteArray payload;
    QString error;
    if (!db->encode(m, assignments, payload, error)) {
        status->setText(error);
        status->setToolTip(error);
        return false;
    }
    const KvDbcMessage &message = db->messages().at(m);
    const QString id = QString::number(message.id, 16)
                           .toUpper()
                           .rightJustified(message.extended ? 8 : 3, QLatin1Char('0'));
    const QString data = QString::fromLatin1(payload.toHex(' ')).toUpper();
    status->setText(tr("%1: ID %2, data %3").arg(message.name, id, data));
    emit frameReady(id, data, message.extended);
    return true;
}

QString SignalSendPanel::statusText() const
{
    return status->text();
}
