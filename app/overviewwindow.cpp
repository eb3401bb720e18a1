#include "overviewwindow.h"

#include "crate.h"
#include "display.h"
#include "fieldlook.h"
#include "modulesession.h"
#include "rampdown.h"
#include "statusnotice.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace Brelk {

namespace {

const char *const ColumnTitles[OverviewWindow::ColumnCount] = {
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Module"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Address"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Channel"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Vset"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Vmeas"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Imeas"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "State"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Events"),
    QT_TRANSLATE_NOOP("Brelk::OverviewWindow", "Crate"),
};

// The columns that show a reading, and so turn stale with it.
bool isReadingColumn(int column)
{
    return column >= OverviewWindow::VsetColumn && column <= OverviewWindow::EventsColumn;
}

// The module's name, and how many of its commands failed on the bus since the start.
QString moduleColumnText(const ModuleSession *module)
{
    const QString name =
        module->name().isEmpty() ? baseAddressText(module->baseAddress()) : module->name();
    const int failed = module->failedCommands();
    if (failed == 0)
        return name;
    return failed == 1 ? OverviewWindow::tr("%1 (1 failed command)").arg(name)
                       : OverviewWindow::tr("%1 (%2 failed commands)").arg(name).arg(failed);
}

// The module as Ramp Down All judges it now.
RampDownModule rampDownModule(const ModuleSession *module)
{
    RampDownModule judged{moduleLabel(module->name(), module->baseAddress()),
                          module->lastReading()};
    judged.stale = module->isStale();
    if (!module->newestTickEnd(&judged.tickEndMs))
        judged.reading = nullptr;
    return judged;
}

} // namespace

OverviewWindow::OverviewWindow(Crate *crate, QWidget *parent)
    : QWidget(parent, Qt::Window), crate(crate)
{
    setObjectName(QStringLiteral("overviewWindow"));
    setWindowTitle(tr("Overview - %1").arg(QLatin1String(ProgramName)));

    table = new QTableWidget(0, ColumnCount, this);
    table->setObjectName(QStringLiteral("overviewTable"));
    QStringList titles;
    for (const char *title : ColumnTitles)
        titles << tr(title);
    table->setHorizontalHeaderLabels(titles);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for a module's name, "6000.0 V", "0.0000 mA" and "Ramp down"; the latched events
    // take the rest.
    const int widths[] = {140, 70, 60, 80, 80, 90, 100};
    for (int column = 0; column < int(std::size(widths)); ++column)
        table->setColumnWidth(column, widths[column]);
    table->setColumnHidden(CrateColumn, true);
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < rows.size() && rows.at(row).module)
            emit moduleWindowWanted(rows.at(row).module);
    });
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        QMenu *menu = groupMenu(table->rowAt(position.y()));
        if (!menu)
            return;
        menu->exec(table->viewport()->mapToGlobal(position));
        delete menu;
    });

    rampDownButton = new QPushButton(tr("Ramp Down All..."), this);
    rampDownButton->setObjectName(QStringLiteral("btnRampDownAll"));
    connect(rampDownButton, &QPushButton::clicked, this, &OverviewWindow::rampDownAll);
    if (auto *mainWindow = qobject_cast<QMainWindow *>(parent))
        rampDownNotice = new StatusNotice(mainWindow->statusBar(), QStringLiteral("lblRampDown"));

    groupStateLabel = new QLabel(this);
    groupStateLabel->setObjectName(QStringLiteral("lblGroupStates"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(groupStateLabel);
    buttons->addStretch();
    buttons->addWidget(rampDownButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table);
    layout->addLayout(buttons);
    resize(820, 300);

    connect(crate, &Crate::orderChanged, this, &OverviewWindow::rebuild);
    connect(crate, &Crate::tickEnded, this, &OverviewWindow::showTick);
    // The session goes before the crate tells the new order; its rows must not name it meanwhile.
    connect(crate, &Crate::moduleRemoving, this, [this](ModuleSession *module) {
        for (Row &row : rows) {
            if (row.module == module)
                row.module = nullptr;
        }
        firstRow.remove(module);
        ticked.removeAll(module);
    });
    rebuild();
}

void OverviewWindow::setVoltageTolerance(double volts)
{
    tolerance = volts;
    for (ModuleSession *module : crate->modules())
        showModule(module);
}

void OverviewWindow::setCrateName(ModuleSession *module, const QString &host, const QString &prefix)
{
    const QString name = tr("%1 (%2)").arg(host, prefix);
    crateNames.insert(module, name);
    if (table->isColumnHidden(CrateColumn)) {
        // The crate comes first, before the module it holds; the events keep the stretch.
        table->setColumnHidden(CrateColumn, false);
        table->horizontalHeader()->moveSection(table->horizontalHeader()->visualIndex(CrateColumn),
                                               0);
        table->setColumnWidth(CrateColumn, 170);
        resize(width() + 170, height());
    }
    const int row = firstRow.value(module, -1);
    if (row < 0)
        return;
    for (int r = row; r < row + 2; ++r) {
        setText(rows[r].cells[CrateColumn], name);
        setText(rows[r].cells[AddressColumn], baseAddressText(module->baseAddress()));
    }
}

void OverviewWindow::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

void OverviewWindow::rebuild()
{
    for (const QMetaObject::Connection &connection : moduleConnections)
        disconnect(connection);
    moduleConnections.clear();
    ticked.clear();
    rows.clear();
    firstRow.clear();

    const QVector<ModuleSession *> &modules = crate->modules();
    table->setRowCount(0);
    table->setRowCount(2 * modules.size());
    for (ModuleSession *module : modules) {
        firstRow.insert(module, rows.size());
        for (int ch = 0; ch < 2; ++ch) {
            Row row{module, ch, {}, {}, 0, false};
            for (int column = 0; column < ColumnCount; ++column) {
                row.cells[column].item = new QTableWidgetItem;
                table->setItem(rows.size(), column, row.cells[column].item);
            }
            setText(row.cells[AddressColumn], baseAddressText(module->baseAddress()));
            setText(row.cells[ChannelColumn], QString(QLatin1Char(char('A' + ch))));
            setText(row.cells[CrateColumn], crateNames.value(module));
            showGroupLook(row);
            rows.push_back(row);
        }
        moduleConnections << connect(module, &ModuleSession::readingTaken, this, [this, module] {
            if (!ticked.contains(module))
                ticked.push_back(module);
        });
        moduleConnections << connect(module, &ModuleSession::staleChanged, this,
                                     [this, module](bool stale) { showStale(module, stale); });
        moduleConnections << connect(module, &ModuleSession::commandFailed, this,
                                     [this, module] { showModule(module); });
        moduleConnections << connect(module, &ModuleSession::noAnswer, this,
                                     [this, module] { showNotAnswering(module); });
        showModule(module);
    }
    showGroupStates();
}

// Shows what the module's window shows: the newest complete tick, stale or live; nothing before
// a first tick but, once it has missed three, that it does not answer.
void OverviewWindow::showModule(ModuleSession *module)
{
    const int row = firstRow.value(module, -1);
    if (row < 0)
        return;
    for (int r = row; r < row + 2; ++r) {
        setText(rows[r].cells[ModuleColumn], moduleColumnText(module));
        rows[r].cells[ModuleColumn].item->setToolTip(module->lastFailure());
        // The voltage tolerance may have changed what the alarms are.
        rows[r].current = false;
    }
    const Reading &reading = module->newestReading();
    if (reading.time != 0) {
        showReading(row, reading, module->eventLatch());
        showReading(row + 1, reading, module->eventLatch());
    }
    showStale(module, module->isStale());
    showNotAnswering(module);
}

void OverviewWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showTick();
}

// The texts of a reading come from the translator: a new language shows at the next tick.
void OverviewWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        for (Row &row : rows)
            row.current = false;
    }
}

void OverviewWindow::showTick()
{
    if (!isVisible())
        return;
    for (ModuleSession *module : qAsConst(ticked)) {
        const int row = firstRow.value(module, -1);
        if (row < 0)
            continue;
        showReading(row, module->newestReading(), module->eventLatch());
        showReading(row + 1, module->newestReading(), module->eventLatch());
        // It may have gone silent after the tick the closed window skipped.
        showNotAnswering(module);
    }
    ticked.clear();
}

void OverviewWindow::showReading(int rowIndex, const Reading &reading, quint16 latchedEvents)
{
    Row &row = rows[rowIndex];
    const int ch = row.channel;
    // A name given in the Modules dialog shows at the next tick.
    setText(row.cells[ModuleColumn], moduleColumnText(row.module));
    if (row.current && latchedEvents == row.shownLatch && sameWords(reading, row.shownReading))
        return;
    const ChannelTexts texts = channelTexts(reading, ch, latchedEvents);
    setText(row.cells[VsetColumn], texts.vset);
    setText(row.cells[VmeasColumn], texts.vmeas);
    setText(row.cells[ImeasColumn], texts.imeas);
    setText(row.cells[StateColumn], texts.state);
    if (!row.cells[StateColumn].item->toolTip().isEmpty())
        row.cells[StateColumn].item->setToolTip(QString());
    setText(row.cells[EventsColumn], texts.events);

    const ChannelAlarms alarms =
        channelAlarms(channelByte(reading.status, ch), channelByte(latchedEvents, ch),
                      measuredVolts(reading, ch), setVolts(reading, ch), tolerance);
    setLook(row.cells[VmeasColumn], alarms.voltageDeviation, row.cells[VmeasColumn].stale);
    setLook(row.cells[StateColumn], alarms.state, row.cells[StateColumn].stale);
    setLook(row.cells[EventsColumn], alarms.events, row.cells[EventsColumn].stale);
    row.shownReading = reading;
    row.shownLatch = latchedEvents;
    row.current = true;
}

void OverviewWindow::showStale(ModuleSession *module, bool stale)
{
    const int first = firstRow.value(module, -1);
    if (first < 0)
        return;
    for (int r = first; r < first + 2; ++r) {
        for (int column = 0; column < ColumnCount; ++column) {
            Cell &cell = rows[r].cells[column];
            if (isReadingColumn(column))
                setLook(cell, cell.alarm, stale);
        }
    }
}

// A module that misses ticks keeps its last values in the stale look; its state says that it does
// not answer, and since when.
void OverviewWindow::showNotAnswering(ModuleSession *module)
{
    const int first = firstRow.value(module, -1);
    if (first < 0 || !module->isSilent())
        return;
    const qint64 lastAnswer = module->lastAnswer();
    const QString since = lastAnswer == 0 ? tr("Last answer: never")
                                          : tr("Last answer: %1").arg(localTimeText(lastAnswer));
    for (int r = first; r < first + 2; ++r) {
        Cell &cell = rows[r].cells[StateColumn];
        // The next answer shows its state again, even one that reads as before.
        rows[r].current = false;
        setText(cell, tr("not answering"));
        cell.item->setToolTip(since);
        setLook(cell, AlarmLevel::None, true);
    }
}

// Only this window writes the items' texts, so the text it wrote last is the one they show.
void OverviewWindow::setText(Cell &cell, const QString &text)
{
    if (cell.text != text) {
        cell.text = text;
        cell.item->setText(text);
    }
}

void OverviewWindow::setGroupTripped(const QVector<GroupChannel> &channels, bool tripped)
{
    for (const GroupChannel &channel : channels) {
        trippedGroupChannels.removeAll(channel);
        if (tripped)
            trippedGroupChannels << channel;
    }
    for (Row &row : rows)
        showGroupLook(row);
}

void OverviewWindow::setGroups(const QVector<ChannelGroup> &newGroups)
{
    groups = newGroups;
    showGroupStates();
}

void OverviewWindow::setGroupState(const QString &name, const QString &state, bool ramping)
{
    groupStates.insert(name, {state, ramping});
    showGroupStates();
}

const ChannelGroup *OverviewWindow::groupOf(const Row &row) const
{
    if (!row.module)
        return nullptr;
    const GroupChannel channel{row.module->baseAddress(), row.channel};
    for (const ChannelGroup &group : groups) {
        if (group.channels.contains(channel))
            return &group;
    }
    return nullptr;
}

// "GEM1: ramping up 3/7; GEM2: at targets" below the table, and each group's state in the tooltip
// of its channels' cells.
void OverviewWindow::showGroupStates()
{
    QStringList states;
    for (const ChannelGroup &group : qAsConst(groups)) {
        const QString state = groupStates.value(group.name).text;
        if (!state.isEmpty())
            states << tr("%1: %2").arg(group.name, state);
    }
    groupStateLabel->setText(states.join(QLatin1String("; ")));
    for (Row &row : rows) {
        const ChannelGroup *group = groupOf(row);
        QString tip;
        if (group) {
            const QString state = groupStates.value(group->name).text;
            tip = state.isEmpty() ? tr("Group %1").arg(group->name)
                                  : tr("Group %1: %2").arg(group->name, state);
        }
        row.cells[ChannelColumn].item->setToolTip(tip);
    }
}

QMenu *OverviewWindow::groupMenu(int row)
{
    if (row < 0 || row >= rows.size())
        return nullptr;
    const ChannelGroup *group = groupOf(rows.at(row));
    if (!group)
        return nullptr;
    const QString name = group->name;
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("groupMenu"));
    QAction *up = menu->addAction(tr("Ramp Group Up"), this, [this, name] {
        emit groupRampWanted(name, GroupRampDirection::Up);
    });
    up->setObjectName(QStringLiteral("actionRampGroupUp"));
    menu->addAction(tr("Ramp Group Down"), this,
                    [this, name] { emit groupRampWanted(name, GroupRampDirection::Down); })
        ->setObjectName(QStringLiteral("actionRampGroupDown"));
    if (groupStates.value(name).ramping) {
        menu->addAction(tr("Stop Group Ramp"), this,
                        [this, name] { emit groupRampStopWanted(name); })
            ->setObjectName(QStringLiteral("actionStopGroupRamp"));
    }
    return menu;
}

void OverviewWindow::showGroupLook(Row &row)
{
    const AlarmLevel look =
        trippedGroupChannels.contains(GroupChannel{row.module->baseAddress(), row.channel})
            ? AlarmLevel::Red
            : AlarmLevel::None;
    for (int column : {ModuleColumn, AddressColumn, ChannelColumn})
        setLook(row.cells[column], look, false);
}

// A cell without alarm and live keeps the table's own colours and font.
void OverviewWindow::setLook(Cell &cell, AlarmLevel alarm, bool stale)
{
    if (cell.alarm == alarm && cell.stale == stale)
        return;
    cell.alarm = alarm;
    cell.stale = stale;
    QPalette palette = table->palette();
    colourReading(&palette, alarm, stale, palette.color(QPalette::Disabled, QPalette::Text));
    const bool coloured = alarm != AlarmLevel::None;
    cell.item->setData(Qt::BackgroundRole,
                       coloured ? QVariant(QBrush(palette.color(QPalette::Base))) : QVariant());
    cell.item->setData(Qt::ForegroundRole, coloured || stale
                                               ? QVariant(QBrush(palette.color(QPalette::Text)))
                                               : QVariant());
    if (stale) {
        QFont font = table->font();
        font.setItalic(true);
        cell.item->setData(Qt::FontRole, font);
    } else {
        cell.item->setData(Qt::FontRole, QVariant());
    }
}

void OverviewWindow::rampDownAll()
{
    QVector<RampDownModule> modules;
    QVector<QPointer<ModuleSession>> targets;
    for (ModuleSession *session : crate->modules()) {
        modules.push_back(rampDownModule(session));
        targets.push_back(session);
    }
    const RampDownPlan question = planRampDown(modules, monotonicMs());

    QMessageBox box(QMessageBox::Question, tr("Ramp Down All - %1").arg(QLatin1String(ProgramName)),
                    rampDownQuestion(modules, question), QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("rampDownConfirmation"));
    if (question.channels.isEmpty()) {
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return;
    }
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    // A stray Enter does not stop every channel of the crate.
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Ok)
        return;

    // Ticks went on behind the box: each module with a channel in the question is judged again
    // by its newest tick. One removed meanwhile is passed over; one that stopped
    // answering is passed over and named, since its set voltages are no longer known.
    QStringList skipped;
    for (int m = 0; m < targets.size(); ++m) {
        ModuleSession *target = targets.at(m);
        const bool asked =
            std::any_of(question.channels.cbegin(), question.channels.cend(),
                        [m](const RampDownPlan::Channel &c) { return c.module == m; });
        if (!target || !asked)
            continue;
        const QVector<RampDownModule> now{rampDownModule(target)};
        const RampDownPlan plan = planRampDown(now, monotonicMs());
        if (!plan.notAnswering.isEmpty())
            skipped << now.first().label;
        for (const RampDownPlan::Channel &channel : plan.channels)
            target->execute(rampDownWrites(channel));
    }
    if (!skipped.isEmpty() && rampDownNotice) {
        rampDownNotice->show(
            tr("Ramp Down All skipped, not answering: %1").arg(skipped.join(QLatin1String(", "))),
            true);
    }
}

} // namespace Brelk
