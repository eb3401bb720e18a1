// The panel without a window: connects the bridge the settings file names, polls the module every
// 100 ms, runs the data log and MQTT publishing from the settings as the window would, and writes
// every message the window would show (status bar, message boxes) as one time-stamped line on
// standard error. A bridge that cannot be opened is tried again every 10 s, since nobody is there
// to press OK.
#ifndef HEADLESSSERVICE_H
#define HEADLESSSERVICE_H

#include "bridge.h"
#include "settings.h"

#include <QObject>
#include <QString>
#include <QTimer>

class DataLog;

namespace Brelk {

class ModuleSession;
class MqttPublisher;

class HeadlessService : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 100;
    static constexpr int RetryIntervalMs = 10000;

    explicit HeadlessService(const QString &settingsFile, QObject *parent = nullptr);
    ~HeadlessService() override;

    void start();
    // Stops polling, writes the data log's last row, says "offline" to the broker and leaves it,
    // and closes the bridge.
    void stop();

    ModuleSession *moduleSession() const { return session; }

    // Writes one line to standard error, starting with the local time as the data log writes it.
    static void report(const QString &text);
    // Sends the debug output to standard error with the same time stamp.
    static void timeStampDebugLines();

private:
    void connectBridge();
    void showStatus(const QString &text);

    Settings settings;
    Bridge bridge;
    ModuleSession *session;
    DataLog *dataLog;
    MqttPublisher *publisher = nullptr;
    QTimer pollTimer;
    QTimer retryTimer;
    // The status line last written: a message that would be repeated every tick is written only
    // when it changes.
    QString status;
    QString mqttLine;
};

} // namespace Brelk

#endif // HEADLESSSERVICE_H
