#include "mqttcontrol.h"

#include "display.h"
#include "mqttdialog.h"
#include "mqttpublisher.h"
#include "settings.h"
#include "statusnotice.h"

#include <QAction>
#include <QDebug>
#include <QLabel>
#include <QStatusBar>

namespace Brelk {

MqttControl::MqttControl(MqttPublisher *publisher, Settings *settings, QStatusBar *statusBar,
                         QWidget *window)
    : QObject(window), publisher(publisher), settings(settings), statusBar(statusBar),
      window(window), actionRemoteCommands(new QAction(this)),
      remoteCommandNotice(new StatusNotice(statusBar, QStringLiteral("lblRemoteCommand")))
{
    actionRemoteCommands->setObjectName(QStringLiteral("actionRemoteCommands"));
    actionRemoteCommands->setCheckable(true);
    actionRemoteCommands->setChecked(remoteCommandsAllowed(*settings));
    publisher->setCommandsAllowed(actionRemoteCommands->isChecked());
    actionRemoteCommands->setText(tr("Allow Remote Commands"));
    connect(actionRemoteCommands, &QAction::toggled, this, &MqttControl::allowRemoteCommands);
    connect(publisher, &MqttPublisher::stateChanged, this, &MqttControl::showState);
    connect(publisher, &MqttPublisher::remoteCommandTaken, this, &MqttControl::showRemoteCommand);
    showState();
}

void MqttControl::allowRemoteCommands(bool allowed)
{
    if (!storeRemoteCommandsAllowed(*settings, allowed))
        qDebug() << "MQTT: could not store the settings in" << settings->path();
    publisher->setCommandsAllowed(allowed);
    emit remoteCommandsAllowedChanged(allowed);
}

void MqttControl::configure()
{
    MqttDialog dialog(window);
    const int baseAddress = publisher->moduleContext().baseAddress;
    dialog.setSettings(publisher->isPublishing() ? publisher->currentSettings()
                                                 : loadMqttSettings(*settings, baseAddress));
    dialog.setState(publisher->stateText(), publisher->lastError());
    const QMetaObject::Connection update =
        connect(publisher, &MqttPublisher::stateChanged, &dialog,
                [&] { dialog.setState(publisher->stateText(), publisher->lastError()); });
    const int result = dialog.exec();
    disconnect(update);
    if (result != QDialog::Accepted)
        return;
    // The first module takes the dialog's settings, stored or not; the further modules' publishers
    // follow the file when the store has rewritten it, after the first module has claimed its
    // prefix.
    const MqttSettings chosen = dialog.settings();
    publisher->apply(chosen);
    if (!storeMqttSettings(*settings, chosen, baseAddress))
        qDebug() << "MQTT: could not store the settings in" << settings->path();
}

void MqttControl::showFurtherRemoteCommand(quint32 baseAddress, const QString &text)
{
    showRemoteCommand(baseAddressText(baseAddress) + QStringLiteral(": ") + text);
}

void MqttControl::showRemoteCommand(const QString &text)
{
    remoteCommandNotice->show(text);
}

void MqttControl::showState()
{
    if (!publisher->isPublishing()) {
        delete label;
        label = nullptr;
        return;
    }
    if (!label) {
        label = new QLabel(statusBar);
        label->setObjectName(QStringLiteral("lblMqtt"));
        statusBar->addPermanentWidget(label);
    }
    label->setText(publisher->stateText());
    label->setToolTip(publisher->lastError());
    // Another program under the same prefix: no module under it takes commands.
    label->setStyleSheet(publisher->conflictHost().isEmpty() ? QString()
                                                             : QStringLiteral("color: red"));
}

} // namespace Brelk
