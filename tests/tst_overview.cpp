// The crate's overview on an in-memory bus: one row per channel in the order of the tick, the
// main window's texts, alarm colours and stale look per module, only changed cells rewritten;
// Ramp Down All as the exact writes it makes; and the Modules dialog's refusals and edits.
#include "bridge.h"
#include "crate.h"
#include "dialogdriver.h"
#include "display.h"
#include "fakecontroller.h"
#include "fieldlook.h"
#include "modulesdialog.h"
#include "modulesession.h"
#include "overviewwindow.h"
#include "rampdown.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTranslator>
#include <QtTest>

#include <initializer_list>
#include <memory>
#include <utility>

using namespace Brelk;

namespace {

// Register offsets the rows are made from.
enum : quint32 {
    Status = 0x00,
    VsetA = 0x04,
    VsetB = 0x08,
    VmeasA = 0x14,
    VmeasB = 0x18,
    VmeasFineA = 0x16,
    VmeasFineB = 0x1A,
    ImeasA = 0x1C,
    ImeasB = 0x20,
    Events = 0x30,
    Serial = 0x3C,
};

// A crate on a fake bus: the first module at 0xDD00 and the further ones given.
struct CrateRig
{
    explicit CrateRig(const QVector<ModuleConfig> &further)
    {
        bus = new FakeController;
        bridge.adopt(bus, true);
        crate = std::make_unique<Crate>(&bridge, 0xDD00);
        crate->connected();
        set(0xDD00, Serial, 0x0101);
        for (const ModuleConfig &config : further) {
            crate->addModule(config);
            set(config.address, Serial, quint16(0x0100 + config.address / 0x100));
        }
    }
    void set(quint32 base, quint32 offset, quint16 word) { bus->registers[base + offset] = word; }
    // Register offsets and their words.
    void set(quint32 base, std::initializer_list<std::pair<quint32, int>> words)
    {
        for (const auto &word : words)
            set(base, word.first, quint16(word.second));
    }
    // The crate's overview, shown, after a tick.
    QTableWidget *showOverview()
    {
        window = std::make_unique<OverviewWindow>(crate.get(), nullptr);
        window->show();
        crate->pollAll();
        return window->findChild<QTableWidget *>(QStringLiteral("overviewTable"));
    }

    Bridge bridge;
    FakeController *bus = nullptr;
    std::unique_ptr<Crate> crate;
    std::unique_ptr<OverviewWindow> window;
};

ModuleConfig further(quint32 address, const QString &name = QString(),
                     ResolutionSelection selection = ResolutionSelection())
{
    return {address, name, selection};
}

QStringList rowTexts(QTableWidget *table)
{
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) {
            if (!table->isColumnHidden(column))
                cells << table->item(row, column)->text();
        }
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// The colours a field of the main window takes for `level`: the cell must show the same.
QPair<QColor, QColor> fieldColours(AlarmLevel level)
{
    QLineEdit field;
    FieldLook look(&field);
    look.setAlarm(level);
    return {field.palette().color(QPalette::Base), field.palette().color(QPalette::Text)};
}

// Per row, each cell's look: "-" plain, "A" amber or "R" red as the main window's fields, "S"
// stale (italic in the disabled text colour), "?" anything else.
QStringList looks(QTableWidget *table)
{
    const auto amber = fieldColours(AlarmLevel::Amber), red = fieldColours(AlarmLevel::Red);
    const QColor disabled = table->palette().color(QPalette::Disabled, QPalette::Text);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QString cells;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem *item = table->item(row, column);
            const bool coloured = item->data(Qt::BackgroundRole).isValid() ||
                                  item->data(Qt::ForegroundRole).isValid();
            const QPair<QColor, QColor> colours{item->background().color(),
                                                item->foreground().color()};
            if (item->data(Qt::FontRole).value<QFont>().italic())
                cells += colours.second == disabled ? 'S' : '?';
            else
                cells += !coloured ? '-' : colours == red ? 'R' : colours == amber ? 'A' : '?';
        }
        rows << cells;
    }
    return rows;
}

template <typename Widget> Widget *child(QWidget *parent, const char *name)
{
    auto *widget = parent->findChild<Widget *>(QLatin1String(name));
    if (!widget)
        qWarning() << "no widget" << name;
    return widget;
}

void clickDialogButton(QWidget *dialog, QDialogButtonBox::StandardButton which)
{
    child<QDialogButtonBox>(dialog, "buttonBox")->button(which)->click();
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private slots:
    void rowsShowTheFormsTexts();
    void alarmColours();
    void silentModuleGoesStaleAlone();
    void steadyTickRewritesNoCell();
    void rowsFollowTheCrateAndItsGroups();
    void planRampDown_data();
    void planRampDown();
    void rampDownAll_data();
    void rampDownAll();
    void modulesDialogRefuses_data();
    void modulesDialogRefuses();
    void modulesDialogRoundTrip_data();
    void modulesDialogRoundTrip();
};

void TestOverview::rowsShowTheFormsTexts()
{
    CrateRig rig(
        {further(0xDC00, "Drift chamber", {true, CurrentResolution::nA1, SecondRange::None}),
         further(0x1000, QString(), {false, CurrentResolution::nA100, SecondRange::nA1})});
    rig.set(0xDD00,
            {{VsetA, 1500}, {VmeasA, 1498}, {ImeasA, 1234}, {Status, 0x0060}, {Events, 0x0092}});
    rig.set(0x1000, {{VsetA, 200}, {VsetB, 300}, {VmeasA, 200}, {VmeasB, 300}});
    rig.set(0x1000, {{ImeasA, 1234}, {ImeasB, 5}, {Status, 0x8040}, {Events, 0x2000}});
    rig.set(0xDC00, {{VsetA, 1000}, {VsetB, 2000}, {VmeasFineA, 12345}, {VmeasFineB, 20000}});
    rig.set(0xDC00, {{ImeasA, 1234}, {Status, 0x0002}});

    OverviewWindow window(rig.crate.get(), nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Overview - pavex BRELK Control"));
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("overviewTable"));
    QVERIFY(table);
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (!table->isColumnHidden(column))
            headers << table->horizontalHeaderItem(column)->text();
    }
    QCOMPARE(headers, (QStringList{"Module", "Address", "Channel", "Vset", "Vmeas", "Imeas",
                                   "State", "Events"}));
    // A closed overview costs the tick nothing: it shows only who is where, and never opens for a
    // tick; shown, it shows the newest tick at once.
    rig.crate->pollAll();
    QVERIFY(!window.isVisible());
    QCOMPARE(rowTexts(table).first(), QStringLiteral("0xDD00|0xDD00|A|||||"));
    window.show();
    QCOMPARE(rowTexts(table),
             (QStringList{"0xDD00|0xDD00|A|1500 V|1498 V|1.234 mA|Ramp up|QUA+VLIM+TRP",
                          "0xDD00|0xDD00|B|0 V|0 V|0.000 mA|Stable|",
                          "0x1000|0x1000|A|200 V|200 V|123.40 uA|Ramp down|",
                          "0x1000|0x1000|B|300 V|300 V|0.50 uA|Error|INH",
                          "Drift chamber|0xDC00|A|1000 V|1234.5 V|1.2340 uA|Manual|",
                          "Drift chamber|0xDC00|B|2000 V|2000.0 V|0.0000 uA|Stable|"}));

    // The latch gathers the events of the ticks and keeps those the module no longer reports,
    // until Clear of their channel: the Events cells show it, not the tick's events.
    const auto latched = [table] {
        return table->item(2, OverviewWindow::EventsColumn)->text() + QLatin1Char('/') +
               table->item(3, OverviewWindow::EventsColumn)->text();
    };
    rig.set(0x1000, Events, EventTRP);
    rig.crate->pollAll();
    rig.set(0x1000, Events, 0);
    rig.crate->pollAll();
    QCOMPARE(latched(), QStringLiteral("TRP/INH"));
    rig.crate->module(0x1000)->clearEvents(0);
    rig.crate->pollAll();
    QCOMPARE(latched(), QStringLiteral("/INH"));
    rig.crate->module(0x1000)->clearEvents(1);
    rig.crate->pollAll();
    QCOMPARE(latched(), QStringLiteral("/"));
}

// Channel A of each further module is set to 1000 V and in a state of its own: its Vmeas, State and
// Events cells take the colours of the main window's fields for the alarm, all other cells stay
// plain. A voltage tolerance of 50 V takes back the alarm of 20 V off.
void TestOverview::alarmColours()
{
    // Status, events and Vmeas A of the modules at 0x1000 to 0x6000: quiet, a trip, a quench
    // alone, an error, 20 V off while stable, and a trip of channel B.
    const int states[6][3] = {{0, 0, 1000},    {0, 0x02, 1000}, {0, 0x80, 1000},
                              {0x80, 0, 1000}, {0, 0, 980},     {0, 0x0200, 1000}};
    QVector<ModuleConfig> modules;
    for (quint32 m = 1; m <= 6; ++m)
        modules << further(m * 0x1000);
    CrateRig rig(modules);
    for (quint32 m = 1; m <= 6; ++m) {
        const int *state = states[m - 1];
        rig.set(m * 0x1000, {{VsetA, 1000}, {Status, state[0]}, {Events, state[1]}});
        rig.set(m * 0x1000, VmeasA, quint16(state[2]));
    }
    QTableWidget *table = rig.showOverview();
    const QString plain(table->columnCount(), QLatin1Char('-'));
    QStringList expected{plain, plain,       plain, plain,       "-------R-", plain, "-------A-",
                         plain, "------R--", plain, "----A----", plain,       plain, "-------R-"};
    QCOMPARE(looks(table), expected);
    rig.window->setVoltageTolerance(50);
    expected[10] = plain;
    QCOMPARE(looks(table), expected);
}

// A module that stops answering keeps its values in the stale look and says so in its state, with
// its last answer in the tooltip; one that never answered says "never". Failed writes show in the
// module's cells.
void TestOverview::silentModuleGoesStaleAlone()
{
    CrateRig rig({further(0x1000), further(0x2000)});
    rig.set(0x1000, {{VsetA, 700}, {Events, 0x02}});
    rig.set(0x2000, Serial, 0xFFFF);
    QTableWidget *table = rig.showOverview();
    QStringList live = rowTexts(table);
    const QString lastAnswer =
        QDateTime::fromMSecsSinceEpoch(rig.crate->module(0x1000)->newestReading().time)
            .toString(QStringLiteral("hh:mm:ss"));

    rig.set(0x1000, Serial, 0xFFFF);
    for (int tick = 1; tick <= 3; ++tick)
        rig.crate->pollAll();
    live[2].replace(QStringLiteral("|Stable|"), QStringLiteral("|not answering|"));
    live[3].replace(QStringLiteral("|Stable|"), QStringLiteral("|not answering|"));
    live[4] = QStringLiteral("0x2000|0x2000|A||||not answering|");
    live[5] = QStringLiteral("0x2000|0x2000|B||||not answering|");
    QCOMPARE(rowTexts(table), live);
    const QString plain(table->columnCount(), QLatin1Char('-')), stale("---SSSSS-");
    QCOMPARE(looks(table), (QStringList{plain, plain, stale, stale, stale, stale}));
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString tip = row < 2   ? QString()
                            : row < 4 ? "Last answer: " + lastAnswer
                                      : QStringLiteral("Last answer: never");
        QCOMPARE(table->item(row, OverviewWindow::StateColumn)->toolTip(), tip);
    }
    // The trip's background stays while the module is silent.
    const auto red = fieldColours(AlarmLevel::Red);
    QCOMPARE(table->item(2, OverviewWindow::EventsColumn)->background().color(), red.first);

    rig.set(0x1000, Serial, 0x0110);
    rig.crate->pollAll();
    QCOMPARE(looks(table).at(2), QStringLiteral("----A--R-"));
    QCOMPARE(table->item(2, OverviewWindow::StateColumn)->text(), QStringLiteral("Stable"));
    QCOMPARE(table->item(2, OverviewWindow::StateColumn)->toolTip(), QString());

    // A module whose writes failed says so in its rows, the newest failure in the tooltip.
    rig.bus->writeStatus = -1;
    for (int i = 0; i < 2; ++i)
        rig.crate->module(0x1000)->execute(setVoltageWrites(1, 0));
    for (int row = 2; row < 4; ++row) {
        QCOMPARE(table->item(row, OverviewWindow::ModuleColumn)->text(),
                 QStringLiteral("0x1000 (2 failed commands)"));
        QCOMPARE(table->item(row, OverviewWindow::ModuleColumn)->toolTip(),
                 QStringLiteral("Write to the module at 0x1000 failed (register 0x38): status -1"));
    }
    QCOMPARE(table->item(0, OverviewWindow::ModuleColumn)->text(), QStringLiteral("0xDD00"));
}

// Eight modules at ten ticks a second: a tick that changes nothing must not repaint a cell.
void TestOverview::steadyTickRewritesNoCell()
{
    QVector<ModuleConfig> modules;
    for (quint32 address = 0x1000; address <= 0x7000; address += 0x1000)
        modules << further(address);
    CrateRig rig(modules);
    for (quint32 address = 0x1000; address <= 0x7000; address += 0x1000)
        rig.set(address, {{VsetA, 1000}, {Status, 0x0040}, {Events, 0x0200}});
    QTableWidget *table = rig.showOverview();
    QCOMPARE(table->rowCount(), 16);
    QSignalSpy changes(table->model(), &QAbstractItemModel::dataChanged);
    rig.crate->pollAll();
    QCOMPARE(changes.size(), 0);

    rig.set(0x3000, VmeasA, 500);
    rig.crate->pollAll();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toModelIndex(),
             table->model()->index(6, OverviewWindow::VmeasColumn));

    // After a change of language the steady tick shows its texts anew.
    struct German : QTranslator
    {
        bool isEmpty() const override { return false; }
        QString translate(const char *, const char *sourceText, const char *, int) const override
        {
            return qstrcmp(sourceText, "Stable") == 0 ? QStringLiteral("Stabil") : QString();
        }
    } german;
    QVERIFY(QCoreApplication::installTranslator(&german));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    rig.crate->pollAll();
    const QString shown = table->item(0, OverviewWindow::StateColumn)->text();
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(shown, QStringLiteral("Stabil"));
}

// The rows follow the crate's order as modules come, move and go. A group's state shows below the
// table and in the tooltips of its channels, the rows of a group that is down after a trip are red
// in their module, address and channel cells; the cells' texts stay as they were. A group's
// channel offers the group's ramp in its menu, and Stop while it ramps.
void TestOverview::rowsFollowTheCrateAndItsGroups()
{
    CrateRig rig({further(0x1000), further(0xDC00, "Drift chamber")});
    QTableWidget *table = rig.showOverview();
    OverviewWindow &window = *rig.window;
    const QStringList texts = rowTexts(table);
    QVERIFY(texts.first().contains(QLatin1String("Stable")));
    auto *label = window.findChild<QLabel *>(QStringLiteral("lblGroupStates"));
    QVERIFY(label);
    // Per row: address, channel, the looks of its module, address and channel cells, and the
    // channel's tooltip.
    const auto rows = [table] {
        QStringList list;
        const QStringList look = looks(table);
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem *channel = table->item(row, OverviewWindow::ChannelColumn);
            list << QStringList{table->item(row, OverviewWindow::AddressColumn)->text(),
                                channel->text(), look.at(row).left(3), channel->toolTip()}
                        .join(QLatin1Char('|'));
        }
        return list;
    };
    ChannelGroup gem1;
    gem1.name = QStringLiteral("GEM1");
    gem1.channels = {{0xDD00, 1}, {0x1000, 0}};
    ChannelGroup drift;
    drift.name = QStringLiteral("Drift");
    drift.channels = {{0xDD00, 0}, {0x1000, 1}};
    window.setGroups({gem1, drift});
    QCOMPARE(label->text(), QString());
    QCOMPARE(rows(), (QStringList{"0xDD00|A|---|Group Drift", "0xDD00|B|---|Group GEM1",
                                  "0x1000|A|---|Group GEM1", "0x1000|B|---|Group Drift",
                                  "0xDC00|A|---|", "0xDC00|B|---|"}));

    QStringList wanted; // "group up", "group down", "group stop"
    connect(&window, &OverviewWindow::groupRampWanted,
            [&wanted](const QString &group, GroupRampDirection direction) {
                wanted << group + (direction == GroupRampDirection::Up ? " up" : " down");
            });
    connect(&window, &OverviewWindow::groupRampStopWanted,
            [&wanted](const QString &group) { wanted << group + " stop"; });
    // The texts of the row's menu; the action named `chosen` is triggered.
    const auto menu = [&window](int row, const QString &chosen) {
        const std::unique_ptr<QMenu> menu(window.groupMenu(row));
        QStringList texts;
        for (QAction *action : menu ? menu->actions() : QList<QAction *>()) {
            texts << action->text();
            if (action->text() == chosen)
                action->trigger();
        }
        return texts;
    };
    const QStringList upDown{"Ramp Group Up", "Ramp Group Down"};
    QVERIFY(!std::unique_ptr<QMenu>(window.groupMenu(4)));
    QCOMPARE(menu(1, QStringLiteral("Ramp Group Up")), upDown);
    QCOMPARE(menu(3, QStringLiteral("Ramp Group Down")), upDown);

    window.setGroupState(QStringLiteral("GEM1"), QStringLiteral("ramping up 3/7"), true);
    window.setGroupState(QStringLiteral("Drift"), QStringLiteral("tripped"), false);
    window.setGroupTripped(drift.channels, true);
    QCOMPARE(label->text(), QStringLiteral("GEM1: ramping up 3/7; Drift: tripped"));
    QCOMPARE(menu(2, QStringLiteral("Stop Group Ramp")), upDown + QStringList{"Stop Group Ramp"});
    QCOMPARE(wanted, (QStringList{"GEM1 up", "Drift down", "GEM1 stop"}));
    ModuleSession *added = rig.crate->addModule(further(0x0500));
    QCOMPARE(
        rows(),
        (QStringList{"0xDD00|A|RRR|Group Drift: tripped", "0xDD00|B|---|Group GEM1: ramping up 3/7",
                     "0x0500|A|---|", "0x0500|B|---|", "0x1000|A|---|Group GEM1: ramping up 3/7",
                     "0x1000|B|RRR|Group Drift: tripped", "0xDC00|A|---|", "0xDC00|B|---|"}));
    rig.crate->moveModule(added, 0xE000);
    rig.crate->removeModule(rig.crate->module(0xDC00));
    window.setGroupTripped(drift.channels, false);
    QCOMPARE(
        rows(),
        (QStringList{"0xDD00|A|---|Group Drift: tripped", "0xDD00|B|---|Group GEM1: ramping up 3/7",
                     "0x1000|A|---|Group GEM1: ramping up 3/7", "0x1000|B|---|Group Drift: tripped",
                     "0xE000|A|---|", "0xE000|B|---|"}));

    // The moved module is polled at its new address; its rows follow its ticks.
    rig.set(0xE000, {{Serial, 0x0123}, {VsetB, 42}});
    rig.crate->pollAll();
    QCOMPARE(rowTexts(table).mid(0, 4), texts.mid(0, 4));
    QCOMPARE(table->item(5, OverviewWindow::VsetColumn)->text(), QStringLiteral("42 V"));
}

void TestOverview::planRampDown_data()
{
    // Per module "vsetA,vsetB,age in ms" of its last complete tick on the monotonic clock, with
    // ",stale" when its readings are marked stale; no age: never answered.
    QTest::addColumn<QStringList>("modules");
    QTest::addColumn<qint64>("clockStep");     // how far the wall clock moved since the ticks
    QTest::addColumn<QStringList>("channels"); // module index, channel, set voltage shown
    QTest::addColumn<QList<int>>("notAnswering");

    // Channels at 0 V and modules that never answered: rampDownAll's box leaves them out.
    const qint64 hour = 3600 * 1000;
    QTest::newRow("a second old still answers")
        << QStringList{"10,0,1000"} << qint64(0) << QStringList{"0A 10 V"} << QList<int>();
    QTest::newRow("older is skipped") << QStringList{"10,0,1001", "0,20,0"} << qint64(0)
                                      << QStringList{"1B 20 V"} << QList<int>{0};
    QTest::newRow("nothing above 0")
        << QStringList{"0,0,0"} << qint64(0) << QStringList() << QList<int>();
    QTest::newRow("stale though recent is skipped")
        << QStringList{"10,0,100,stale", "0,20,100"} << qint64(0) << QStringList{"1B 20 V"}
        << QList<int>{0};
    QTest::newRow("wall clock stepped forward: an answering module still answers")
        << QStringList{"10,0,100"} << hour << QStringList{"0A 10 V"} << QList<int>();
    QTest::newRow("wall clock stepped back: a silent module is still skipped")
        << QStringList{"10,0,5000", "0,20,0"} << -hour << QStringList{"1B 20 V"} << QList<int>{0};
}

void TestOverview::planRampDown()
{
    QFETCH(QStringList, modules);
    QFETCH(qint64, clockStep);
    QFETCH(QStringList, channels);
    QFETCH(QList<int>, notAnswering);

    const qint64 now = 500000;
    const qint64 wallClock = 1700000000000;
    std::vector<Reading> readings(size_t(modules.size()));
    QVector<RampDownModule> input;
    for (int m = 0; m < modules.size(); ++m) {
        const QStringList parts = modules.at(m).split(QLatin1Char(','));
        Reading &reading = readings[size_t(m)];
        reading.vset[0] = quint16(parts.at(0).toInt());
        reading.vset[1] = quint16(parts.at(1).toInt());
        const bool answered = parts.size() > 2;
        RampDownModule module{QString::number(m), answered ? &reading : nullptr};
        if (answered) {
            const int age = parts.at(2).toInt();
            // The tick's wall-clock time is the one before the step.
            reading.time = wallClock - clockStep - age;
            module.tickEndMs = now - age;
            module.stale = parts.size() > 3;
        }
        input.push_back(module);
    }
    const RampDownPlan plan = Brelk::planRampDown(input, now);
    QStringList planned;
    for (const RampDownPlan::Channel &channel : plan.channels)
        planned << QStringLiteral("%1%2 %3")
                       .arg(channel.module)
                       .arg(QChar(QLatin1Char(char('A' + channel.channel))))
                       .arg(channel.setVoltage);
    QCOMPARE(planned, channels);
    QCOMPARE(plan.notAnswering.toList(), notAnswering);
}

void TestOverview::rampDownAll_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("silentBeforeOk"); // the drift chamber stops answering behind the box
    QTest::addColumn<QString>("notice");      // in the main window's status bar
    QTest::newRow("OK") << true << false << QString();
    QTest::newRow("Cancel") << false << false << QString();
    QTest::newRow("OK after a module stopped answering")
        << true << true << "Ramp Down All skipped, not answering: Drift chamber (0xDC00)";
}

void TestOverview::rampDownAll()
{
    QFETCH(bool, confirm);
    QFETCH(bool, silentBeforeOk);

    CrateRig rig({further(0xDC00, "Drift chamber"), further(0x1000)});
    rig.set(0xDD00, {{VsetA, 1500}, {VsetB, 800}});
    rig.set(0xDC00, VsetB, 2000);
    // Set, but no module answers there.
    rig.set(0x1000, {{Serial, 0xFFFF}, {VsetA, 300}});
    rig.crate->pollAll();
    QMainWindow mainWindow;
    OverviewWindow window(rig.crate.get(), &mainWindow);
    window.show();
    rig.bus->cycles.clear();

    QString text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    DialogDriver::onModal(QStringLiteral("rampDownConfirmation"), [&](QWidget *widget) {
        auto *box = static_cast<QMessageBox *>(widget);
        text = box->text();
        defaultButton = box->standardButton(box->defaultButton());
        // The ticks go on behind the box; the first module has turned channel B down meanwhile.
        rig.set(0xDD00, VsetB, 0);
        if (silentBeforeOk)
            rig.set(0xDC00, Serial, 0xFFFF);
        for (int tick = 0; tick < 3; ++tick)
            rig.crate->pollAll();
        rig.bus->cycles.clear();
        box->button(confirm ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    child<QPushButton>(&window, "btnRampDownAll")->click();

    QCOMPARE(text, QStringLiteral("Set the voltage of these channels to 0 V?\n"
                                  "0xDD00, channel A: 1500 V\n"
                                  "0xDD00, channel B: 800 V\n"
                                  "Drift chamber (0xDC00), channel B: 2000 V\n"
                                  "\n"
                                  "Skipped, not answering:\n"
                                  "0x1000"));
    QCOMPARE(defaultButton, QMessageBox::Cancel);
    // The newest tick at OK decides.
    QVector<BusCycle> written{{0xDD34, 0x29, 0, true}};
    if (!silentBeforeOk)
        written.append({0xDC38, 0x29, 0, true});
    QCOMPARE(rig.bus->cycles, confirm ? written : QVector<BusCycle>());
    auto *notice = mainWindow.statusBar()->findChild<QLabel *>(QStringLiteral("lblRampDown"));
    QTEST(notice ? notice->text() : QString(), "notice");
}

void TestOverview::modulesDialogRefuses_data()
{
    QTest::addColumn<int>("moduleCount"); // further modules at 0x0000, 0x0100, ...
    QTest::addColumn<int>("editRow");     // -1: Add
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("warning");

    const QString first =
        QStringLiteral("0xDD00 is the address of the first module (File > Module Address...).");
    QTest::newRow("first module's address") << 1 << -1 << "0xDD00" << first;
    QTest::newRow("first module's address, edited") << 2 << 1 << "0xDD00" << first;
    QTest::newRow("address used twice") << 2 << 0 << "0x0100"
                                        << "Another module already has the address 0x0100.";
    QTest::newRow("added twice") << 3 << -1 << "0x0200"
                                 << "Another module already has the address 0x0200.";
    QTest::newRow("sixteen in all")
        << 15 << -1 << QString()
        << "The panel polls at most 16 modules: the first module and 15 further ones. Remove a "
           "module before adding another.";
}

void TestOverview::modulesDialogRefuses()
{
    QFETCH(int, moduleCount);
    QFETCH(int, editRow);
    QFETCH(QString, address);
    QFETCH(QString, warning);

    QVector<ModuleConfig> modules;
    for (int i = 0; i < moduleCount; ++i)
        modules << further(quint32(i) * 0x100, QStringLiteral("M%1").arg(i));

    SeenDialog seen; // the warning box
    bool entryStayedOpen = false;
    int rowsAfter = -1;
    DialogDriver::onModal(QStringLiteral("modulesDialog"), [&](QWidget *dialog) {
        auto *table = child<QTableWidget>(dialog, "modulesTable");
        if (editRow >= 0)
            table->selectRow(editRow);
        if (address.isEmpty()) {
            DialogDriver::reject(&seen);
        } else {
            DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
                child<QComboBox>(entry, "cmbAddress")->setCurrentText(address);
                DialogDriver::reject(&seen);
                clickDialogButton(entry, QDialogButtonBox::Ok);
                entryStayedOpen = entry->isVisible();
                clickDialogButton(entry, QDialogButtonBox::Cancel);
            });
        }
        child<QPushButton>(dialog, editRow >= 0 ? "btnEditModule" : "btnAddModule")->click();
        rowsAfter = table->rowCount();
        clickDialogButton(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(editFurtherModules(nullptr, 0xDD00, &modules));
    QCOMPARE(seen.text, warning);
    QCOMPARE(entryStayedOpen, !address.isEmpty());
    QCOMPARE(rowsAfter, moduleCount);
    QCOMPARE(modules.size(), moduleCount);
    for (int i = 0; i < modules.size(); ++i)
        QCOMPARE(modules.at(i).address, quint32(i) * 0x100);
}

void TestOverview::modulesDialogRoundTrip_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

// Edit one module, add one, remove another; OK hands back the list by address.
void TestOverview::modulesDialogRoundTrip()
{
    QFETCH(bool, confirm);

    QVector<ModuleConfig> modules{
        further(0xDC00, "Drift chamber", {true, CurrentResolution::nA1, SecondRange::pA100}),
        further(0x1000, "Gas")};
    QStringList entryStart;
    QStringList addresses;
    QStringList tableRows;
    DialogDriver::onModal(QStringLiteral("modulesDialog"), [&](QWidget *dialog) {
        auto *table = child<QTableWidget>(dialog, "modulesTable");
        // Listed by address: "Gas" first.
        table->selectRow(0);
        DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
            auto *address = child<QComboBox>(entry, "cmbAddress");
            for (int i = 0; i < address->count(); ++i)
                addresses << address->itemText(i);
            auto *name = child<QLineEdit>(entry, "txtName");
            auto *voltage = child<QComboBox>(entry, "cmbVoltageResolution");
            auto *current = child<QComboBox>(entry, "cmbCurrentResolution");
            auto *second = child<QComboBox>(entry, "cmbSecondRange");
            entryStart << address->currentText() << name->text() << voltage->currentText()
                       << current->currentText() << second->currentText();
            address->setCurrentText(QStringLiteral("0xE000"));
            name->setText(QStringLiteral("Gas monitor"));
            current->setCurrentText(QStringLiteral("10nA"));
            second->setCurrentText(QStringLiteral("1nA"));
            clickDialogButton(entry, QDialogButtonBox::Ok);
        });
        child<QPushButton>(dialog, "btnEditModule")->click();

        DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
            child<QComboBox>(entry, "cmbAddress")->setCurrentText(QStringLiteral("0x0500"));
            child<QLineEdit>(entry, "txtName")->setText(QStringLiteral("  Spare  "));
            child<QComboBox>(entry, "cmbVoltageResolution")->setCurrentText("100mV");
            clickDialogButton(entry, QDialogButtonBox::Ok);
        });
        child<QPushButton>(dialog, "btnAddModule")->click();

        table->selectRow(1);
        child<QPushButton>(dialog, "btnRemoveModule")->click();
        tableRows = rowTexts(table);
        clickDialogButton(dialog, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    });
    QCOMPARE(editFurtherModules(nullptr, 0xDD00, &modules), confirm);

    QCOMPARE(entryStart, (QStringList{"0x1000", "Gas", "1V", "1uA", "none"}));
    QStringList everyAddress;
    for (int i = 0; i < 256; ++i)
        everyAddress << QString::asprintf("0x%02X00", i);
    QCOMPARE(addresses, everyAddress);
    QCOMPARE(tableRows,
             (QStringList{"0x0500|Spare|100mV|1uA|none", "0xE000|Gas monitor|1V|10nA|1nA"}));

    QStringList result;
    for (const ModuleConfig &module : modules)
        result << QStringLiteral("%1|%2|%3")
                      .arg(baseAddressText(module.address), module.name,
                           selectionText(module.selection));
    if (confirm)
        QCOMPARE(result, (QStringList{"0x0500|Spare|100mV / 1uA / none",
                                      "0xE000|Gas monitor|1V / 10nA / 1nA"}));
    else
        QCOMPARE(result, (QStringList{"0xDC00|Drift chamber|100mV / 1nA / 100pA",
                                      "0x1000|Gas|1V / 1uA / none"}));
}

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
