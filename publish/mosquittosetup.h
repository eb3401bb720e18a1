// What every libmosquitto client of the program sets up the same way: the library's one-time
// initialisation, the account and TLS of the broker settings, and why a library call or a
// connection failed, in words an operator can act on.
#ifndef MOSQUITTOSETUP_H
#define MOSQUITTOSETUP_H

#include "settings.h"

#include <QString>

#include <functional>

struct mosquitto;
class QObject;
class QSocketNotifier;
class QTimer;

namespace Brelk {

// MOSQ_ERR_SUCCESS, or why the library could not be set up; the set up happens once per process.
int initMosquittoLibrary();

// Why a libmosquitto call failed; `savedErrno` explains MOSQ_ERR_ERRNO.
QString mosquittoFailureText(int code, int savedErrno);

// Why the broker refused the connection. MQTT 5 reason codes, in the words of the 3.1.1 return
// codes where there is one, so that a refusal reads the same whatever the broker speaks.
QString mosquittoConnackText(int code);

// A new client of MQTT 5 (reason codes, properties, the retained flag as MQTT 5 has it) with
// Nagle's algorithm off, calling back with `object`; null, with why in `*problem`, when the library
// cannot be set up or cannot make one.
mosquitto *newMqtt5Client(const QString &clientId, void *object, QString *problem);

// Writes the debug line "MQTT: <host>:<port>: <text>".
void debugMqtt(const MqttSettings &settings, const QString &text);

// Serves the connection `client` has just opened, on `owner`'s thread: `loopTimer` runs, and
// `loop` runs as soon as the broker sends something. The notifier returned is `owner`'s child.
QSocketNotifier *watchMqttSocket(mosquitto *client, QTimer *loopTimer, QObject *owner,
                                 const std::function<void()> &loop);

// Stops serving a connection and destroys its client; each may be null. It may be called from
// the notifier's own signal.
void closeMqttClient(mosquitto **client, QSocketNotifier **incoming, QTimer *loopTimer);

// Sets the user name, password and CA file of `settings` on `client`. Empty when the library took
// them; else why they cannot be used, which would be refused again on a retry. When a TLS
// handshake fails later, why it failed is written to `*tlsFailure` (if it is still empty), from
// the thread that runs the client's network loop; it must live as long as the client.
QString applyMqttAccount(mosquitto *client, const MqttSettings &settings, QString *tlsFailure);

} // namespace Brelk

#endif // MOSQUITTOSETUP_H
