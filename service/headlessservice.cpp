#include "headlessservice.h"

#include "display.h"
#include "modulesession.h"

#include <QDateTime>

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

CrateRuntime::Options serviceOptions()
{
    CrateRuntime::Options options;
    options.retryConnection = true;
    options.keepHistory = false;
    return options;
}

} // namespace

HeadlessService::HeadlessService(const QString &settingsFile, QObject *parent)
    : QObject(parent), crate(settingsFile, serviceOptions())
{
    connect(&crate, &CrateRuntime::happened, this, &HeadlessService::show);
}

HeadlessService::~HeadlessService()
{
    stop();
}

void HeadlessService::start()
{
    crate.start();
}

void HeadlessService::stop()
{
    crate.stop();
}

void HeadlessService::show(const CrateEvent &event)
{
    QString *last = nullptr;
    switch (event.kind) {
    case CrateEvent::Connecting:
    case CrateEvent::Connected:
    case CrateEvent::ConnectingModule:
    case CrateEvent::ConnectionFailed:
    case CrateEvent::BridgeLost:
    case CrateEvent::PollStopped:
        last = &bridgeLine;
        break;
    case CrateEvent::ModuleAnswering:
    case CrateEvent::ModuleSilent:
    case CrateEvent::LogFailed:
        last = &moduleLines[event.module];
        break;
    case CrateEvent::MqttState:
        last = &mqttLines[event.module];
        break;
    case CrateEvent::LogStarted:
    case CrateEvent::CommandNote:
    case CrateEvent::CommandFailed:
        break;
    case CrateEvent::RemoteCommand:
        // The publisher writes a line of its own for every command.
        return;
    }
    const QString line = event.module ? event.module->linePrefix() + event.text : event.text;
    if (last) {
        if (*last == line)
            return;
        *last = line;
    }
    report(line, event.priority);
}

void HeadlessService::report(const QString &text, CrateEvent::Priority)
{
    writeTimeStamped(text);
}

void HeadlessService::timeStampDebugLines()
{
    qInstallMessageHandler(timeStampedMessage);
}

} // namespace Brelk
