#include "mqttcontrol.h"

#include "mqttdialog.h"
#include "mqttpublisher.h"
#include "settings.h"

#include <QDebug>
#include <QLabel>
#include <QStatusBar>

namespace Brelk {

MqttControl::MqttControl(MqttPublisher *publisher, Settings *settings, QStatusBar *statusBar,
                         QWidget *window)
    : QObject(window), publisher(publisher), settings(settings), statusBar(statusBar),
      window(window)
{
    connect(publisher, &MqttPublisher::stateChanged, this, &MqttControl::showState);
    showState();
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
    const MqttSettings chosen = dialog.settings();
    if (!storeMqttSettings(*settings, chosen, baseAddress))
        qDebug() << "MQTT: could not store the settings in" << settings->path();
    publisher->apply(chosen);
    emit settingsApplied(chosen);
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
}

} // namespace Brelk
