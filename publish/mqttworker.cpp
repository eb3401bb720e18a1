#include "mqttworker.h"

#include "freshness.h"
#include "groupcommand.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef BRELK_MQTT_OPENSSL
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#endif

namespace Brelk {

namespace {

const char *const StatusTopic = MqttTopic::Status;
const char *const ModuleTopic = MqttTopic::Module;
const char *const Online = "online";
const char *const Offline = "offline";
const char *const CommandTopics[2] = {MqttTopic::CommandA, MqttTopic::CommandB};
const char *const HistoryTopic = MqttTopic::HistoryGet;
// The longest topic MQTT allows, in bytes.
const int LongestTopic = 65535;
// The command topics of every channel group whose first channel is on the module.
const char *const GroupCommandTopics = "group/+/set";
// The network loop runs this often while a session is open: it reads acknowledgements and keeps
// the connection alive; publishing itself writes at once.
const int LoopIntervalMs = 100;

// MOSQ_ERR_SUCCESS, or why the library could not be set up.
int initLibrary()
{
    static std::once_flag once;
    static int code = MOSQ_ERR_SUCCESS;
    std::call_once(once, [] { code = mosquitto_lib_init(); });
    return code;
}

// Why a libmosquitto call failed, in words an operator can act on.
QString failureText(int code, int savedErrno)
{
    switch (code) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    case MOSQ_ERR_EAI:
        return QStringLiteral("unknown host");
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS failure");
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("TLS handshake failed");
    case MOSQ_ERR_MALFORMED_UTF8:
        return QStringLiteral("not valid MQTT UTF-8 (no control characters or Unicode "
                              "non-characters)");
    default:
        return QString::fromUtf8(mosquitto_strerror(code));
    }
}

#ifdef BRELK_MQTT_OPENSSL

// The TLS context of one client, set up here rather than by libmosquitto so that a failed
// handshake tells which check failed: libmosquitto frees the connection before its loop returns,
// and its own check of the host name leaves no reason in the verification's result.
struct TlsNotes
{
    QString *failure;
    QByteArray host;
};

void freeTlsNotes(void *, void *notes, CRYPTO_EX_DATA *, int, long, void *)
{
    delete static_cast<TlsNotes *>(notes);
}

int tlsNotesIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freeTlsNotes);
    return index;
}

const TlsNotes *tlsNotes(const SSL *ssl)
{
    return static_cast<const TlsNotes *>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), tlsNotesIndex()));
}

// Which check of the broker's certificate failed.
QString verificationText(long result, const QString &host)
{
    const QString detail = QString::fromUtf8(X509_verify_cert_error_string(result));
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("host name mismatch: the broker's certificate is not for %1")
            .arg(host);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return QStringLiteral("unknown CA: the CA file did not sign the broker's certificate (%1)")
            .arg(detail);
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("expired certificate: the broker's certificate has expired");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("the broker's certificate is not valid yet");
    default:
        return QStringLiteral("the broker's certificate is refused: %1").arg(detail);
    }
}

// OpenSSL has checked the chain (CA, dates); the broker's own certificate must also be for the
// host connected to, as libmosquitto checks it: an IP address among its addresses, or the name
// among its DNS names (or its common name when it has none).
int verifyBroker(int chainOk, X509_STORE_CTX *store)
{
    if (!chainOk || X509_STORE_CTX_get_error_depth(store) != 0)
        return chainOk;
    const auto *ssl = static_cast<const SSL *>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const TlsNotes *notes = ssl ? tlsNotes(ssl) : nullptr;
    X509 *certificate = X509_STORE_CTX_get_current_cert(store);
    if (!notes || !certificate) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    if (X509_check_ip_asc(certificate, notes->host.constData(), 0) == 1 ||
        X509_check_host(certificate, notes->host.constData(), size_t(notes->host.size()), 0,
                        nullptr) == 1)
        return 1;
    X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
    return 0;
}

// Called by OpenSSL for each step of the handshake; a fatal alert is a refusal, sent by this side
// when the broker's certificate fails a check, or received from the broker.
void noteTlsAlert(const SSL *ssl, int where, int value)
{
    if (!(where & SSL_CB_ALERT) || (value >> 8) != SSL3_AL_FATAL)
        return;
    const TlsNotes *notes = tlsNotes(ssl);
    if (!notes || !notes->failure->isEmpty())
        return;
    const long verified = SSL_get_verify_result(ssl);
    const QString alert = QString::fromUtf8(SSL_alert_desc_string_long(value));
    if ((where & SSL_CB_WRITE) && verified != X509_V_OK)
        *notes->failure =
            QStringLiteral("TLS: ") + verificationText(verified, QString::fromUtf8(notes->host));
    else if (where & SSL_CB_READ)
        *notes->failure = QStringLiteral("TLS: the broker refused the handshake: %1").arg(alert);
    else
        *notes->failure = QStringLiteral("TLS: handshake failed: %1").arg(alert);
}

// A client context that trusts the CA file alone and checks the broker's certificate and host
// name; null, with `problem` set, when the CA file holds no certificate OpenSSL can use.
SSL_CTX *tlsContext(const QByteArray &caFile, const QString &host, QString *failure,
                    QString *problem)
{
    if (tlsNotesIndex() < 0)
        return nullptr;
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(context, caFile.constData(), nullptr) != 1) {
        const unsigned long error = ERR_peek_last_error();
        *problem = error ? QString::fromUtf8(ERR_reason_error_string(error)) : QString();
        if (problem->isEmpty())
            *problem = QStringLiteral("no certificate");
        ERR_clear_error();
        SSL_CTX_free(context);
        return nullptr;
    }
    auto *notes = new TlsNotes{failure, host.toUtf8()};
    if (SSL_CTX_set_ex_data(context, tlsNotesIndex(), notes) != 1) {
        delete notes;
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verifyBroker);
    SSL_CTX_set_info_callback(context, noteTlsAlert);
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    return context;
}

#endif

// Why the broker refused the connection. MQTT 5 reason codes, in the words of the 3.1.1 return
// codes where there is one, so that a refusal reads the same whatever the broker speaks.
QString connackText(int code)
{
    switch (code) {
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_PROTOCOL_VERSION));
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_IDENTIFIER_REJECTED));
    case MQTT_RC_SERVER_UNAVAILABLE:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_SERVER_UNAVAILABLE));
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_BAD_USERNAME_PASSWORD));
    case MQTT_RC_NOT_AUTHORIZED:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_NOT_AUTHORIZED));
    default:
        break;
    }
    return code < 128 ? QString::fromUtf8(mosquitto_connack_string(code))
                      : QStringLiteral("Connection Refused: %1")
                            .arg(QString::fromUtf8(mosquitto_reason_string(code)));
}

} // namespace

QString mqttStateText(MqttState state)
{
    switch (state) {
    case MqttState::Connecting:
        return QStringLiteral("MQTT: connecting");
    case MqttState::Connected:
        return QStringLiteral("MQTT: connected");
    case MqttState::BadPrefix:
        return QStringLiteral("MQTT: bad topic prefix");
    case MqttState::BadConfiguration:
        return QStringLiteral("MQTT: bad configuration");
    case MqttState::Retrying:
        break;
    }
    return QStringLiteral("MQTT: no broker (retrying)");
}

MqttWorker::MqttWorker()
{
    initLibrary();
}

MqttWorker::~MqttWorker()
{
    closeSession();
}

void MqttWorker::start(const MqttSettings &newSettings, const QString &newClientId)
{
    settings = newSettings;
    clientId = newClientId;
    loopTimer = new QTimer(this);
    loopTimer->setInterval(LoopIntervalMs);
    connect(loopTimer, &QTimer::timeout, this, &MqttWorker::loopOnce);
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &MqttWorker::attempt);
    attempt();
}

void MqttWorker::publish(const QString &subtopic, const QByteArray &payload)
{
    retained.insert(subtopic, payload);
    if (state == MqttState::Connected && !send(subtopic, payload))
        dropSession(failure);
}

void MqttWorker::answer(const QString &subtopic, const QByteArray &payload)
{
    if (state == MqttState::Connected && !send(subtopic, payload, nullptr, false))
        dropSession(failure);
}

void MqttWorker::respond(const QByteArray &responseTopic, const QByteArray &correlation,
                         const QByteArray &payload)
{
    if (state != MqttState::Connected)
        return;
    mosquitto_property *properties = nullptr;
    int code = MOSQ_ERR_SUCCESS;
    if (!correlation.isEmpty())
        code = mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                             correlation.constData(), quint16(correlation.size()));
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_publish_v5(client, nullptr, responseTopic.constData(), int(payload.size()),
                                    payload.constData(), 1, false, properties);
    mosquitto_property_free_all(&properties);
    if (code != MOSQ_ERR_SUCCESS)
        qDebug().noquote() << QStringLiteral("MQTT: the history answer on %1 is refused: %2")
                                  .arg(QString::fromUtf8(responseTopic.left(200)),
                                       failureText(code, errno));
}

void MqttWorker::stop()
{
    stopping = true;
    if (retryTimer)
        retryTimer->stop();
    if (loopTimer)
        loopTimer->stop();
    if (client && state == MqttState::Connected) {
        int messageId = -1;
        if (send(QLatin1String(StatusTopic), QByteArray(Offline), &messageId)) {
            QElapsedTimer waited;
            waited.start();
            while (ackedMessageId != messageId && waited.elapsed() < OfflineAckMs) {
                if (mosquitto_loop(client, 50, 1) != MOSQ_ERR_SUCCESS)
                    break;
            }
        }
        mosquitto_disconnect(client);
    }
    closeSession();
    thread()->quit();
}

void MqttWorker::attempt()
{
    if (stopping || stopRequested)
        return;
    closeSession();
    setState(MqttState::Connecting, QString());
    failure.clear();
    connackSeen = false;
    // Settings that the library refuses would be refused again: no retry until new settings.
    const auto refuse = [this](const QString &reason) {
        closeSession();
        if (stopping || stopRequested)
            return;
        qDebug().noquote() << QStringLiteral(
                                  "MQTT: %1:%2: %3; a bad configuration, not tried again")
                                  .arg(settings.host)
                                  .arg(settings.port)
                                  .arg(reason);
        setState(MqttState::BadConfiguration, reason);
    };

    const int initCode = initLibrary();
    if (initCode != MOSQ_ERR_SUCCESS) {
        dropSession(QStringLiteral("could not set up the MQTT library: %1")
                        .arg(failureText(initCode, errno)));
        return;
    }
    client = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!client) {
        dropSession(QStringLiteral("could not create the client: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    // MQTT 5, so that a retained command published while the panel is subscribed still arrives
    // flagged as retained (version 3.1.1 clears the flag on live delivery).
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // An answer follows the acknowledgement of its command at once; without this the kernel
    // holds it back until the broker acknowledges the first (tens of milliseconds).
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client, &MqttWorker::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttWorker::onDisconnect);
    mosquitto_publish_callback_set(client, &MqttWorker::onPublish);
    mosquitto_message_v5_callback_set(client, &MqttWorker::onMessage);

    const QByteArray willTopic =
        (settings.topic + QLatin1Char('/') + QLatin1String(StatusTopic)).toUtf8();
    int code =
        mosquitto_will_set(client, willTopic.constData(), int(qstrlen(Offline)), Offline, 1, true);
    if (code != MOSQ_ERR_SUCCESS) {
        refuse(QStringLiteral("the last will on %1 is refused: %2")
                   .arg(QString::fromUtf8(willTopic), failureText(code, errno)));
        return;
    }
    if (!settings.user.isEmpty()) {
        const QByteArray user = settings.user.toUtf8();
        const QByteArray password = settings.password.toUtf8();
        // MQTT gives each a length of two bytes.
        if (user.size() > 65535) {
            refuse(QStringLiteral("the user name is refused: it is longer than the 65,535 bytes "
                                  "MQTT allows"));
            return;
        }
        if (password.size() > 65535) {
            refuse(QStringLiteral("the password is refused: it is longer than the 65,535 bytes "
                                  "MQTT allows"));
            return;
        }
        code = mosquitto_username_pw_set(client, user.constData(),
                                         password.isEmpty() ? nullptr : password.constData());
        if (code != MOSQ_ERR_SUCCESS) {
            refuse(QStringLiteral("the user name or password is refused: %1")
                       .arg(failureText(code, errno)));
            return;
        }
    }
    if (!settings.caFile.isEmpty()) {
        // The library says no more than "Invalid function arguments provided" for a file it
        // cannot read, and reads the certificates only when it connects.
        const QFileInfo caInfo(settings.caFile);
        QFile caFile(settings.caFile);
        if (!caInfo.exists()) {
            refuse(QStringLiteral("CA file not found: %1").arg(settings.caFile));
            return;
        }
        if (caInfo.isDir()) {
            refuse(QStringLiteral("CA file is a folder: %1").arg(settings.caFile));
            return;
        }
        if (!caFile.open(QIODevice::ReadOnly)) {
            refuse(QStringLiteral("CA file cannot be read: %1: %2")
                       .arg(settings.caFile, caFile.errorString()));
            return;
        }
        caFile.close();
        const QByteArray caPath = QFile::encodeName(settings.caFile);
        code = mosquitto_tls_set(client, caPath.constData(), nullptr, nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            refuse(QStringLiteral("TLS: cannot use the CA file %1: %2")
                       .arg(settings.caFile, failureText(code, errno)));
            return;
        }
#ifdef BRELK_MQTT_OPENSSL
        QString unusable;
        SSL_CTX *context = tlsContext(caPath, settings.host, &failure, &unusable);
        if (!unusable.isEmpty()) {
            refuse(QStringLiteral("CA file holds no certificate that can be used: %1: %2")
                       .arg(settings.caFile, unusable));
            return;
        }
        if (context) {
            // The client takes a reference of its own, and uses the context as it is (by default
            // the library would set it up as its own, with its check of the host name); without
            // a context of ours the library sets up its own.
            if (mosquitto_void_option(client, MOSQ_OPT_SSL_CTX, context) == MOSQ_ERR_SUCCESS)
                mosquitto_int_option(client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
            SSL_CTX_free(context);
        }
#endif
    }

    // Blocks while the host name resolves and the socket connects.
    errno = 0;
    code = mosquitto_connect(client, settings.host.toUtf8().constData(), settings.port,
                             KeepAliveSeconds);
    const int savedErrno = errno;
    if (stopRequested) {
        closeSession();
        return;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        // A handshake that failed at once has said why (see noteTlsAlert).
        dropSession(failure.isEmpty() ? failureText(code, savedErrno) : failure);
        return;
    }
    sinceConnect.start();
    loopTimer->start();
    const int socket = mosquitto_socket(client);
    if (socket >= 0) {
        incoming = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        connect(incoming, &QSocketNotifier::activated, this, &MqttWorker::loopOnce);
    }
}

void MqttWorker::loopOnce()
{
    if (!client)
        return;
    const int code = mosquitto_loop(client, 0, 1);
    if (!failure.isEmpty()) {
        dropSession(failure);
    } else if (code != MOSQ_ERR_SUCCESS) {
        dropSession(failureText(code, errno));
    } else if (!connackSeen && sinceConnect.elapsed() > KeepAliveSeconds * 1000) {
        dropSession(QStringLiteral("the broker does not answer"));
    }
}

void MqttWorker::onConnect(mosquitto *client, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    worker->connackSeen = true;
    if (code != 0) {
        worker->failure = connackText(code);
        return;
    }
    // Connected only once the broker has taken every message; a refusal is acted upon when the
    // loop has returned.
    if (!worker->send(QLatin1String(StatusTopic), QByteArray(Online)))
        return;
    for (auto it = worker->retained.cbegin(); it != worker->retained.cend(); ++it) {
        if (!worker->send(it.key(), it.value()))
            return;
    }
    // A clean session forgets subscriptions, so every connection asks again. The module and
    // status topics show another program that publishes under the same prefix; the own
    // messages above are the broker's retained ones by the time these subscriptions are served.
    for (const char *watched :
         {CommandTopics[0], CommandTopics[1], GroupCommandTopics, ModuleTopic, StatusTopic}) {
        const QByteArray topic =
            (worker->settings.topic + QLatin1Char('/') + QLatin1String(watched)).toUtf8();
        const int code = mosquitto_subscribe_v5(client, nullptr, topic.constData(), 1,
                                                MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            worker->failure = QStringLiteral("subscribing to %1 is refused: %2")
                                  .arg(QString::fromUtf8(topic), failureText(code, errno));
            return;
        }
    }
    // A prefix that leaves no room for it goes without history requests, not without a
    // connection.
    const QByteArray historyTopic =
        (worker->settings.topic + QLatin1Char('/') + QLatin1String(HistoryTopic)).toUtf8();
    if (historyTopic.size() <= LongestTopic) {
        const int code =
            mosquitto_subscribe_v5(client, nullptr, historyTopic.constData(), 1, 0, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            worker->failure = QStringLiteral("subscribing to %1 is refused: %2")
                                  .arg(QString::fromUtf8(historyTopic), failureText(code, errno));
            return;
        }
    }
    worker->backoff.reset();
    worker->liveConnection = ++worker->connections;
    worker->setState(MqttState::Connected, QString());
}

void MqttWorker::onDisconnect(mosquitto *, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    if (!worker->stopping && worker->failure.isEmpty())
        worker->failure = QStringLiteral("connection lost: %1").arg(failureText(code, errno));
}

void MqttWorker::onPublish(mosquitto *, void *object, int messageId)
{
    static_cast<MqttWorker *>(object)->ackedMessageId = messageId;
}

void MqttWorker::onMessage(mosquitto *, void *object, const mosquitto_message *message,
                           const mosquitto_property *properties)
{
    auto *worker = static_cast<MqttWorker *>(object);
    const qint64 receivedMs = monotonicMs();
    const QString topic = QString::fromUtf8(message->topic);
    const QString prefix = worker->settings.topic + QLatin1Char('/');
    if (!topic.startsWith(prefix))
        return;
    const QString subtopic = topic.mid(prefix.size());
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool command = subtopic == QLatin1String(CommandTopics[0]) ||
                         subtopic == QLatin1String(CommandTopics[1]) ||
                         !groupOfCommandTopic(subtopic).isEmpty();
    if (command)
        emit worker->commandArrived(subtopic, payload, message->retain, worker->liveConnection,
                                    receivedMs);
    if (subtopic == QLatin1String(HistoryTopic)) {
        // Retained, it was asked before this connection by someone who may be gone.
        if (message->retain)
            return;
        char *responseTopic = nullptr;
        void *correlation = nullptr;
        uint16_t correlationLength = 0;
        mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false);
        mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                       &correlationLength, false);
        emit worker->historyRequested(
            payload, QByteArray(responseTopic),
            QByteArray(static_cast<const char *>(correlation), correlationLength));
        free(responseTopic);
        free(correlation);
    } else if (subtopic == QLatin1String(ModuleTopic)) {
        emit worker->moduleMessageSeen(payload);
    } else if (subtopic == QLatin1String(StatusTopic) && payload == Offline &&
               worker->state == MqttState::Connected && !worker->stopping &&
               !worker->stopRequested) {
        // The other program's last will or its stop took the prefix's status with it.
        worker->send(QLatin1String(StatusTopic), QByteArray(Online));
        const auto description = worker->retained.constFind(QLatin1String(ModuleTopic));
        if (description != worker->retained.cend())
            worker->send(description.key(), description.value());
        emit worker->offlineSeen();
    }
}

void MqttWorker::dropSession(const QString &reason)
{
    closeSession();
    if (stopping || stopRequested)
        return;
    const int delay = backoff.nextDelayMs();
    qDebug().noquote() << QStringLiteral("MQTT: %1:%2: %3; retrying in %4 s")
                              .arg(settings.host)
                              .arg(settings.port)
                              .arg(reason)
                              .arg(delay / 1000);
    setState(MqttState::Retrying, reason);
    retryTimer->start(delay);
}

void MqttWorker::closeSession()
{
    liveConnection = 0;
    if (loopTimer)
        loopTimer->stop();
    if (incoming) {
        // Possibly called from the notifier's own signal.
        incoming->setEnabled(false);
        incoming->deleteLater();
        incoming = nullptr;
    }
    if (client) {
        mosquitto_destroy(client);
        client = nullptr;
    }
    if (state == MqttState::Connected)
        state = MqttState::Retrying;
}

void MqttWorker::setState(MqttState newState, const QString &error)
{
    state = newState;
    if (!stopRequested)
        emit stateChanged(int(newState), error);
}

bool MqttWorker::send(const QString &subtopic, const QByteArray &payload, int *messageId,
                      bool retain)
{
    const QByteArray topic = (settings.topic + QLatin1Char('/') + subtopic).toUtf8();
    const int code = mosquitto_publish(client, messageId, topic.constData(), int(payload.size()),
                                       payload.constData(), 1, retain);
    if (code == MOSQ_ERR_SUCCESS)
        return true;
    if (failure.isEmpty()) {
        failure = QStringLiteral("publishing on %1 is refused: %2")
                      .arg(QString::fromUtf8(topic), failureText(code, errno));
    }
    return false;
}

} // namespace Brelk
