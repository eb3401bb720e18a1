// The operator's side of MQTT publishing: the "MQTT Publishing..." dialog, which stores the
// settings and restarts the publisher, the status-bar label that shows the publisher's state
// while a broker is configured, and the "Allow Remote Commands" switch with the status-bar
// message of each command it let through.
#ifndef MQTTCONTROL_H
#define MQTTCONTROL_H

#include <QObject>

class QAction;
class QLabel;
class QStatusBar;
class QWidget;

namespace Brelk {

class MqttPublisher;
class Settings;
class StatusNotice;
struct MqttSettings;

class MqttControl : public QObject
{
    Q_OBJECT

public:
    // `window` parents the dialog; the label goes into `statusBar`.
    MqttControl(MqttPublisher *publisher, Settings *settings, QStatusBar *statusBar,
                QWidget *window);

    // Opens the dialog; OK stores the settings and restarts publishing with them.
    void configure();

    // "Allow Remote Commands" (`actionRemoteCommands`), checked as "MqttCommands" says at start,
    // for the window's Tools menu.
    QAction *remoteCommandsAction() const { return actionRemoteCommands; }

    // Shows an accepted command of a further module's publisher, after the module's address.
    void showFurtherRemoteCommand(quint32 baseAddress, const QString &text);

signals:
    // After the switch was stored and this module's publisher follows it; the other modules'
    // publishers are to follow as well.
    void remoteCommandsAllowedChanged(bool allowed);

private:
    void showState();
    void allowRemoteCommands(bool allowed);
    void showRemoteCommand(const QString &text);

    MqttPublisher *publisher;
    Settings *settings;
    QStatusBar *statusBar;
    QWidget *window;
    QLabel *label = nullptr;
    QAction *actionRemoteCommands;
    // The last remote command carried out, for 10 s.
    StatusNotice *remoteCommandNotice;
};

} // namespace Brelk

#endif // MQTTCONTROL_H
