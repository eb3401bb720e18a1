// The panel attached through the broker to the crates' services: every service that publishes a
// `<prefix>/module` message under the topic filter is a module of the panel. Its `<prefix>/a` and
// `<prefix>/b` messages become the module session's ticks, decoded by the code the local panel
// uses; a service that sends nothing for 3 s, or says "offline", makes its module stale. The
// session's commands go to the service as remote commands, one after the other, each answered by
// the service or, after 2 s without an answer, reported as unanswered. When a module's service is
// found, its stored trend of the last 24 hours is fetched (see fetchedhistory.h) and handed on to
// go in front of the live ticks. Qt Core only.
#ifndef ATTACHMENT_H
#define ATTACHMENT_H

#include "crateevent.h"
#include "fetchedhistory.h"
#include "reading.h"
#include "remotecommand.h"
#include "remotereading.h"
#include "settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <limits>
#include <memory>
#include <vector>

namespace Brelk {

class BrokerClient;
class Crate;
class ModuleSession;

class Attachment : public QObject
{
    Q_OBJECT

public:
    static constexpr int SilentAfterMs = 3000;
    static constexpr int AnswerWaitMs = 2000;
    // The service takes at most five commands a second per module: the next command of a batch
    // (a set-point restore) waits at least this long after the one before.
    static constexpr int CommandSpacingMs = 250;
    // The service answers at most five history requests a second per module: the fetch of its
    // stored trend keeps below that with room for the network's jitter.
    static constexpr int HistorySpacingMs = 300;
    // How long after its last request a fetch waits for the answers still missing.
    static constexpr int HistoryWaitMs = 5000;

    // The crate's first module is the one whose prefix is `storedPrefix`, or else the first found;
    // every other module found is added to the crate.
    Attachment(Crate *crate, QObject *parent = nullptr);
    ~Attachment() override;

    void start(const MqttSettings &broker, const QString &filter, const QString &storedPrefix);
    void stop();

    // The prefix and the crate's host of a module found; empty for another.
    QString prefixOf(const ModuleSession *module) const;
    QString hostOf(const ModuleSession *module) const;
    QString brokerHost() const { return brokerSettings.host; }
    BrokerClient *client() const { return mqtt.get(); }

signals:
    void happened(const Brelk::CrateEvent &event);
    // A module's prefix is known: the first module when its service is found, a further one when
    // it is added.
    void moduleFound(Brelk::ModuleSession *module);
    // The service's stored ticks from before the first live one, in time order, at their times on
    // the service's time axis; once per module found, when the fetch has ended.
    void earlierReadings(Brelk::ModuleSession *module, const std::vector<Brelk::Reading> &readings);

private:
    struct Pending
    {
        OutgoingCommand outgoing;
        QString id;
        QString text;
        // When it was sent on the monotonic clock; 0 while it waits its turn.
        qint64 sentAt = 0;
    };
    // The fetch of a service's stored trend: its requests, sent one after the other, and the
    // ticks of the answers so far.
    struct Fetch
    {
        // Tells this fetch's answers from those of an earlier one.
        int generation = 0;
        std::vector<HistoryAsk> asks;
        std::vector<bool> answered;
        int sent = 0;
        qint64 lastSentAt = 0;
        std::vector<FetchedRecord> coarse;
        std::vector<FetchedRecord> fine;
        bool running = false;
    };
    struct Remote
    {
        QString prefix;
        ModuleSession *session = nullptr;
        RemoteModule info;
        bool infoKnown = false;
        Reading reading;
        quint16 latched = 0;
        // The last message of the service, on the monotonic clock and the wall clock.
        qint64 heardAt = 0;
        qint64 heardAtWall = 0;
        bool silent = true;
        bool commandTopicRefused = false;
        std::vector<Pending> queue;
        qint64 lastSentAt = -CommandSpacingMs;
        Fetch fetch;
        // The time of the first reading the session took from the service; the fetched ticks
        // stop before it.
        qint64 firstLive = std::numeric_limits<qint64>::max();
        // A channel's message is merged at once and handed to the session with its sibling of
        // the same tick: one reading per tick, as the local panel takes it.
        bool feedPending = false;
        bool pendingStale = false;
    };

    void takeMessage(const QString &topic, const QByteArray &payload, bool retained,
                     const QByteArray &correlation);
    void takeModuleMessage(const QString &prefix, const QByteArray &payload);
    void takeChannelMessage(Remote &remote, int channel, const QByteArray &payload, bool retained);
    void takeAnswer(Remote &remote, const QByteArray &payload);
    void startFetch(Remote &remote);
    void fetchNext(Remote &remote);
    void takeHistoryAnswer(Remote &remote, const QByteArray &payload,
                           const QByteArray &correlation);
    void endFetch(Remote &remote);
    void feed(Remote &remote, bool stale);
    void feedPending(Remote &remote);
    QString answerTopic(const Remote &remote) const;
    Remote *findRemote(const QString &prefix);
    Remote *remoteOf(const ModuleSession *module);
    const Remote *remoteOf(const ModuleSession *module) const;
    void bind(Remote &remote, ModuleSession *session);
    void send(ModuleSession *module, const QVector<OutgoingCommand> &commands);
    void takePublishRefusal(const QString &topic);
    void takeConnection(bool connected, const QString &error);
    void sendNext(Remote &remote);
    void goSilent(Remote &remote);
    void onClock();
    qint64 now() const { return monotonic.elapsed(); }
    void updateCommandBlock(Remote &remote);

    Crate *crate;
    MqttSettings brokerSettings;
    QString filter;
    QString wanted;
    std::unique_ptr<BrokerClient> mqtt;
    // "/history/answer/<client id>": a service's answers to this panel's history requests.
    QString answerSuffix;
    std::vector<std::unique_ptr<Remote>> remotes;
    // Every 100 ms: services gone silent, commands unanswered or due, the crate's tick.
    QTimer clock;
    QElapsedTimer monotonic;
    // Some message arrived since the crate's last tick was told.
    bool ticked = false;
    qint64 overviewShownAt = 0;
    int nextId = 0;
    int fetches = 0;
};

} // namespace Brelk

#endif // ATTACHMENT_H
