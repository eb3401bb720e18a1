// One module shown in a window with the panel's form: the form's fields and their looks, the
// buttons and dialogs that command the module through its session, the resolution options, and
// the module's own tools (its history, its data log, its set-point files) with their actions in
// the window's "Tools" menu. The main window shows the first module with one; each further module
// has a window of its own with another.
#ifndef MODULEVIEW_H
#define MODULEVIEW_H

#include "moduleform.h"
#include "reading.h"
#include "settings.h"

#include <QHash>
#include <QObject>
#include <QVector>

#include <functional>

class DataLog;
class DataLogControl;
class QAction;
class QMainWindow;
class QMenu;
class QPushButton;
class QRadioButton;
class ReadingForm;
class ReadingLooks;

namespace Ui {
class BrelkControl;
}

namespace Brelk {

class CrateRuntime;
struct CrateEvent;
class HistoryWindow;
class ModuleSession;
class ReadingHistory;
class StatusNotice;

class ModuleView : public QObject
{
    Q_OBJECT

public:
    // Moves the module to another base address and stores it; false when it stays where it was.
    using MoveModule = std::function<bool(quint32 address)>;

    // `ui` is the window's form, set up already; `runtime` holds the session with its store and
    // log, and pauses the module while the Module Address dialog is open; `settings` holds the
    // module's keys.
    ModuleView(QMainWindow *window, Ui::BrelkControl *ui, CrateRuntime *runtime,
               ModuleSession *session, const Settings &settings, MoveModule moveModule);
    ~ModuleView() override;

    ModuleSession *session() const { return moduleSession; }
    QMenu *toolsMenu() const { return menuTools; }
    ReadingHistory *readingHistory() const { return readings; }
    HistoryWindow *historyWindow() const { return history; }
    DataLog *dataLog() const { return log; }
    ReadingForm *form() const { return readingForm; }
    ReadingLooks *looks() const { return readingLooks; }
    // The module's keys, after a move those of its new address.
    void setSettings(const Settings &moduleSettings) { settings = moduleSettings; }

    // A window that is seldom open skips the form's texts and colours while it is hidden and
    // catches up with the newest tick when it is shown; the stale look follows at once. It
    // flashes its taskbar entry for a trip only while it is shown: the main window's flashes for
    // every module.
    void setFormFollowsWhileHidden(bool follows) { followWhileHidden = follows; }

    // Checks the radio buttons of `selection`; the session scales the next tick by them.
    void selectResolution(const ResolutionSelection &selection);

    void retranslate();

    // Warns that a setting could not be written to the file at `path`.
    static void warnUnsaved(QWidget *window, bool stored, const QString &key, const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // Every complete tick, once, after the form shows it.
    void readingShown(const Brelk::Reading &reading);
    // The readings the form shows turned stale.
    void readingsStale();

private:
    void buildToolsMenu();
    void connectForm();
    void showReading(const Reading &reading);
    void showOnForm(const Reading &reading);
    void showStale(bool stale);
    // The runtime's events about this module: the status bar, the command notice, the log.
    void showModuleEvent(const CrateEvent &event);
    void askModuleAddress();
    void setSecondRangeLimitButtonsEnabled(bool enabled);
    void showCommandBlock(const QString &why);

    QMainWindow *window;
    Ui::BrelkControl *ui;
    const ModuleForm fields;
    ModuleSession *moduleSession;
    Settings settings;
    CrateRuntime *runtime;
    MoveModule moveModule;
    bool followWhileHidden = true;
    // A complete tick came while the hidden window skipped it.
    bool formBehind = false;
    ReadingForm *readingForm = nullptr;
    ReadingLooks *readingLooks = nullptr;
    // The status bar's message for the serial number `messageSerial`, made once per language.
    QString serialMessage;
    quint16 messageSerial = 0;
    QMenu *menuTools = nullptr;
    QAction *actionHistory = nullptr;
    QAction *actionSaveSetPoints = nullptr;
    QAction *actionRestoreSetPoints = nullptr;
    ReadingHistory *readings = nullptr;
    HistoryWindow *history = nullptr;
    DataLog *log = nullptr;
    DataLogControl *dataLogControl = nullptr;
    // What a command of this module's did beyond what was asked, or why it failed.
    StatusNotice *commandNotice = nullptr;
    // While a remote module's service takes no commands: the command buttons are off, and their
    // own tooltips wait here.
    bool commandsBlocked = false;
    QHash<QPushButton *, QString> blockedTips;
};

} // namespace Brelk

#endif // MODULEVIEW_H
