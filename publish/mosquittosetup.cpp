#include "mosquittosetup.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
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

} // namespace

int initMosquittoLibrary()
{
    static std::once_flag once;
    static int code = MOSQ_ERR_SUCCESS;
    std::call_once(once, [] { code = mosquitto_lib_init(); });
    return code;
}

QString mosquittoFailureText(int code, int savedErrno)
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

QString mosquittoConnackText(int code)
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

mosquitto *newMqtt5Client(const QString &clientId, void *object, QString *problem)
{
    const int initCode = initMosquittoLibrary();
    if (initCode != MOSQ_ERR_SUCCESS) {
        *problem = QStringLiteral("could not set up the MQTT library: %1")
                       .arg(mosquittoFailureText(initCode, errno));
        return nullptr;
    }
    mosquitto *client = mosquitto_new(clientId.toUtf8().constData(), true, object);
    if (!client) {
        *problem = QStringLiteral("could not create the client: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A message that follows another at once, as an answer follows the acknowledgement of its
    // command, goes out at once; without this the kernel holds it back until the broker
    // acknowledges the first (tens of milliseconds).
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    return client;
}

void debugMqtt(const MqttSettings &settings, const QString &text)
{
    qDebug().noquote()
        << QStringLiteral("MQTT: %1:%2: %3").arg(settings.host).arg(settings.port).arg(text);
}

QSocketNotifier *watchMqttSocket(mosquitto *client, QTimer *loopTimer, QObject *owner,
                                 const std::function<void()> &loop)
{
    loopTimer->start();
    const int socket = mosquitto_socket(client);
    if (socket < 0)
        return nullptr;
    auto *incoming = new QSocketNotifier(socket, QSocketNotifier::Read, owner);
    QObject::connect(incoming, &QSocketNotifier::activated, owner, loop);
    return incoming;
}

void closeMqttClient(mosquitto **client, QSocketNotifier **incoming, QTimer *loopTimer)
{
    if (loopTimer)
        loopTimer->stop();
    if (*incoming) {
        (*incoming)->setEnabled(false);
        (*incoming)->deleteLater();
        *incoming = nullptr;
    }
    if (*client) {
        mosquitto_destroy(*client);
        *client = nullptr;
    }
}

QString applyMqttAccount(mosquitto *client, const MqttSettings &settings, QString *tlsFailure)
{
    int code = MOSQ_ERR_SUCCESS;
    if (!settings.user.isEmpty()) {
        const QByteArray user = settings.user.toUtf8();
        const QByteArray password = settings.password.toUtf8();
        // MQTT gives each a length of two bytes.
        if (user.size() > 65535) {
            return QStringLiteral("the user name is refused: it is longer than the 65,535 bytes "
                                  "MQTT allows");
        }
        if (password.size() > 65535) {
            return QStringLiteral("the password is refused: it is longer than the 65,535 bytes "
                                  "MQTT allows");
        }
        code = mosquitto_username_pw_set(client, user.constData(),
                                         password.isEmpty() ? nullptr : password.constData());
        if (code != MOSQ_ERR_SUCCESS) {
            return QStringLiteral("the user name or password is refused: %1")
                .arg(mosquittoFailureText(code, errno));
        }
    }
    if (!settings.caFile.isEmpty()) {
        // The library says no more than "Invalid function arguments provided" for a file it
        // cannot read, and reads the certificates only when it connects.
        const QFileInfo caInfo(settings.caFile);
        QFile caFile(settings.caFile);
        if (!caInfo.exists())
            return QStringLiteral("CA file not found: %1").arg(settings.caFile);
        if (caInfo.isDir())
            return QStringLiteral("CA file is a folder: %1").arg(settings.caFile);
        if (!caFile.open(QIODevice::ReadOnly)) {
            return QStringLiteral("CA file cannot be read: %1: %2")
                .arg(settings.caFile, caFile.errorString());
        }
        caFile.close();
        const QByteArray caPath = QFile::encodeName(settings.caFile);
        code = mosquitto_tls_set(client, caPath.constData(), nullptr, nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            return QStringLiteral("TLS: cannot use the CA file %1: %2")
                .arg(settings.caFile, mosquittoFailureText(code, errno));
        }
#ifdef BRELK_MQTT_OPENSSL
        QString unusable;
        SSL_CTX *context = tlsContext(caPath, settings.host, tlsFailure, &unusable);
        if (!unusable.isEmpty()) {
            return QStringLiteral("CA file holds no certificate that can be used: %1: %2")
                .arg(settings.caFile, unusable);
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
    return QString();
}

} // namespace Brelk
