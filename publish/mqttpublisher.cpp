#include "mqttpublisher.h"

#include "mqttdialog.h"

#include <QDebug>
#include <QLabel>
#include <QRandomGenerator>
#include <QSettings>
#include <QStatusBar>
#include <QThread>

#include <vector>

namespace Brelk {

namespace {

const char *const ChannelTopics[2] = {"a", "b"};
const char *const ModuleTopic = "module";

// Workers that did not end in time (blocked in a connect): never deleted while their thread
// may still run, and reachable, so the process ends normally without waiting for them.
std::vector<std::pair<QThread *, MqttWorker *>> &abandonedWorkers()
{
    static auto *workers = new std::vector<std::pair<QThread *, MqttWorker *>>;
    return *workers;
}

} // namespace

QString mqttClientId()
{
    return QStringLiteral("brelkcontrol-") +
           QString::asprintf("%08x", QRandomGenerator::system()->generate());
}

MqttPublisher::MqttPublisher(QStatusBar *statusBar, const QString &iniFile,
                             std::function<ModuleContext()> context, QObject *parent)
    : QObject(parent), statusBar(statusBar), iniFile(iniFile), context(std::move(context))
{
    qRegisterMetaType<Brelk::MqttSettings>();
}

MqttPublisher::~MqttPublisher()
{
    stop();
}

void MqttPublisher::startFromSettings()
{
    QSettings file(iniFile, QSettings::IniFormat);
    const MqttSettings stored = loadMqttSettings(file, context().baseAddress);
    if (stored.enabled())
        apply(stored);
}

void MqttPublisher::apply(const MqttSettings &newSettings)
{
    stop();
    settings = newSettings;
    if (!settings.enabled())
        return;

    for (ChannelSchedule &channel : channels)
        channel.reset();
    module.reset();
    error.clear();
    currentState = MqttState::Connecting;

    thread = new QThread;
    thread->setObjectName(QStringLiteral("mqtt"));
    worker = new MqttWorker;
    worker->moveToThread(thread);
    connect(this, &MqttPublisher::startWorker, worker, &MqttWorker::start, Qt::QueuedConnection);
    connect(this, &MqttPublisher::publishMessage, worker, &MqttWorker::publish,
            Qt::QueuedConnection);
    connect(this, &MqttPublisher::stopWorker, worker, &MqttWorker::stop, Qt::QueuedConnection);
    connect(worker, &MqttWorker::stateChanged, this, &MqttPublisher::workerStateChanged,
            Qt::QueuedConnection);
    thread->start();

    if (!label) {
        label = new QLabel(statusBar);
        label->setObjectName(QStringLiteral("lblMqtt"));
        statusBar->addPermanentWidget(label);
    }
    label->setText(stateText());

    emit startWorker(settings, mqttClientId());
    publishModule(false, 0, nullptr);
    emit stateChanged();
}

void MqttPublisher::stop()
{
    if (!worker)
        return;
    disconnect(worker, nullptr, this, nullptr);
    emit stopWorker();
    if (thread->wait(StopWaitMs)) {
        delete worker;
        delete thread;
    } else {
        qDebug().noquote() << QStringLiteral("MQTT: %1:%2: leaving the connection attempt behind")
                                  .arg(settings.host)
                                  .arg(settings.port);
        worker->abandoned = true;
        thread->quit();
        abandonedWorkers().emplace_back(thread, worker);
    }
    worker = nullptr;
    thread = nullptr;
    delete label;
    label = nullptr;
    emit stateChanged();
}

void MqttPublisher::followBaseAddress(int oldAddress, int newAddress)
{
    if (!isPublishing() || settings.topic != defaultMqttTopic(oldAddress))
        return;
    MqttSettings moved = settings;
    moved.topic = defaultMqttTopic(newAddress);
    apply(moved);
}

QString MqttPublisher::stateText() const
{
    return worker ? mqttStateText(currentState) : QStringLiteral("MQTT: off");
}

void MqttPublisher::takeReading(const Reading &reading)
{
    if (!worker)
        return;
    publishModule(true, reading.serialNumber, &reading);
    for (int ch = 0; ch < 2; ++ch) {
        QJsonObject message;
        if (channels[ch].takeReading(reading, &message))
            send(QLatin1String(ChannelTopics[ch]), message);
    }
}

void MqttPublisher::readingsStale()
{
    if (!worker)
        return;
    publishModule(false, 0, nullptr);
    for (int ch = 0; ch < 2; ++ch) {
        QJsonObject message;
        if (channels[ch].takeStale(&message))
            send(QLatin1String(ChannelTopics[ch]), message);
    }
}

void MqttPublisher::configure(QWidget *parent)
{
    MqttDialog dialog(parent);
    const int baseAddress = context().baseAddress;
    if (isPublishing()) {
        dialog.setSettings(settings);
    } else {
        QSettings file(iniFile, QSettings::IniFormat);
        dialog.setSettings(loadMqttSettings(file, baseAddress));
    }
    dialog.setState(stateText(), error);
    const QMetaObject::Connection update = connect(this, &MqttPublisher::stateChanged, &dialog,
                                                   [&] { dialog.setState(stateText(), error); });
    const int result = dialog.exec();
    disconnect(update);
    if (result != QDialog::Accepted)
        return;
    const MqttSettings chosen = dialog.settings();
    QSettings file(iniFile, QSettings::IniFormat);
    storeMqttSettings(file, chosen, baseAddress);
    if (file.status() != QSettings::NoError)
        qDebug() << "MQTT: could not store the settings in" << iniFile;
    apply(chosen);
}

void MqttPublisher::workerStateChanged(int state, const QString &newError)
{
    // A state queued by a worker that has since been stopped is no longer the panel's.
    if (!worker || sender() != worker)
        return;
    currentState = MqttState(state);
    if (!newError.isEmpty() || currentState == MqttState::Connected)
        error = newError;
    if (label) {
        label->setText(stateText());
        label->setToolTip(error);
    }
    emit stateChanged();
}

void MqttPublisher::publishModule(bool hasModule, quint16 serialNumber, const Reading *reading)
{
    ModuleContext now = context();
    if (reading) {
        now.fineVoltage = reading->fineVoltage;
        now.currentResolution = reading->currentResolution;
        now.secondRange = reading->secondRange;
    }
    const QJsonObject description = modulePayload(now, hasModule, serialNumber);
    if (module.take(description))
        send(QLatin1String(ModuleTopic), description);
}

void MqttPublisher::send(const QString &subtopic, const QJsonObject &payload)
{
    emit publishMessage(subtopic, compactJson(payload));
}

} // namespace Brelk
