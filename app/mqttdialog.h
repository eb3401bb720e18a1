// "MQTT Publishing...": broker host and port, topic prefix, optional user and password, optional
// TLS with a CA file, and the connection's state with its last error. "Attach to Services..."
// shows the same broker settings with the topic filter under which services are found, and the
// choice to attach to them instead of polling the panel's own VME controller.
#ifndef MQTTDIALOG_H
#define MQTTDIALOG_H

#include "mqttsettings.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace Brelk {

class MqttDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Purpose { Publishing, Attaching };
    explicit MqttDialog(QWidget *parent = nullptr, Purpose purpose = Purpose::Publishing);

    void setSettings(const MqttSettings &settings);
    MqttSettings settings() const;
    void setState(const QString &state, const QString &error);
    // Attaching: the topic field holds the filter; `attached` the choice of the broker as source.
    void setAttach(const AttachSettings &attach);
    AttachSettings attach() const;

private:
    void updateEnabled();
    void browseCaFile();

    QLineEdit *host;
    QSpinBox *port;
    QLineEdit *topic;
    QLineEdit *user;
    QLineEdit *password;
    QCheckBox *rememberPassword;
    QCheckBox *useTls;
    QLineEdit *caFile;
    QCheckBox *attachToServices = nullptr;
    // The prefix of the module the main window shows; empty for the first found.
    QLineEdit *mainModule = nullptr;
    Purpose purpose;
    QLabel *state;
    QLabel *problem;
    QDialogButtonBox *buttons;
};

// "Attach to Services...": false on Cancel, else the dialog's choice.
bool askAttachSettings(QWidget *parent, AttachSettings *attach, MqttSettings *broker);

} // namespace Brelk

#endif // MQTTDIALOG_H
