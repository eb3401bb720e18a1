// The main window: owns the form, the settings file's path, the 100 ms poll timer, the one VME
// controller and the values the poll caches, and holds every slot of the panel.
#ifndef BRELKCONTROL_H
#define BRELKCONTROL_H

#include "freshness.h"
#include "reading.h"
#include "registermap.h"

#include <QMainWindow>
#include <QString>

class CVmeController;
class QAction;
class DataLogControl;
namespace Brelk {
class MqttPublisher;
}
class QLineEdit;
class QMenu;
class ReadingLooks;
class QSettings;
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
    ~BrelkControl() override;

signals:
    // Every complete tick, once, after the form shows it.
    void readingTaken(const Brelk::Reading &reading);
    // Once when the readings the form shows turn stale: three ticks in a row did not complete,
    // the poll was stopped for the controller dialog, a connection failed, or the module address
    // changed. The next `readingTaken` ends it.
    void readingsStale();
    // The operator chose a different module address.
    void baseAddressChanged(int oldAddress, int newAddress);

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
    bool takeReading(Brelk::Reading *reading);
    void showReading(const Brelk::Reading &reading);
    void showAlarms(const Brelk::Reading &reading);
    void showFreshness();
    double inputSetVoltage(int channel, bool *ok);
    double inputSoftLimitI(int channel, bool *ok);
    void setVoltage(int channel);
    void setRampSpeed(int channel);
    void setSoftLimitI(int channel);
    void setSoftLimitI2(int channel);
    void setSecondRangeLimitButtonsEnabled(bool enabled);

    Brelk::CurrentResolution currentResolution() const;
    Brelk::SecondRange secondRange() const;
    quint16 readRegister(Brelk::Register reg, int *status = nullptr);
    void writeRegister(Brelk::Register reg, quint16 word);
    void setFieldText(QLineEdit *field, const QString &text);
    void storeSetting(QSettings &settings, const QString &key, const QString &value);

    Ui::BrelkControl *ui;
    QMenu *menuTools;
    QAction *actionHistory;
    Brelk::HistoryWindow *history;
    QAction *actionSaveSetPoints;
    QAction *actionRestoreSetPoints;
    DataLogControl *dataLog;
    QString iniFile;
    QTimer *timer;
    CVmeController *vmeController;
    int baseAddress;
    double vset[2] = {0, 0};
    double rampSpeed[2] = {0, 0};
    double softLimitI[2] = {0, 0};
    double softLimitI2[2] = {0, 0};
    double vmeas[2] = {0, 0};
    double imeas[2] = {0, 0};
    double imeas2[2] = {0, 0};
    quint16 statusWord = 0;
    quint16 status2Latch = 0;
    unsigned int serialNumber = 0;
    // False from a connection or an address change until a tick has read the module at the
    // current address: until then `vset` may hold 0 or another module's set voltage, which the
    // ramp-speed command must not send.
    bool moduleReadSinceConnect = false;
    // The last complete tick; meaningful while `moduleReadSinceConnect` holds.
    Brelk::Reading lastReading;
    // Publishes the ticks over MQTT while a broker is configured; null in a build without it.
    Brelk::MqttPublisher *mqttPublisher = nullptr;
    QAction *actionMqttPublishing = nullptr;

    Brelk::Freshness freshness;
    ReadingLooks *looks = nullptr;

    // Lets the tests hand the window an in-memory controller and look at its cached values.
    friend class BrelkControlTestAccess;
};

#endif // BRELKCONTROL_H
