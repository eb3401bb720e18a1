// The main window: the view of the crate's first module, and the panel's own menus. It holds the
// bridge, the crate of modules it polls every 100 ms and the settings file, the windows of the
// further modules, the overview of every channel and the MQTT publishing of every module.
#ifndef BRELKCONTROL_H
#define BRELKCONTROL_H

#include "bridge.h"
#ifdef BRELK_MQTT
#include "mqttprefixes.h"
#endif
#include "reading.h"
#include "settings.h"

#include <QMainWindow>
#include <QString>
#include <QVector>

class QAction;
class QTimer;

namespace Ui {
class BrelkControl;
}
namespace Brelk {
class Crate;
class ModuleSession;
class ModuleView;
class ModuleWindow;
class MqttControl;
class MqttPublisher;
class OverviewWindow;
} // namespace Brelk

class BrelkControl : public QMainWindow
{
    Q_OBJECT

public:
    explicit BrelkControl(QWidget *parent = nullptr);
    // `settingsFile`: the settings file to use instead of brelkcontrol.ini next to the executable.
    explicit BrelkControl(const QString &settingsFile, QWidget *parent = nullptr);
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
    void timeout();
    void on_actionAbout_Qt_triggered();

private:
    void connectController();
    bool moveModule(Brelk::ModuleSession *session, quint32 address);
    void addGlobalTools();
    void editModules();
    void applyFurtherModules(const QVector<Brelk::ModuleConfig> &modules);
    void addFurtherModule(const Brelk::ModuleConfig &config);
    void removeFurtherModule(Brelk::ModuleWindow *window);
    void showModuleWindow(Brelk::ModuleSession *session);
    void storeSetting(bool stored, const QString &key);

    Ui::BrelkControl *ui;
    Brelk::Settings settings;
    Brelk::Bridge bridge;
    Brelk::Crate *crate;
    Brelk::ModuleSession *session;
    QTimer *timer;
    Brelk::ModuleView *view = nullptr;
    QVector<Brelk::ModuleWindow *> moduleWindows;
    Brelk::OverviewWindow *overview = nullptr;
    QAction *actionOverview = nullptr;
    QAction *actionModules = nullptr;
    // Publishes the first module's ticks over MQTT while a broker is configured; null in a build
    // without it. Each further module's window has a publisher of its own.
    Brelk::MqttPublisher *mqttPublisher = nullptr;
    Brelk::MqttControl *mqttControl = nullptr;
    QAction *actionMqttPublishing = nullptr;
#ifdef BRELK_MQTT
    // The prefixes of every module's publisher; the destructor deletes the publishers first.
    Brelk::MqttPrefixes mqttPrefixes;
#endif

    // Lets the tests hand the window an in-memory controller and look at what it shows.
    friend class BrelkControlTestAccess;
};

#endif // BRELKCONTROL_H
