#include "attachment.h"

#include "brokerclient.h"
#include "crate.h"
#include "modulesession.h"
#include "mqttsettings.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace Brelk {

namespace {

constexpr int ClockMs = 100;
// The overview's rows follow the readings this often. Sixteen modules' rows at every tick would
// cost the panel more than all else it does; the main and module windows still show every tick.
constexpr int OverviewMs = 300;
constexpr char HistoryAnswer[] = "history/answer/";

QString topicOf(const QString &prefix, const char *subtopic)
{
    return prefix + QLatin1Char('/') + QLatin1String(subtopic);
}

} // namespace

Attachment::Attachment(Crate *crate, QObject *parent) : QObject(parent), crate(crate)
{
    monotonic.start();
    clock.setInterval(ClockMs);
    connect(&clock, &QTimer::timeout, this, &Attachment::onClock);
}

Attachment::~Attachment() = default;

void Attachment::start(const MqttSettings &broker, const QString &topicFilter,
                       const QString &storedPrefix)
{
    brokerSettings = broker;
    filter = topicFilter;
    wanted = storedPrefix;
    mqtt.reset(new BrokerClient);
    answerSuffix = QLatin1Char('/') + QLatin1String(HistoryAnswer) + mqtt->clientId();
    connect(mqtt.get(), &BrokerClient::messageArrived, this,
            [this](const QString &topic, const QByteArray &payload, bool retained,
                   const QByteArray &correlation) {
                takeMessage(topic, payload, retained, correlation);
            });
    connect(mqtt.get(), &BrokerClient::batchEnded, this, [this] {
        for (const auto &remote : remotes)
            feedPending(*remote);
    });
    connect(mqtt.get(), &BrokerClient::publishRefused, this,
            [this](const QString &topic, int) { takePublishRefusal(topic); });
    connect(mqtt.get(), &BrokerClient::connectedChanged, this, &Attachment::takeConnection);
    // Several filters, separated by commas, find first and further modules' prefixes alike
    // ("brelk/+, brelk/+/+").
    QStringList subscriptions;
    for (const QString &each : filter.split(QLatin1Char(','), Qt::SkipEmptyParts))
        subscriptions << topicOf(each.trimmed(), MqttTopic::Module);
    mqtt->start(broker, subscriptions);
    clock.start();
}

void Attachment::stop()
{
    clock.stop();
    if (mqtt)
        mqtt->stop();
}

QString Attachment::prefixOf(const ModuleSession *module) const
{
    const Remote *remote = remoteOf(module);
    return remote ? remote->prefix : QString();
}

QString Attachment::hostOf(const ModuleSession *module) const
{
    const Remote *remote = remoteOf(module);
    return remote ? remote->info.host : QString();
}

Attachment::Remote *Attachment::findRemote(const QString &prefix)
{
    for (const auto &remote : remotes) {
        if (remote->prefix == prefix)
            return remote.get();
    }
    return nullptr;
}

Attachment::Remote *Attachment::remoteOf(const ModuleSession *module)
{
    for (const auto &remote : remotes) {
        if (remote->session == module)
            return remote.get();
    }
    return nullptr;
}

const Attachment::Remote *Attachment::remoteOf(const ModuleSession *module) const
{
    return const_cast<Attachment *>(this)->remoteOf(module);
}

void Attachment::takeMessage(const QString &topic, const QByteArray &payload, bool retained,
                             const QByteArray &correlation)
{
    if (topic.endsWith(answerSuffix)) {
        Remote *remote = findRemote(topic.chopped(answerSuffix.size()));
        if (remote && !retained)
            takeHistoryAnswer(*remote, payload, correlation);
        return;
    }
    // "<prefix>/a", "<prefix>/status", "<prefix>/a/result": the last level, and for an answer
    // the one before it, name what the message is.
    const int last = topic.lastIndexOf(QLatin1Char('/'));
    if (last <= 0)
        return;
    const QStringView level = QStringView(topic).mid(last + 1);
    if (level == QLatin1String(MqttTopic::Module)) {
        takeModuleMessage(topic.left(last), payload);
        return;
    }
    const bool answer = level == QLatin1String("result");
    const int prefixEnd = answer ? topic.lastIndexOf(QLatin1Char('/'), last - 1) : last;
    if (prefixEnd <= 0)
        return;
    Remote *remote = findRemote(topic.left(prefixEnd));
    if (!remote || !remote->session)
        return;
    const QStringView channelLevel =
        answer ? QStringView(topic).mid(prefixEnd + 1, last - prefixEnd - 1) : level;
    const bool channelA = channelLevel == QLatin1String(MqttTopic::ChannelA);
    const bool channelB = channelLevel == QLatin1String(MqttTopic::ChannelB);
    if (answer) {
        if ((channelA || channelB) && !retained)
            takeAnswer(*remote, payload);
    } else if (channelA || channelB) {
        takeChannelMessage(*remote, channelA ? 0 : 1, payload, retained);
    } else if (level == QLatin1String(MqttTopic::Status) && payload == "offline") {
        goSilent(*remote);
    }
}

void Attachment::takeModuleMessage(const QString &prefix, const QByteArray &payload)
{
    // An empty retained message clears the topic: nothing to decode.
    if (payload.isEmpty())
        return;
    RemoteModule info;
    if (!decodeModuleMessage(payload, &info))
        return;
    Remote *remote = findRemote(prefix);
    if (!remote) {
        remotes.emplace_back(new Remote);
        remote = remotes.back().get();
        remote->prefix = prefix;
        // A lost reading is replaced by the next one within a second, and a service silent for
        // 3 s is marked as such: readings come at QoS 0, without an acknowledgement each. The
        // module messages come through the filter's subscription.
        mqtt->subscribe(topicOf(prefix, MqttTopic::ChannelA), true);
        mqtt->subscribe(topicOf(prefix, MqttTopic::ChannelB), true);
        mqtt->subscribe(topicOf(prefix, MqttTopic::Status));
        mqtt->subscribe(prefix + QStringLiteral("/+/result"));
    }
    remote->info = info;
    remote->infoKnown = true;
    if (!remote->session) {
        const bool firstFree =
            std::none_of(remotes.cbegin(), remotes.cend(),
                         [this](const auto &r) { return r->session == crate->first(); });
        if (firstFree && (wanted.isEmpty() || wanted == prefix)) {
            bind(*remote, crate->first());
        } else {
            ModuleConfig config;
            config.address = config.storedAddress = info.baseAddress;
            config.selection = info.selection;
            if (ModuleSession *session = crate->addModule(config))
                bind(*remote, session);
        }
    } else {
        remote->session->setSelection(info.selection);
        remote->session->setName(info.name);
    }
    if (remote->session)
        updateCommandBlock(*remote);
}

void Attachment::bind(Remote &remote, ModuleSession *session)
{
    remote.session = session;
    session->setBaseAddress(remote.info.baseAddress);
    session->setSelection(remote.info.selection);
    session->setName(remote.info.name);
    RemoteLink link;
    link.execute = [this, session](const WriteList &writes) {
        const Remote *remote = remoteOf(session);
        if (remote)
            send(session, outgoingCommands(writes, remote->info.selection));
    };
    link.clearEvents = [this, session](int channel) { send(session, {outgoingClear(channel)}); };
    session->setRemoteLink(link);
    updateCommandBlock(remote);
    emit moduleFound(session);
    startFetch(remote);
}

QString Attachment::answerTopic(const Remote &remote) const
{
    return remote.prefix + answerSuffix;
}

void Attachment::startFetch(Remote &remote)
{
    Fetch &fetch = remote.fetch;
    fetch = Fetch();
    fetch.generation = ++fetches;
    fetch.asks = historyAsks();
    fetch.answered.assign(fetch.asks.size(), false);
    fetch.lastSentAt = now();
    fetch.running = true;
    mqtt->subscribe(answerTopic(remote));
}

// Sends the next request when its turn has come; ends the fetch when the answers are in or the
// last ones are overdue.
void Attachment::fetchNext(Remote &remote)
{
    Fetch &fetch = remote.fetch;
    if (fetch.sent == int(fetch.asks.size())) {
        if (now() - fetch.lastSentAt > HistoryWaitMs)
            endFetch(remote);
        return;
    }
    if (now() - fetch.lastSentAt < HistorySpacingMs)
        return;
    // The index of the request in the fetch, after the fetch's own number.
    const QByteArray correlation =
        QByteArray::number(fetch.generation) + '-' + QByteArray::number(fetch.sent);
    // Not connected: the request waits for the connection.
    if (!mqtt->publish(topicOf(remote.prefix, MqttTopic::HistoryGet),
                       historyAskPayload(fetch.asks[size_t(fetch.sent)]), answerTopic(remote),
                       correlation))
        return;
    ++fetch.sent;
    fetch.lastSentAt = now();
}

void Attachment::takeHistoryAnswer(Remote &remote, const QByteArray &payload,
                                   const QByteArray &correlation)
{
    Fetch &fetch = remote.fetch;
    const QList<QByteArray> parts = correlation.split('-');
    bool numbers = false;
    bool index = false;
    const int generation = parts.value(0).toInt(&numbers);
    const int which = parts.value(1).toInt(&index);
    if (!fetch.running || !remote.session || parts.size() != 2 || !numbers || !index ||
        generation != fetch.generation || which < 0 || which >= fetch.sent ||
        fetch.answered[size_t(which)])
        return;
    fetch.answered[size_t(which)] = true;
    const HistoryAsk &ask = fetch.asks[size_t(which)];
    std::vector<FetchedRecord> records;
    if (fetchedRecords(payload, ask.channel, remote.info.selection, &records)) {
        std::vector<FetchedRecord> &into = ask.fine ? fetch.fine : fetch.coarse;
        into.insert(into.end(), records.begin(), records.end());
    }
    if (std::find(fetch.answered.begin(), fetch.answered.end(), false) == fetch.answered.end())
        endFetch(remote);
}

void Attachment::endFetch(Remote &remote)
{
    Fetch &fetch = remote.fetch;
    fetch.running = false;
    const std::vector<Reading> readings =
        joinFetched(fetch.coarse, fetch.fine, remote.info.selection, remote.firstLive);
    fetch.coarse.clear();
    fetch.fine.clear();
    if (remote.session && !readings.empty())
        emit earlierReadings(remote.session, readings);
}

void Attachment::takeChannelMessage(Remote &remote, int channel, const QByteArray &payload,
                                    bool retained)
{
    RemoteChannel decoded;
    if (!decodeChannelMessage(payload, channel, &decoded)) {
        // The last reading stays, marked stale, until a message that can be read.
        if (!retained) {
            feedPending(remote);
            remote.session->remoteSilent();
            updateCommandBlock(remote);
        }
        return;
    }
    // The sibling's message of an earlier tick will not come in this batch any more.
    if (decoded.reading.time != remote.reading.time)
        feedPending(remote);
    mergeChannel(decoded, channel, &remote.reading, &remote.latched);
    // A retained reading may be a service's that is long gone: it is shown, stale, until the
    // service's next message says that it is there.
    if (!retained) {
        remote.heardAt = now();
        remote.heardAtWall = QDateTime::currentMSecsSinceEpoch();
        remote.silent = false;
    }
    remote.pendingStale = (remote.feedPending && remote.pendingStale) || retained || decoded.stale;
    remote.feedPending = true;
}

void Attachment::feedPending(Remote &remote)
{
    if (!remote.feedPending)
        return;
    remote.feedPending = false;
    feed(remote, remote.pendingStale);
    updateCommandBlock(remote);
}

void Attachment::feed(Remote &remote, bool stale)
{
    remote.firstLive = std::min(remote.firstLive, remote.reading.time);
    remote.session->takeRemoteReading(remote.reading, remote.latched, stale);
    ticked = true;
}

void Attachment::goSilent(Remote &remote)
{
    feedPending(remote);
    const bool wasSilent = remote.silent;
    remote.silent = true;
    remote.session->remoteSilent();
    updateCommandBlock(remote);
    if (!wasSilent) {
        emit happened(CrateEvent::serviceSilent(remote.session, remote.prefix, remote.heardAtWall));
    }
}

void Attachment::updateCommandBlock(Remote &remote)
{
    QString why;
    if (!mqtt || !mqtt->isConnected())
        why = tr("not connected to the broker at %1").arg(brokerSettings.host);
    else if (remote.commandTopicRefused)
        why = tr("the broker does not allow this user to send commands to %1").arg(remote.prefix);
    else if (!remote.infoKnown || !remote.info.commands)
        why = tr("the service of %1 does not take remote commands").arg(remote.prefix);
    else if (remote.session->isStale())
        why = tr("the readings of %1 are not current").arg(remote.prefix);
    remote.session->setCommandBlock(why);
}

void Attachment::send(ModuleSession *module, const QVector<OutgoingCommand> &commands)
{
    Remote *remote = remoteOf(module);
    if (!remote || commands.isEmpty())
        return;
    if (!module->commandBlock().isEmpty()) {
        emit happened(CrateEvent::commandNotSent(module, module->commandBlock()));
        return;
    }
    for (const OutgoingCommand &outgoing : commands) {
        Pending pending;
        pending.outgoing = outgoing;
        pending.id = QStringLiteral("%1-%2").arg(mqtt->clientId()).arg(++nextId);
        pending.outgoing.command.id = pending.id;
        pending.text = outgoingText(outgoing, remote->info.selection);
        remote->queue.push_back(pending);
    }
    sendNext(*remote);
}

void Attachment::sendNext(Remote &remote)
{
    if (remote.queue.empty())
        return;
    Pending &next = remote.queue.front();
    if (next.sentAt != 0 || now() - remote.lastSentAt < CommandSpacingMs)
        return;
    const QByteArray payload = outgoingPayload(
        next.outgoing.command, QDateTime::currentMSecsSinceEpoch(), remote.info.serialNumber);
    const QString topic = topicOf(remote.prefix, next.outgoing.channel == 0 ? MqttTopic::CommandA
                                                                            : MqttTopic::CommandB);
    if (!mqtt->publish(topic, payload)) {
        emit happened(CrateEvent::commandNotSent(
            remote.session, tr("not connected to the broker at %1").arg(brokerSettings.host)));
        remote.queue.clear();
        return;
    }
    next.sentAt = qMax<qint64>(1, now());
    remote.lastSentAt = next.sentAt;
    emit happened(CrateEvent::commandSent(remote.session, next.text));
}

void Attachment::takeAnswer(Remote &remote, const QByteArray &payload)
{
    if (remote.queue.empty())
        return;
    const QJsonObject answer = QJsonDocument::fromJson(payload).object();
    if (answer.value(QLatin1String("id")).toString() != remote.queue.front().id)
        return;
    remote.queue.erase(remote.queue.begin());
    const QString message = answer.value(QLatin1String("message")).toString();
    if (answer.value(QLatin1String("ok")).toBool()) {
        emit happened(CrateEvent::commandDone(remote.session, message));
        sendNext(remote);
        return;
    }
    // The rest of a batch is not sent: a restore stops at its first refusal, as on the bus.
    remote.queue.clear();
    emit happened(CrateEvent::commandRefused(
        remote.session, answer.value(QLatin1String("error")).toString(), message));
}

void Attachment::takePublishRefusal(const QString &topic)
{
    for (const auto &remote : remotes) {
        if (topic != topicOf(remote->prefix, MqttTopic::CommandA) &&
            topic != topicOf(remote->prefix, MqttTopic::CommandB))
            continue;
        remote->commandTopicRefused = true;
        remote->queue.clear();
        if (remote->session) {
            updateCommandBlock(*remote);
            emit happened(
                CrateEvent::commandNotSent(remote->session, remote->session->commandBlock()));
        }
    }
}

void Attachment::takeConnection(bool connected, const QString &error)
{
    emit happened(CrateEvent::brokerState(brokerSettings.host, connected, error));
    for (const auto &remote : remotes) {
        if (remote->session)
            updateCommandBlock(*remote);
    }
}

void Attachment::onClock()
{
    const qint64 at = now();
    for (const auto &remote : remotes) {
        if (!remote->session)
            continue;
        if (remote->fetch.running)
            fetchNext(*remote);
        if (!remote->silent && at - remote->heardAt > SilentAfterMs)
            goSilent(*remote);
        if (!remote->queue.empty()) {
            const Pending &front = remote->queue.front();
            if (front.sentAt != 0 && at - front.sentAt > AnswerWaitMs) {
                remote->queue.clear();
                emit happened(CrateEvent::commandUnanswered(remote->session, remote->prefix));
            } else {
                sendNext(*remote);
            }
        }
    }
    // The overview changes as after a crate's tick.
    if (ticked && at - overviewShownAt >= OverviewMs) {
        ticked = false;
        overviewShownAt = at;
        emit crate->tickEnded();
    }
}

} // namespace Brelk
