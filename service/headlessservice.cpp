#include "headlessservice.h"

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

void writeTimeStamped(const QString &text)
{
    const QByteArray line =
        (isoLocalTime(QDateTime::currentMSecsSinceEpoch()) + QLatin1Char(' ') + text).toUtf8() +
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
      session(new ModuleSession(&bridge, settings.baseAddress(), this)), dataLog(new DataLog(this))
{
    session->setSelection(settings.resolutionOptions());
    pollTimer.setInterval(PollIntervalMs);
    connect(&pollTimer, &QTimer::timeout, session, &ModuleSession::poll);
    retryTimer.setInterval(RetryIntervalMs);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &HeadlessService::connectBridge);

    connect(session, &ModuleSession::readingTaken, this, [this](const Reading &reading) {
        showStatus(serialNumberMessage(reading.serialNumber));
    });
    connect(session, &ModuleSession::noAnswer, this, [this](qint64 silentSince) {
        showStatus(tr("No answer from the module at VME address %1 since %2")
                       .arg(baseAddressText(session->baseAddress()),
                            QDateTime::fromMSecsSinceEpoch(silentSince)
                                .toString(QStringLiteral("hh:mm:ss"))));
    });
    connect(session, &ModuleSession::readingTaken, dataLog, &DataLog::takeReading);
    connect(dataLog, &DataLog::failed, this, [this](const QString &path, const QString &reason) {
        showStatus(tr("Logging to the file %1 has stopped: %2.")
                       .arg(QDir::toNativeSeparators(path), reason));
    });
#ifdef BRELK_MQTT
    publisher = new MqttPublisher(
        [this] {
            const ResolutionSelection options = session->selection();
            return ModuleContext{bridge.name(), int(session->baseAddress()), options.fineVoltage,
                                 options.currentResolution, options.secondRange};
        },
        this);
    publisher->attach(session);
    // The window's status-bar label, as a line whenever its text or tooltip changes.
    connect(publisher, &MqttPublisher::stateChanged, this, [this] {
        const QString line = publisher->lastError().isEmpty()
                                 ? publisher->stateText()
                                 : publisher->stateText() + QStringLiteral(" (") +
                                       publisher->lastError() + QLatin1Char(')');
        if (publisher->isPublishing() && line != mqttLine) {
            mqttLine = line;
            report(line);
        }
    });
#endif
}

HeadlessService::~HeadlessService()
{
    stop();
}

void HeadlessService::start()
{
    qDebug() << "Using INI file:" << settings.path();
    qDebug("BaseAddress: 0x%X", session->baseAddress());
    const QString logPath = settings.logFile();
    if (!logPath.isEmpty()) {
        qDebug().noquote() << "Logging to" << logPath << "at an interval of"
                           << logIntervalSetting(settings.logIntervalMs()) << "s";
        dataLog->start(logPath, settings.logIntervalMs());
    }
    connectBridge();
#ifdef BRELK_MQTT
    publisher->setCommandsAllowed(remoteCommandsAllowed(settings));
    publisher->startFromSettings(settings);
#endif
}

void HeadlessService::stop()
{
    pollTimer.stop();
    retryTimer.stop();
    dataLog->stop();
#ifdef BRELK_MQTT
    // Says "offline" and leaves the broker, waiting at most about a second for it.
    delete publisher;
    publisher = nullptr;
#endif
    bridge.close();
}

void HeadlessService::connectBridge()
{
    showStatus(tr("Connecting to VME controller..."));
    if (bridge.connect(settings.vmeController())) {
        showStatus(tr("Connected to VME controller %1!").arg(bridge.name()));
        showStatus(tr("Connecting to HV device at VME address %1...")
                       .arg(session->baseAddress(), 4, 16, QLatin1Char('0')));
        session->connected();
        pollTimer.start();
        return;
    }
    session->connectionFailed();
    showStatus(tr("Could not init VME controller %1! Trying again in %2 s.")
                   .arg(bridge.name())
                   .arg(RetryIntervalMs / 1000));
    retryTimer.start();
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
