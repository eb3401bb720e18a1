// The main window: the view of the crate's first module, and the panel's own menus. It holds the
// crate runtime (the bridge, the modules it polls every 100 ms, their logs and publishers) and
// shows its events, with the windows of the further modules and the overview of every channel.
#ifndef BRELKCONTROL_H
#define BRELKCONTROL_H

#include "crateevent.h"
#include "reading.h"
#include "settings.h"

#include <QMainWindow>
#include <QString>
#include <QVector>

class QAction;

namespace Ui {
class BrelkControl;
}
namespace Brelk {
class Crate;
class CrateRuntime;
class ModuleSession;
class ModuleView;
class ModuleWindow;
class MqttControl;
class OverviewWindow;
} // namespace Brelk

class BrelkControl : public QMainWindow
{
    Q_OBJECT

public:
    explicit BrelkControl(QWidget *parent = nullptr);
    // `settingsFile`: the settings file to use instead of brelkcontrol.ini next to the executable.
    explicit BrelkControl(const QString &settingsFile, QWidget *parent = nullptr);
    // `attach`: attached through the broker to the crates' services whatever "Source" says.
    BrelkControl(const QString &settingsFile, bool attach, QWidget *parent = nullptr);
    ~BrelkControl() override;

signals:
    // Every complete tick of the first module, once, after the form shows it.
    void readingTaken(const Brelk::Reading &reading);
    // Once when the readings the form shows turn stale: three ticks in a row did not complete,
    // the poll was stopped for the controller dialog, a connection failed, or the module address
    // changed. The next `readingTaken` ends it.
    void readingsStale();

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_actionQuit_triggered();
    void on_actionAbout_triggered();
    void on_actionVME_Controller_triggered();
    void on_actionAbout_Qt_triggered();

private:
    void showCrateEvent(const Brelk::CrateEvent &event);
    bool moveModule(Brelk::ModuleSession *session, quint32 address);
    void addGlobalTools();
    void editModules();
    void applyFurtherModules(const QVector<Brelk::ModuleConfig> &modules);
    void addModuleWindow(Brelk::ModuleSession *module);
    void removeFurtherModule(Brelk::ModuleWindow *window);
    void showModuleWindow(Brelk::ModuleSession *session);
    void storeSetting(bool stored, const QString &key);
    // The File menu's "Attach to Services...", and the attached panel's title and menus.
    void addAttachAction();
    void askAttach();
    void showAttached(Brelk::ModuleSession *module);

    Ui::BrelkControl *ui;
    Brelk::Settings settings;
    Brelk::CrateRuntime *runtime;
    Brelk::Crate *crate;
    Brelk::ModuleSession *session;
    Brelk::ModuleView *view = nullptr;
    QVector<Brelk::ModuleWindow *> moduleWindows;
    Brelk::OverviewWindow *overview = nullptr;
    QAction *actionOverview = nullptr;
    QAction *actionModules = nullptr;
    // The first module's publisher's dialog and status-bar label; null in a build without MQTT.
    Brelk::MqttControl *mqttControl = nullptr;
    QAction *actionMqttPublishing = nullptr;
    QAction *actionAttach = nullptr;

    // Lets the tests hand the window an in-memory controller and look at what it shows.
    friend class BrelkControlTestAccess;
};

#endif // BRELKCONTROL_H
