// The main window's form as the operator first sees it: every widget, layout, action and menu with
// its name, class, parent, place in its layout, text and state, the keyboard focus order, the
// menus, and the three independent groups of resolution radio buttons.
#include "brelkcontroltestaccess.h"
#include "settingsfile.h"

#include <QAction>
#include <QButtonGroup>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTranslator>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;

namespace {

// Every object the form creates, in creation order: class, parent, place in the form's layouts
// and text as the operator sees them, and the state as stateOf() writes it.
struct FormObject
{
    const char *name;
    const char *className;
    const char *parent;
    const char *place;
    const char *text;
    const char *state;
};

const char Outer[] = "spacing 6, margins 11";
const char Inner[] = "spacing 6, margins 0";

const FormObject FormTable[] = {
    {"actionAbout", "QAction", "BrelkControl", "", "About...", ""},
    {"actionVME_Controller", "QAction", "BrelkControl", "", "VME Controller...", ""},
    {"actionModule_Address", "QAction", "BrelkControl", "", "Module Address...", ""},
    {"actionQuit", "QAction", "BrelkControl", "", "Quit", ""},
    {"actionAbout_Qt", "QAction", "BrelkControl", "", "About Qt...", ""},
    {"centralWidget", "QWidget", "BrelkControl", "", "", ""},
    {"verticalLayout_4", "QVBoxLayout", "centralWidget", "", "", Outer},

    // The resolution row
    {"horizontalLayout", "QHBoxLayout", "verticalLayout_4", "verticalLayout_4[0]", "", Inner},
    {"grpVoltageResolution", "QGroupBox", "centralWidget", "horizontalLayout[0]",
     "Voltage Resolution", ""},
    {"verticalLayout_3", "QVBoxLayout", "grpVoltageResolution", "", "", Outer},
    {"chk_U_100mV", "QRadioButton", "grpVoltageResolution", "verticalLayout_3[0]",
     "100 mV (BRELK High Precision)", ""},
    {"chk_U_1V", "QRadioButton", "grpVoltageResolution", "verticalLayout_3[1]",
     "1 V (BRELK Standard)", "checked"},
    {"grpCurrentResolution", "QGroupBox", "centralWidget", "horizontalLayout[1]",
     "Current Resolution", ""},
    {"verticalLayout", "QVBoxLayout", "grpCurrentResolution", "", "", Outer},
    {"chk_I_1nA", "QRadioButton", "grpCurrentResolution", "verticalLayout[0]",
     "1 nA (Customer option)", ""},
    {"chk_I_10nA", "QRadioButton", "grpCurrentResolution", "verticalLayout[1]",
     "10 nA (Customer option)", ""},
    {"chk_I_100nA", "QRadioButton", "grpCurrentResolution", "verticalLayout[2]",
     "100 nA (BRELK High Precision)", ""},
    {"chk_I_1uA", "QRadioButton", "grpCurrentResolution", "verticalLayout[3]",
     "1 µA (BRELK Standard)", "checked"},
    {"grpSecondCurrentResolution", "QGroupBox", "centralWidget", "horizontalLayout[2]",
     "Current Resolution Second Range ", ""},
    {"verticalLayout_2", "QVBoxLayout", "grpSecondCurrentResolution", "", "", Outer},
    {"chk_I2_100pA", "QRadioButton", "grpSecondCurrentResolution", "verticalLayout_2[0]",
     "100 pA (DX7 0n1)", ""},
    {"chk_I2_1nA", "QRadioButton", "grpSecondCurrentResolution", "verticalLayout_2[1]",
     "1 nA (DX7)", ""},
    {"chk_I2_None", "QRadioButton", "grpSecondCurrentResolution", "verticalLayout_2[2]", "none",
     "checked"},
    {"line", "QFrame", "centralWidget", "verticalLayout_4[1]", "",
     "sunken horizontal line, line width 2"},

    // The grid: column 0 labels, column 1 channel A, column 2 channel B
    {"gridLayout", "QGridLayout", "verticalLayout_4", "verticalLayout_4[2]", "", Inner},
    {"txtVmeas_A", "QLineEdit", "centralWidget", "gridLayout(7,1)", "", "read-only"},
    {"txtVmeas_B", "QLineEdit", "centralWidget", "gridLayout(7,2)", "", "read-only"},
    {"txtImeas_A", "QLineEdit", "centralWidget", "gridLayout(8,1)", "", "read-only"},
    {"txtImeas_B", "QLineEdit", "centralWidget", "gridLayout(8,2)", "", "read-only"},
    {"label_2", "QLabel", "centralWidget", "gridLayout(7,0)", "Vmeas", ""},
    {"label_3", "QLabel", "centralWidget", "gridLayout(8,0)", "Imeas", ""},
    {"label_4", "QLabel", "centralWidget", "gridLayout(0,1)", "Channel A", "bottom centred"},
    {"label_5", "QLabel", "centralWidget", "gridLayout(0,2)", "Channel B", "bottom centred"},
    {"txtImeas2_A", "QLineEdit", "centralWidget", "gridLayout(9,1)", "", "read-only"},
    {"txtImeas2_B", "QLineEdit", "centralWidget", "gridLayout(9,2)", "", "read-only"},
    {"label_6", "QLabel", "centralWidget", "gridLayout(9,0)", "Imeas 2", ""},
    {"label_7", "QLabel", "centralWidget", "gridLayout(10,0)", "Status / Polarity", ""},
    {"label_10", "QLabel", "centralWidget", "gridLayout(12,0)", "Switches", ""},
    {"label_11", "QLabel", "centralWidget", "gridLayout(4,0)", "Ramp Speed", ""},
    {"horizontalLayout_3", "QHBoxLayout", "gridLayout", "gridLayout(1,1)", "", Inner},
    {"txtVset_A", "QLineEdit", "centralWidget", "horizontalLayout_3[0]", "", ""},
    {"btnSetVset_A", "QPushButton", "centralWidget", "horizontalLayout_3[1]", "Set Voltage", ""},
    {"label", "QLabel", "centralWidget", "gridLayout(1,0)", "Vset", ""},
    {"horizontalLayout_2", "QHBoxLayout", "gridLayout", "gridLayout(1,2)", "", Inner},
    {"txtVset_B", "QLineEdit", "centralWidget", "horizontalLayout_2[0]", "", ""},
    {"btnSetVset_B", "QPushButton", "centralWidget", "horizontalLayout_2[1]", "Set Voltage", ""},
    {"horizontalLayout_4", "QHBoxLayout", "gridLayout", "gridLayout(4,1)", "", Inner},
    {"txtRamp_A", "QLineEdit", "centralWidget", "horizontalLayout_4[0]", "", ""},
    {"btnSetRamp_A", "QPushButton", "centralWidget", "horizontalLayout_4[1]", "Set Ramp", ""},
    {"horizontalLayout_5", "QHBoxLayout", "gridLayout", "gridLayout(4,2)", "", Inner},
    {"txtRamp_B", "QLineEdit", "centralWidget", "horizontalLayout_5[0]", "", ""},
    {"btnSetRamp_B", "QPushButton", "centralWidget", "horizontalLayout_5[1]", "Set Ramp", ""},
    {"label_12", "QLabel", "centralWidget", "gridLayout(13,0)", "Limits V / I", ""},
    {"horizontalLayout_7", "QHBoxLayout", "gridLayout", "gridLayout(13,1)", "", Inner},
    {"txtLimitV_A", "QLineEdit", "centralWidget", "horizontalLayout_7[0]", "", "read-only"},
    {"txtLimitI_A", "QLineEdit", "centralWidget", "horizontalLayout_7[1]", "", "read-only"},
    {"horizontalLayout_6", "QHBoxLayout", "gridLayout", "gridLayout(13,2)", "", Inner},
    {"txtLimitV_B", "QLineEdit", "centralWidget", "horizontalLayout_6[0]", "", "read-only"},
    {"txtLimitI_B", "QLineEdit", "centralWidget", "horizontalLayout_6[1]", "", "read-only"},
    {"horizontalLayout_10", "QHBoxLayout", "gridLayout", "gridLayout(12,1)", "", Inner},
    {"txtHVON_A", "QLineEdit", "centralWidget", "horizontalLayout_10[0]", "", "read-only"},
    {"txtKill_A", "QLineEdit", "centralWidget", "horizontalLayout_10[1]", "", "read-only"},
    {"horizontalLayout_11", "QHBoxLayout", "gridLayout", "gridLayout(12,2)", "", Inner},
    {"txtHVON_B", "QLineEdit", "centralWidget", "horizontalLayout_11[0]", "", "read-only"},
    {"txtKill_B", "QLineEdit", "centralWidget", "horizontalLayout_11[1]", "", "read-only"},
    {"horizontalLayout_12", "QHBoxLayout", "gridLayout", "gridLayout(10,1)", "", Inner},
    {"txtStatus_A", "QLineEdit", "centralWidget", "horizontalLayout_12[0]", "", "read-only"},
    {"txtPolarity_A", "QLineEdit", "centralWidget", "horizontalLayout_12[1]", "", "read-only"},
    {"horizontalLayout_13", "QHBoxLayout", "gridLayout", "gridLayout(10,2)", "", Inner},
    {"txtStatus_B", "QLineEdit", "centralWidget", "horizontalLayout_13[0]", "", "read-only"},
    {"txtPolarity_B", "QLineEdit", "centralWidget", "horizontalLayout_13[1]", "", "read-only"},
    {"label_13", "QLabel", "centralWidget", "gridLayout(5,0)", "Software Limit I", ""},
    {"horizontalLayout_8", "QHBoxLayout", "gridLayout", "gridLayout(5,1)", "", Inner},
    {"txtSoftLimitI_A", "QLineEdit", "centralWidget", "horizontalLayout_8[0]", "", ""},
    {"btnSetSoftLimitI_A", "QPushButton", "centralWidget", "horizontalLayout_8[1]", "Set Limit",
     ""},
    {"horizontalLayout_9", "QHBoxLayout", "gridLayout", "gridLayout(5,2)", "", Inner},
    {"txtSoftLimitI_B", "QLineEdit", "centralWidget", "horizontalLayout_9[0]", "", ""},
    {"btnSetSoftLimitI_B", "QPushButton", "centralWidget", "horizontalLayout_9[1]", "Set Limit",
     ""},
    {"label_8", "QLabel", "centralWidget", "gridLayout(6,0)", "Software Limit I2", ""},
    {"horizontalLayout_15", "QHBoxLayout", "gridLayout", "gridLayout(6,2)", "", Inner},
    {"txtSoftLimitI2_B", "QLineEdit", "centralWidget", "horizontalLayout_15[0]", "", ""},
    {"btnSetSoftLimitI2_B", "QPushButton", "centralWidget", "horizontalLayout_15[1]", "Set Limit",
     "disabled"},
    {"horizontalLayout_14", "QHBoxLayout", "gridLayout", "gridLayout(6,1)", "", Inner},
    {"txtSoftLimitI2_A", "QLineEdit", "centralWidget", "horizontalLayout_14[0]", "", ""},
    {"btnSetSoftLimitI2_A", "QPushButton", "centralWidget", "horizontalLayout_14[1]", "Set Limit",
     "disabled"},
    {"label_9", "QLabel", "centralWidget", "gridLayout(11,0)", "Status 2", ""},
    {"horizontalLayout_16", "QHBoxLayout", "gridLayout", "gridLayout(11,1)", "", Inner},
    {"txtStatus2_A", "QLineEdit", "centralWidget", "horizontalLayout_16[0]", "", ""},
    {"btnClearStatus2_A", "QPushButton", "centralWidget", "horizontalLayout_16[1]", "Clear", ""},
    {"horizontalLayout_17", "QHBoxLayout", "gridLayout", "gridLayout(11,2)", "", Inner},
    {"txtStatus2_B", "QLineEdit", "centralWidget", "horizontalLayout_17[0]", "", ""},
    {"btnClearStatus2_B", "QPushButton", "centralWidget", "horizontalLayout_17[1]", "Clear", ""},

    {"menuBar", "QMenuBar", "BrelkControl", "", "", "at 0,0 size 577x18"},
    {"menuFile", "QMenu", "menuBar", "", "File", ""},
    {"menuHelp", "QMenu", "menuBar", "", "Help", ""},
    {"statusBar", "QStatusBar", "BrelkControl", "", "", ""},
};

const char *const RadioButtons[] = {
    "chk_U_100mV", "chk_U_1V",     "chk_I_1nA",  "chk_I_10nA",  "chk_I_100nA",
    "chk_I_1uA",   "chk_I2_100pA", "chk_I2_1nA", "chk_I2_None",
};

QStringList formObjectNames()
{
    QStringList names;
    for (const FormObject &item : FormTable)
        names << QLatin1String(item.name);
    return names;
}

// Wraps every text of the window's translation context in angle brackets, so that a text shows
// whether it went through the translation call with that context.
class BracketTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "BrelkControl") != 0)
            return QString();
        return QLatin1Char('<') + QString::fromUtf8(sourceText) + QLatin1Char('>');
    }
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void objectTree_data();
    void objectTree();
    void noOtherNamedObjects();
    void focusChain();
    void menus_data();
    void menus();
    void radioGroupsAreIndependent();
    void titleFormatIsTranslated();

private:
    QObject *object(const QString &name) const;
    QString placeInLayout(QObject *item) const;

    std::unique_ptr<BrelkControl> window;
};

void TestForm::initTestCase()
{
    // The window connects at construction; the simulated bridge keeps that quiet.
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    QFile::remove(settingsPath());
    // The connection's debug lines would drown the results of some three hundred rows.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestForm::init()
{
    window.reset(new BrelkControl);
    // No poll tick may touch the form while it is inspected.
    Access::timer(*window)->stop();
}

void TestForm::cleanup()
{
    window.reset();
}

QObject *TestForm::object(const QString &name) const
{
    const QList<QObject *> found = window->findChildren<QObject *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

// Where a widget or layout sits in the form's layouts: "gridLayout(7,1)" for a grid cell,
// "horizontalLayout_3[1]" for the second item of a box, empty when no form layout holds it.
// Spans, alignments and stretch factors other than the defaults are appended.
QString TestForm::placeInLayout(QObject *item) const
{
    QStringList places;
    for (const QString &name : formObjectNames()) {
        auto *layout = qobject_cast<QLayout *>(object(name));
        if (!layout)
            continue;
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *entry = layout->itemAt(i);
            if (entry->widget() != item && entry->layout() != item)
                continue;
            QString place;
            if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
                int row, column, rowSpan, columnSpan;
                grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
                place = QStringLiteral("%1(%2,%3)").arg(name).arg(row).arg(column);
                if (rowSpan != 1 || columnSpan != 1)
                    place += QStringLiteral(" span %1x%2").arg(rowSpan).arg(columnSpan);
            } else {
                place = QStringLiteral("%1[%2]").arg(name).arg(i);
                if (auto *box = qobject_cast<QBoxLayout *>(layout); box && box->stretch(i) != 0)
                    place += QStringLiteral(" stretch %1").arg(box->stretch(i));
            }
            if (entry->alignment() != Qt::Alignment())
                place += QStringLiteral(" aligned 0x%1").arg(int(entry->alignment()), 0, 16);
            places << place;
        }
    }
    return places.join(QLatin1String(" and "));
}

namespace {

// The text the operator sees: a menu's or a group box's title, any other object's text.
QString textOf(QObject *object)
{
    const QVariant title = object->property("title");
    return (title.isValid() ? title : object->property("text")).toString();
}

// Everything about an object that its kind lets the form set, written as the table writes it:
// only what differs from the toolkit's defaults for widgets, and always the spacing and (even)
// margins of a layout.
QString stateOf(QObject *object)
{
    QStringList state;
    if (auto *layout = qobject_cast<QLayout *>(object)) {
        const QMargins m = layout->contentsMargins();
        state << QStringLiteral("spacing %1").arg(layout->spacing());
        if (m == QMargins(m.left(), m.left(), m.left(), m.left()))
            state << QStringLiteral("margins %1").arg(m.left());
    }
    const QVariant enabled = object->property("enabled"); // widgets and actions, not layouts
    if (enabled.isValid() && !enabled.toBool())
        state << QStringLiteral("disabled");
    if (auto *action = qobject_cast<QAction *>(object); action && action->isCheckable())
        state << QStringLiteral("checkable");
    if (auto *button = qobject_cast<QAbstractButton *>(object); button && button->isChecked())
        state << QStringLiteral("checked");
    if (auto *edit = qobject_cast<QLineEdit *>(object); edit && edit->isReadOnly())
        state << QStringLiteral("read-only");
    if (auto *label = qobject_cast<QLabel *>(object)) {
        if (label->alignment() == (Qt::AlignBottom | Qt::AlignHCenter))
            state << QStringLiteral("bottom centred");
        else if (label->alignment() != (Qt::AlignLeft | Qt::AlignVCenter))
            state << QStringLiteral("aligned 0x%1").arg(int(label->alignment()), 0, 16);
    } else if (auto *frame = qobject_cast<QFrame *>(object)) {
        if (frame->frameShape() == QFrame::HLine && frame->frameShadow() == QFrame::Sunken)
            state << QStringLiteral("sunken horizontal line");
        if (frame->lineWidth() != 1)
            state << QStringLiteral("line width %1").arg(frame->lineWidth());
    }
    if (auto *menuBar = qobject_cast<QMenuBar *>(object)) {
        const QRect r = menuBar->geometry();
        state << QString::asprintf("at %d,%d size %dx%d", r.x(), r.y(), r.width(), r.height());
    }
    return state.join(QLatin1String(", "));
}

} // namespace

void TestForm::objectTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("state");

    for (const FormObject &item : FormTable) {
        QTest::newRow(item.name) << QString::fromUtf8(item.className)
                                 << QString::fromUtf8(item.parent) << QString::fromUtf8(item.place)
                                 << QString::fromUtf8(item.text) << QString::fromUtf8(item.state);
    }
}

void TestForm::objectTree()
{
    QFETCH(QString, text);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QCOMPARE(window->findChildren<QObject *>(name).size(), 1);
    QObject *const item = object(name);
    QTEST(QString::fromLatin1(item->metaObject()->className()), "className");
    QVERIFY(item->parent());
    QTEST(item->parent()->objectName(), "parentName");
    QTEST(placeInLayout(item), "place");
    QCOMPARE(textOf(item), text);
    QTEST(stateOf(item), "state");

    // A language change fetches every text again from the window's translation context; source
    // texts are UTF-8, and the line edits get no text from the form.
    BracketTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    const QString shown = textOf(item);
    const QString title = window->windowTitle();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(shown, text.isEmpty() ? text : QLatin1Char('<') + text + QLatin1Char('>'));
    QCOMPARE(title, QStringLiteral("<pavex BrelkControl>"));
}

// Nothing beyond the table: every named object in the window is one of the form's or one that the
// window adds to it in code, apart from the toolkit's own internals.
void TestForm::noOtherNamedObjects()
{
    QCOMPARE(window->objectName(), QStringLiteral("BrelkControl"));
    QCOMPARE(window->size(), QSize(577, 541));
    QCOMPARE(window->centralWidget()->layout(), object("verticalLayout_4"));
    // The objects the window adds to the form in code.
    const QStringList table =
        formObjectNames() +
        QStringLiteral(
            "menuTools actionHistory historyWindow historyPlot historySpan60 historySpan600 "
            "historySpan3600 historySpan28800 historySpan86400 historyLive historyLogCurrent "
            "historySaveImage historyExportCsv historyPointer historyExportStatus "
            "historyExportProgress actionLogToFile actionSaveSetPoints actionRestoreSetPoints "
            "actionMqttPublishing actionRemoteCommands lblRemoteCommand lblCommand actionOverview "
            "actionModules overviewWindow overviewTable btnRampDownAll lblGroupStates actionAttach")
            .split(QLatin1Char(' '));
    QStringList others;
    const QList<QObject *> all = window->findChildren<QObject *>();
    for (QObject *o : all) {
        const QString name = o->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
            !name.startsWith(QLatin1Char('_')) && !table.contains(name))
            others << QStringLiteral("%1 (%2)").arg(name, o->metaObject()->className());
    }
    QVERIFY2(others.isEmpty(), qPrintable(others.join(QLatin1String(", "))));
    QVERIFY(window->findChildren<QButtonGroup *>().isEmpty());
}

// With no tab order set, the keyboard focus follows the order in which the widgets were created;
// the second-range limit row has channel B before channel A. The menus are pop-ups with a focus
// chain of their own.
void TestForm::focusChain()
{
    QStringList expected;
    for (const QString &name : formObjectNames()) {
        if (qobject_cast<QWidget *>(object(name)) && !qobject_cast<QMenu *>(object(name)))
            expected << name;
    }
    QCOMPARE(expected.size(), 67);

    QStringList chain;
    for (QWidget *w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        if (expected.contains(w->objectName()))
            chain << w->objectName();
        QVERIFY2(chain.size() <= expected.size(), "the focus chain does not close");
    }
    QCOMPARE(chain, expected);
}

void TestForm::menus_data()
{
    QTest::addColumn<QStringList>("entries"); // "-" is a separator

    QStringList file{"actionVME_Controller", "actionModule_Address", "-", "actionQuit"};
    QStringList tools{
        "actionHistory",  "actionLogToFile", "actionSaveSetPoints", "actionRestoreSetPoints", "-",
        "actionOverview", "actionModules"};
#ifdef BRELK_MQTT
    file.prepend("actionAttach");
    tools.insert(4, "actionMqttPublishing");
    tools.insert(5, "actionRemoteCommands");
#endif
    QTest::newRow("menuBar") << QStringList{"menuFile", "menuTools", "menuHelp"};
    QTest::newRow("menuFile") << file;
    QTest::newRow("menuHelp") << QStringList{"actionAbout", "actionAbout_Qt"};
    QTest::newRow("menuTools") << tools;
}

void TestForm::menus()
{
    QFETCH(QStringList, entries);

    auto *menu = qobject_cast<QWidget *>(object(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(menu);
    QStringList seen;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            seen << QStringLiteral("-");
        else if (action->menu())
            seen << action->menu()->objectName();
        else
            seen << action->objectName();
    }
    QCOMPARE(seen, entries);
}

// Clicking each button in turn checks it and unchecks only the other buttons of its own group;
// clicking the checked one again leaves it checked.
void TestForm::radioGroupsAreIndependent()
{
    const auto checked = [this] {
        QStringList seen;
        for (const char *name : RadioButtons) {
            if (window->findChild<QRadioButton *>(name)->isChecked())
                seen << QLatin1String(name);
        }
        return seen;
    };
    QStringList expected{"chk_U_1V", "chk_I_1uA", "chk_I2_None"};
    QCOMPARE(checked(), expected);
    for (const QString name : RadioButtons) {
        window->findChild<QRadioButton *>(name)->click();
        expected[name.startsWith("chk_I2_") ? 2 : name.startsWith("chk_I_") ? 1 : 0] = name;
        QCOMPARE(checked(), expected);
    }
    window->findChild<QRadioButton *>("chk_I2_None")->click();
    QCOMPARE(checked(), expected);
}

// The format of the title goes through the translation call; the name and the version do not.
void TestForm::titleFormatIsTranslated()
{
    BracketTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    // The bridge opens once: the window of init() lets it go first.
    window.reset();
    window.reset(new BrelkControl);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(window->windowTitle(), QStringLiteral("<pavex BRELK Control Version 1.0>"));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
