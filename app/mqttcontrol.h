// The operator's side of MQTT publishing: the "MQTT Publishing..." dialog, which stores the
// settings and restarts the publisher, and the status-bar label that shows the publisher's state
// while a broker is configured.
#ifndef MQTTCONTROL_H
#define MQTTCONTROL_H

#include <QObject>

class QLabel;
class QStatusBar;
class QWidget;

namespace Brelk {

class MqttPublisher;
class Settings;
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

signals:
    // After the dialog's OK restarted publishing with `settings`.
    void settingsApplied(const Brelk::MqttSettings &settings);

private:
    void showState();

    MqttPublisher *publisher;
    Settings *settings;
    QStatusBar *statusBar;
    QWidget *window;
    QLabel *label = nullptr;
};

} // namespace Brelk

#endif // MQTTCONTROL_H
