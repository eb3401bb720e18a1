#include "setpointdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Brelk;

SetPointDialog::SetPointDialog(const QString &path, const SetPoints &setPoints,
                               const RestorePlan &plan, const ResolutionSelection &panel,
                               const QStringList &notes, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Restore Set Points"));
    auto *layout = new QVBoxLayout(this);

    const QString source =
        setPoints.saved.isEmpty()
            ? QDir::toNativeSeparators(path)
            : tr("%1\n(saved %2)").arg(QDir::toNativeSeparators(path), setPoints.saved);
    // The file's texts are shown as they are written, never as markup.
    auto *heading =
        new QLabel(tr("Write these set points from\n%1\nto the module?").arg(source), this);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);

    auto *table = new QTableWidget(plan.changes.size(), 4, this);
    table->setHorizontalHeaderLabels({tr("Channel"), tr("Quantity"), tr("Now"), tr("After")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < plan.changes.size(); ++row) {
        const SetPointChange &change = plan.changes[row];
        const QStringList cells{QString(QChar('A' + change.channel)), quantityName(change.quantity),
                                quantityText(change.quantity, change.now, panel),
                                quantityText(change.quantity, change.after, panel)};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // Sizes measured before the style has set the fonts would be the defaults, not these rows'.
    table->ensurePolished();
    table->resizeColumnsToContents();
    table->resizeRowsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    // At most ten rows: all of them in view, without scrolling.
    int tableHeight = table->horizontalHeader()->sizeHint().height() + 2 * table->frameWidth();
    for (int row = 0; row < table->rowCount(); ++row)
        tableHeight += table->rowHeight(row);
    table->setFixedHeight(tableHeight);
    layout->addWidget(table);

    for (const QString &note : notes) {
        auto *label = new QLabel(note, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, sizeHint().height());
}
