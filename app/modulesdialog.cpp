#include "modulesdialog.h"

#include "display.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace Brelk {

namespace {

QString trModules(const char *text)
{
    return QCoreApplication::translate("Brelk::ModulesDialog", text);
}

const CurrentResolution CurrentResolutions[] = {CurrentResolution::uA1, CurrentResolution::nA100,
                                                CurrentResolution::nA10, CurrentResolution::nA1};
const SecondRange SecondRanges[] = {SecondRange::None, SecondRange::nA1, SecondRange::pA100};

enum Column { AddressColumn, NameColumn, VoltageColumn, CurrentColumn, SecondRangeColumn };

QPushButton *makeButton(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QComboBox *makeCombo(const char *name, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    return combo;
}

// Why `address` cannot be the entry's: the first module's, or another entry's (all of `modules`
// except the one at `editing`, -1 for a new entry). Empty when it can.
QString addressProblem(quint32 address, quint32 firstAddress, const QVector<ModuleConfig> &modules,
                       int editing)
{
    if (address == firstAddress) {
        return trModules("%1 is the address of the first module (File > Module Address...).")
            .arg(baseAddressText(address));
    }
    for (int i = 0; i < modules.size(); ++i) {
        if (i != editing && modules.at(i).address == address)
            return trModules("Another module already has the address %1.")
                .arg(baseAddressText(address));
    }
    return QString();
}

// One further module's address, name and options. OK is refused while the address is taken.
bool editEntry(QWidget *parent, quint32 firstAddress, const QVector<ModuleConfig> &modules,
               int editing, ModuleConfig *entry)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("moduleEntryDialog"));
    dialog.setWindowTitle(editing < 0 ? trModules("Add Module") : trModules("Edit Module"));

    QComboBox *address = makeCombo("cmbAddress", &dialog);
    for (quint32 a = 0; a < 0xFFFF; a += 0x100)
        address->addItem(baseAddressText(a), a);
    address->setCurrentIndex(int(entry->address / 0x100));
    auto *name = new QLineEdit(entry->name, &dialog);
    name->setObjectName(QStringLiteral("txtName"));
    QComboBox *voltage = makeCombo("cmbVoltageResolution", &dialog);
    for (bool fine : {false, true})
        voltage->addItem(voltageResolutionName(fine));
    voltage->setCurrentIndex(entry->selection.fineVoltage ? 1 : 0);
    QComboBox *current = makeCombo("cmbCurrentResolution", &dialog);
    for (CurrentResolution resolution : CurrentResolutions)
        current->addItem(currentResolutionName(resolution));
    current->setCurrentText(currentResolutionName(entry->selection.currentResolution));
    QComboBox *second = makeCombo("cmbSecondRange", &dialog);
    for (SecondRange range : SecondRanges)
        second->addItem(secondRangeName(range));
    second->setCurrentText(secondRangeName(entry->selection.secondRange));

    auto *form = new QFormLayout;
    form->addRow(trModules("VME base address:"), address);
    form->addRow(trModules("Name:"), name);
    form->addRow(trModules("Voltage resolution:"), voltage);
    form->addRow(trModules("Current resolution:"), current);
    form->addRow(trModules("Second current range:"), second);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);

    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        const QString problem =
            addressProblem(address->currentData().toUInt(), firstAddress, modules, editing);
        if (!problem.isEmpty()) {
            QMessageBox::warning(&dialog, QString::fromLatin1(ProgramName), problem);
            return;
        }
        dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted)
        return false;

    entry->address = address->currentData().toUInt();
    entry->name = name->text().trimmed();
    parseVoltageResolution(voltage->currentText(), &entry->selection.fineVoltage);
    parseCurrentResolution(current->currentText(), &entry->selection.currentResolution);
    parseSecondRange(second->currentText(), &entry->selection.secondRange);
    return true;
}

void sortByAddress(QVector<ModuleConfig> *modules)
{
    std::sort(modules->begin(), modules->end(),
              [](const ModuleConfig &a, const ModuleConfig &b) { return a.address < b.address; });
}

void fillTable(QTableWidget *table, const QVector<ModuleConfig> &modules)
{
    table->setRowCount(modules.size());
    for (int row = 0; row < modules.size(); ++row) {
        const ModuleConfig &module = modules.at(row);
        const QString texts[] = {baseAddressText(module.address), module.name,
                                 voltageResolutionName(module.selection.fineVoltage),
                                 currentResolutionName(module.selection.currentResolution),
                                 secondRangeName(module.selection.secondRange)};
        for (int column = 0; column < 5; ++column)
            table->setItem(row, column, new QTableWidgetItem(texts[column]));
    }
}

// The lowest address that neither the first module nor an entry has.
quint32 freeAddress(quint32 firstAddress, const QVector<ModuleConfig> &modules)
{
    for (quint32 address = 0; address < 0xFFFF; address += 0x100) {
        if (addressProblem(address, firstAddress, modules, -1).isEmpty())
            return address;
    }
    return 0;
}

} // namespace

bool editFurtherModules(QWidget *parent, quint32 firstAddress, QVector<ModuleConfig> *modules)
{
    QVector<ModuleConfig> edited = *modules;
    sortByAddress(&edited);

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("modulesDialog"));
    dialog.setWindowTitle(trModules("Modules - %1").arg(QLatin1String(ProgramName)));

    auto *table = new QTableWidget(0, 5, &dialog);
    table->setObjectName(QStringLiteral("modulesTable"));
    table->setHorizontalHeaderLabels({trModules("Address"), trModules("Name"), trModules("Voltage"),
                                      trModules("Current"), trModules("Second range")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    QPushButton *add = makeButton(trModules("Add..."), "btnAddModule", &dialog);
    QPushButton *edit = makeButton(trModules("Edit..."), "btnEditModule", &dialog);
    QPushButton *remove = makeButton(trModules("Remove"), "btnRemoveModule", &dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName(QStringLiteral("buttonBox"));

    auto *side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(edit);
    side->addWidget(remove);
    side->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(table);
    top->addLayout(side);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addLayout(top);
    layout->addWidget(buttons);
    dialog.resize(620, 320);

    const auto refresh = [&](int selectRow) {
        fillTable(table, edited);
        if (selectRow >= 0)
            table->selectRow(selectRow);
        const bool selected = !table->selectionModel()->selectedRows().isEmpty();
        edit->setEnabled(selected);
        remove->setEnabled(selected);
    };
    const auto rowOf = [&](quint32 address) {
        for (int i = 0; i < edited.size(); ++i) {
            if (edited.at(i).address == address)
                return i;
        }
        return -1;
    };
    const auto selectedRow = [&] {
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    };

    QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
        if (edited.size() + 1 >= Settings::MostModules) {
            QMessageBox::warning(
                &dialog, QString::fromLatin1(ProgramName),
                trModules("The panel polls at most %1 modules: the first module and %2 further "
                          "ones. Remove a module before adding another.")
                    .arg(Settings::MostModules)
                    .arg(Settings::MostModules - 1));
            return;
        }
        ModuleConfig entry;
        entry.address = freeAddress(firstAddress, edited);
        if (!editEntry(&dialog, firstAddress, edited, -1, &entry))
            return;
        edited.push_back(entry);
        sortByAddress(&edited);
        refresh(rowOf(entry.address));
    });
    const auto editSelected = [&] {
        const int row = selectedRow();
        if (row < 0)
            return;
        ModuleConfig entry = edited.at(row);
        if (!editEntry(&dialog, firstAddress, edited, row, &entry))
            return;
        edited[row] = entry;
        sortByAddress(&edited);
        refresh(rowOf(entry.address));
    };
    QObject::connect(edit, &QPushButton::clicked, &dialog, editSelected);
    QObject::connect(table, &QTableWidget::cellDoubleClicked, &dialog, editSelected);
    QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
        const int row = selectedRow();
        if (row < 0)
            return;
        edited.remove(row);
        refresh(std::min(row, int(edited.size()) - 1));
    });
    QObject::connect(table, &QTableWidget::itemSelectionChanged, &dialog, [&] {
        const bool selected = selectedRow() >= 0;
        edit->setEnabled(selected);
        remove->setEnabled(selected);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    refresh(edited.isEmpty() ? -1 : 0);

    if (dialog.exec() != QDialog::Accepted)
        return false;
    *modules = edited;
    return true;
}

} // namespace Brelk
