// The overview: one table row per channel of every module of the crate, the first module's
// channels first, with the set and measured values, the channel state and the latched events in
// the texts, alarm colours and stale look of the main window's fields, and "not answering" for a
// module that does not answer; and "Ramp Down All...", which sets every channel of the crate to
// 0 V after a confirmation. The rows of a channel group's channels offer the group's ramp in their
// context menu, and each group's state shows below the table and in its channels' tooltips. A
// top-level window owned by the main window, in whose status bar it names the modules Ramp Down All
// passed over: closing it only hides it. It follows every tick of every module but never takes the
// focus.
#ifndef OVERVIEWWINDOW_H
#define OVERVIEWWINDOW_H

#include "alarms.h"
#include "channelgroup.h"
#include "groupramp.h"
#include "reading.h"

#include <QHash>
#include <QVector>
#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace Brelk {

class Crate;
class ModuleSession;
class StatusNotice;

class OverviewWindow : public QWidget
{
    Q_OBJECT

public:
    // The table's columns, left to right.
    enum Column {
        ModuleColumn,
        AddressColumn,
        ChannelColumn,
        VsetColumn,
        VmeasColumn,
        ImeasColumn,
        StateColumn,
        EventsColumn,
        // The crate's host and the module's prefix, shown only while attached to services.
        CrateColumn,
        ColumnCount
    };

    OverviewWindow(Crate *crate, QWidget *parent);

    // The allowed |Vmeas - Vset| in volts behind the measured voltage's amber, or 0 for the
    // default rule: the main window's setting.
    void setVoltageTolerance(double volts);
    // The rows of a channel group's channels turn red (module, address and channel) while the
    // group is down after a trip, and back when none of its channels is tripped any more.
    void setGroupTripped(const QVector<GroupChannel> &channels, bool tripped);
    // The channel groups the runtime acts on, whose rows offer the group ramp.
    void setGroups(const QVector<ChannelGroup> &groups);
    // A group's state as the runtime words it ("ramping up 3/7", "at targets", "tripped");
    // `ramping` offers "Stop Group Ramp" in its rows' menu.
    void setGroupState(const QString &name, const QString &state, bool ramping);
    // Attached: the module's service runs on `host` and publishes under `prefix`; the "Crate"
    // column appears with the first.
    void setCrateName(ModuleSession *module, const QString &host, const QString &prefix);
    // The context menu of a table row: the ramp of the row's group; null for a row of a channel
    // in no group. The caller owns it.
    QMenu *groupMenu(int row);

public slots:
    // Shows the window, or brings it to the front when it is open.
    void showAndRaise();
    // Builds the rows anew for the modules of the crate in the order of the tick.
    void rebuild();
    // Asks, then sets every channel with a set voltage above 0 to 0 V, module by module, as the
    // newest tick at OK has it; a module that stopped answering meanwhile is passed over.
    void rampDownAll();

signals:
    // The operator double-clicked a row of this module.
    void moduleWindowWanted(Brelk::ModuleSession *module);
    // The operator chose "Ramp Group Up", "Ramp Group Down" or "Stop Group Ramp" in a group's row.
    void groupRampWanted(const QString &group, Brelk::GroupRampDirection direction);
    void groupRampStopWanted(const QString &group);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // What a cell shows, kept so that a steady tick changes nothing.
    struct Cell
    {
        QTableWidgetItem *item = nullptr;
        QString text;
        AlarmLevel alarm = AlarmLevel::None;
        bool stale = false;
    };
    struct Row
    {
        ModuleSession *module;
        int channel;
        Cell cells[ColumnCount];
        // The tick the row shows, valid while `current`: a tick that read the same words with the
        // same latched events changes nothing in it.
        Reading shownReading;
        quint16 shownLatch = 0;
        bool current = false;
    };

    void showModule(ModuleSession *module);
    void showTick();
    void showReading(int row, const Reading &reading, quint16 latchedEvents);
    void showStale(ModuleSession *module, bool stale);
    void showNotAnswering(ModuleSession *module);
    void setText(Cell &cell, const QString &text);
    void setLook(Cell &cell, AlarmLevel alarm, bool stale);
    void showGroupLook(Row &row);
    // The group that holds the row's channel; null for none.
    const ChannelGroup *groupOf(const Row &row) const;
    void showGroupStates();

    Crate *crate;
    QTableWidget *table;
    QPushButton *rampDownButton;
    QLabel *groupStateLabel;
    // In the owning main window's status bar; null without one.
    StatusNotice *rampDownNotice = nullptr;
    QVector<Row> rows;
    // Each module's first row; its channel B follows.
    QHash<const ModuleSession *, int> firstRow;
    QVector<QMetaObject::Connection> moduleConnections;
    // The modules with a complete tick not shown yet: the table changes once at the end of the
    // crate's tick, so that it is drawn once per tick and not once per module, and not at all
    // while the window is closed; it catches up when it is shown.
    QVector<ModuleSession *> ticked;
    // The channels of groups that are down after a trip.
    QVector<GroupChannel> trippedGroupChannels;
    QVector<ChannelGroup> groups;
    struct GroupState
    {
        QString text;
        bool ramping = false;
    };
    QHash<QString, GroupState> groupStates;
    double tolerance = 0;
    QHash<const ModuleSession *, QString> crateNames;
};

} // namespace Brelk

#endif // OVERVIEWWINDOW_H
