// The panel without a window: connects the bridge the settings file names, polls every module of
// the crate every 100 ms (the first module and the further ones of the settings file), runs each
// module's data log and MQTT publishing from the settings as the windows would, and writes
// every message the window would show (status bar, message boxes) as one time-stamped line on
// standard error. A bridge that cannot be opened is tried again every 10 s, since nobody is there
// to press OK.
#ifndef HEADLESSSERVICE_H
#define HEADLESSSERVICE_H

#include "bridge.h"
#include "freshness.h"
#include "settings.h"
#ifdef BRELK_MQTT
#include "mqttprefixes.h"
#endif

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class DataLog;

namespace Brelk {

class Crate;
class ModuleSession;
class MqttPublisher;

class HeadlessService : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = Brelk::PollIntervalMs;
    static constexpr int RetryIntervalMs = 10000;

    explicit HeadlessService(const QString &settingsFile, QObject *parent = nullptr);
    ~HeadlessService() override;

    void start();
    // Stops polling, writes the data log's last row, says "offline" to the broker and leaves it,
    // and closes the bridge.
    void stop();

    ModuleSession *moduleSession() const { return session; }
    Crate *modules() const { return crate; }

    // Writes one line to standard error, starting with the local time as the data log writes it.
    static void report(const QString &text);
    // Sends the debug output to standard error with the same time stamp.
    static void timeStampDebugLines();

private:
    // The parts of one module beside its session.
    struct ModuleServices
    {
        ModuleServices(ModuleSession *session, const Settings &keys) : session(session), keys(keys)
        {
        }

        ModuleSession *session;
        // The module's keys in the settings file.
        Settings keys;
        DataLog *dataLog = nullptr;
        MqttPublisher *publisher = nullptr;
        // The line last written about the module: a message that would be repeated every tick
        // is written only when it changes.
        QString status;
        QString mqttLine;
    };

    void addModule(ModuleSession *module, const Settings &moduleSettings);
    // A further module's lines start with its address, so that the journal tells the modules
    // apart; the first module's lines are those of a crate with one module.
    QString linePrefix(const ModuleSession *module) const;
    void connectBridge();
    void showStatus(const QString &text);
    void showModuleStatus(ModuleServices *module, const QString &text);

    Settings settings;
    Bridge bridge;
    Crate *crate;
    ModuleSession *session;
    std::vector<std::unique_ptr<ModuleServices>> services;
#ifdef BRELK_MQTT
    MqttPrefixes prefixes;
#endif
    QTimer pollTimer;
    QTimer retryTimer;
    QString status;
};

} // namespace Brelk

#endif // HEADLESSSERVICE_H
