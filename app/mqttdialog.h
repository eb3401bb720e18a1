// "MQTT Publishing...": broker host and port, topic prefix, optional user and password, optional
// TLS with a CA file, and the connection's state with its last error.
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
    explicit MqttDialog(QWidget *parent = nullptr);

    void setSettings(const MqttSettings &settings);
    MqttSettings settings() const;
    void setState(const QString &state, const QString &error);

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
    QLabel *state;
    QLabel *problem;
    QDialogButtonBox *buttons;
};

} // namespace Brelk

#endif // MQTTDIALOG_H
