// The main window: the view of one module session. It shows the session's readings in the form,
// turns the operator's clicks into the session's commands, and holds the menus of the panel and
// the bridge and settings file they act on.
#ifndef BRELKCONTROL_H
#define BRELKCONTROL_H

#include "bridge.h"
#include "reading.h"
#include "settings.h"

#include <QMainWindow>
#include <QString>

class QAction;
class DataLog;
class DataLogControl;
namespace Brelk {
class ModuleSession;
class ReadingHistory;
class MqttPublisher;
} // namespace Brelk
class QMenu;
class ReadingForm;
class ReadingLooks;
class QTimer;

namespace Ui {
class BrelkControl;
}
namespace Brelk {
class HistoryWindow;
}

class BrelkControl : public QMainWindow
{
    Q_OBJECT

public:
    explicit BrelkControl(QWidget *parent = nullptr);
    // `settingsFile`: the settings file to use instead of brelkcontrol.ini next to the executable.
    explicit BrelkControl(const QString &settingsFile, QWidget *parent = nullptr);
    ~BrelkControl() override;

signals:
    // Every complete tick, once, after the form shows it.
    void readingTaken(const Brelk::Reading &reading);
    // Once when the readings the form shows turn stale: three ticks in a row did not complete,
    // the poll was stopped for the controller dialog, a connection failed, or the module address
    // changed. The next `readingTaken` ends it.
    void readingsStale();

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_btnClearStatus2_B_clicked();
    void on_btnClearStatus2_A_clicked();
    void on_chk_I2_100pA_clicked();
    void on_chk_I2_1nA_clicked();
    void on_chk_I2_None_clicked();
    void on_btnSetSoftLimitI2_B_clicked();
    void on_btnSetSoftLimitI2_A_clicked();
    void on_btnSetSoftLimitI_B_clicked();
    void on_btnSetSoftLimitI_A_clicked();
    void on_actionQuit_triggered();
    void on_btnSetRamp_A_clicked();
    void on_btnSetRamp_B_clicked();
    void on_btnSetVset_B_clicked();
    void on_btnSetVset_A_clicked();
    void on_actionAbout_triggered();
    void on_actionModule_Address_triggered();
    void on_actionVME_Controller_triggered();
    void timeout();
    void on_actionAbout_Qt_triggered();

private:
    void connectController();
    void showReading(const Brelk::Reading &reading);
    void showStale(bool stale);
    void showNoAnswer(qint64 silentSince);
    void selectResolution(const Brelk::ResolutionSelection &selection);
    Brelk::ResolutionSelection formSelection() const;
    void setVoltage(int channel);
    void setRampSpeed(int channel);
    void setSoftLimitI(int channel);
    void setSoftLimitI2(int channel);
    void setSecondRangeLimitButtonsEnabled(bool enabled);
    void buildToolsMenu();
    void storeSetting(bool stored, const QString &key);

    Ui::BrelkControl *ui;
    Brelk::Settings settings;
    Brelk::Bridge bridge;
    Brelk::ModuleSession *session;
    QMenu *menuTools;
    QAction *actionHistory;
    Brelk::ReadingHistory *readings;
    Brelk::HistoryWindow *history;
    QAction *actionSaveSetPoints;
    QAction *actionRestoreSetPoints;
    DataLog *dataLog;
    DataLogControl *dataLogControl;
    QTimer *timer;
    ReadingForm *form;
    ReadingLooks *looks = nullptr;
    // Publishes the ticks over MQTT while a broker is configured; null in a build without it.
    Brelk::MqttPublisher *mqttPublisher = nullptr;
    QAction *actionMqttPublishing = nullptr;

    // Lets the tests hand the window an in-memory controller and look at what it shows.
    friend class BrelkControlTestAccess;
};

#endif // BRELKCONTROL_H
