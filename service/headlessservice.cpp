#include "headlessservice.h"

#include "crate.h"
#include "datalog.h"
#include "display.h"
#include "modulesession.h"
#ifdef BRELK_MQTT
#include "mqttpublisher.h"
#endif

#include <QDateTime>
#include <QDir>

#include <cstdio>

namespace Brelk {

namespace {

// One line each: whatever a text brought from the network or a file, it cannot start another.
void writeTimeStamped(const QString &text)
{
    const QByteArray line =
        (isoLocalTime(QDateTime::currentMSecsSinceEpoch()) + QLatin1Char(' ') + escapedForLog(text))
            .toUtf8() +
        '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void timeStampedMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    writeTimeStamped(message);
}

} // namespace

HeadlessService::HeadlessService(const QString &settingsFile, QObject *parent)
    : QObject(parent), settings(settingsFile),
      crate(new Crate(&bridge, settings.baseAddress(), this)), session(crate->first())
{
    pollTimer.setInterval(PollIntervalMs);
    connect(&pollTimer, &QTimer::timeout, crate, &Crate::tick);
    retryTimer.setInterval(RetryIntervalMs);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &HeadlessService::connectBridge);
    session->setSelection(settings.resolutionOptions());
    session->setVoltageCeilings(settings.voltageCeilings());
    addModule(session, settings);
}

HeadlessService::~HeadlessService()
{
    stop();
}

void HeadlessService::addModule(ModuleSession *module, const Settings &moduleSettings)
{
    services.push_back(std::make_unique<ModuleServices>(module, moduleSettings));
    ModuleServices *const parts = services.back().get();
    parts->dataLog = new DataLog(this);
    const auto label = [this, module](const QString &text) {
        return module == session
                   ? text
                   : baseAddressText(module->baseAddress()) + QStringLiteral(": ") + text;
    };

    connect(module, &ModuleSession::readingTaken, this, [=](const Reading &reading) {
        showModuleStatus(parts, label(serialNumberMessage(reading.serialNumber)));
    });
    connect(module, &ModuleSession::noAnswer, this, [=](qint64 silentSince) {
        showModuleStatus(parts, label(tr("No answer from the module at VME address %1 since %2")
                                          .arg(baseAddressText(module->baseAddress()),
                                               QDateTime::fromMSecsSinceEpoch(silentSince)
                                                   .toString(QStringLiteral("hh:mm:ss")))));
    });
    connect(module, &ModuleSession::readingTaken, parts->dataLog, &DataLog::takeReading);
    connect(module, &ModuleSession::commandFailed, this,
            [=](const QString &text) { report(label(text)); });
    connect(module, &ModuleSession::commandNote, this,
            [=](const QString &text) { report(label(text)); });
    connect(parts->dataLog, &DataLog::failed, this,
            [=](const QString &path, const QString &reason) {
                showModuleStatus(parts, label(tr("Logging to the file %1 has stopped: %2.")
                                                  .arg(QDir::toNativeSeparators(path), reason)));
            });
    const QString logPath = moduleSettings.logFile();
    if (!logPath.isEmpty()) {
        qDebug().noquote() << label(QStringLiteral("Logging to")) << logPath << "at an interval of"
                           << logIntervalSetting(moduleSettings.logIntervalMs()) << "s";
        parts->dataLog->start(logPath, moduleSettings.logIntervalMs());
    }
#ifdef BRELK_MQTT
    parts->publisher = new MqttPublisher(sessionContext(&bridge, module), this);
    MqttPublisher *const publisher = parts->publisher;
    publisher->attach(module);
    publisher->setPrefixes(&prefixes);
    // The window's status-bar label, as a line whenever its text or tooltip changes.
    connect(publisher, &MqttPublisher::stateChanged, this, [=] {
        const QString line = publisher->lastError().isEmpty()
                                 ? publisher->stateText()
                                 : publisher->stateText() + QStringLiteral(" (") +
                                       publisher->lastError() + QLatin1Char(')');
        if (publisher->isPublishing() && line != parts->mqttLine) {
            parts->mqttLine = line;
            report(label(line));
        }
    });
#endif
}

QString HeadlessService::linePrefix(const ModuleSession *module) const
{
    return module == session ? QString()
                             : baseAddressText(module->baseAddress()) + QStringLiteral(": ");
}

void HeadlessService::start()
{
    qDebug() << "Using INI file:" << settings.path();
    qDebug("BaseAddress: 0x%X", session->baseAddress());
    for (const ModuleConfig &config : settings.furtherModules()) {
        if (ModuleSession *module = crate->addModule(config))
            addModule(module, settings.moduleGroup(config.address));
    }
    for (const auto &parts : services) {
        const QString logPath = parts->keys.logFile();
        if (logPath.isEmpty())
            continue;
        const QString module =
            parts->session == session
                ? QString()
                : baseAddressText(parts->session->baseAddress()) + QStringLiteral(": ");
        qDebug().noquote() << module + QStringLiteral("Logging to") << logPath
                           << "at an interval of" << logIntervalSetting(parts->keys.logIntervalMs())
                           << "s";
        parts->dataLog->start(logPath, parts->keys.logIntervalMs());
    }
    connectBridge();
#ifdef BRELK_MQTT
    for (const auto &parts : services) {
        parts->publisher->setCommandsAllowed(remoteCommandsAllowed(settings));
        parts->publisher->setCommandMaxAge(remoteCommandMaxAgeMs(settings));
        if (parts->session == session)
            parts->publisher->startFromSettings(settings);
        else
            parts->publisher->apply(
                loadModuleMqttSettings(settings, parts->session->baseAddress()));
    }
#endif
}

void HeadlessService::stop()
{
    pollTimer.stop();
    retryTimer.stop();
    for (const auto &parts : services) {
        parts->dataLog->stop();
#ifdef BRELK_MQTT
        // Says "offline" and leaves the broker, waiting at most about a second for it.
        delete parts->publisher;
        parts->publisher = nullptr;
#endif
    }
    bridge.close();
}

void HeadlessService::connectBridge()
{
    showStatus(tr("Connecting to VME controller..."));
    if (bridge.connect(settings.vmeController())) {
        showStatus(tr("Connected to VME controller %1!").arg(bridge.name()));
        showStatus(tr("Connecting to HV device at VME address %1...")
                       .arg(session->baseAddress(), 4, 16, QLatin1Char('0')));
        crate->connected();
        pollTimer.start();
        return;
    }
    crate->connectionFailed();
    showStatus(tr("Could not init VME controller %1! Trying again in %2 s.")
                   .arg(bridge.name())
                   .arg(RetryIntervalMs / 1000));
    retryTimer.start();
}

void HeadlessService::showModuleStatus(ModuleServices *module, const QString &text)
{
    if (text == module->status)
        return;
    module->status = text;
    report(text);
}

void HeadlessService::showStatus(const QString &text)
{
    if (text == status)
        return;
    status = text;
    report(text);
}

void HeadlessService::report(const QString &text)
{
    writeTimeStamped(text);
}

void HeadlessService::timeStampDebugLines()
{
    qInstallMessageHandler(timeStampedMessage);
}

} // namespace Brelk
