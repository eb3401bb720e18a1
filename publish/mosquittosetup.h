// What every libmosquitto client of the program sets up the same way: the library's one-time
// initialisation, the account and TLS of the broker settings, and why a library call or a
// connection failed, in words an operator can act on.
#ifndef MOSQUITTOSETUP_H
#define MOSQUITTOSETUP_H

#include "settings.h"

#include <QString>

struct mosquitto;

namespace Brelk {

// MOSQ_ERR_SUCCESS, or why the library could not be set up; the set up happens once per process.
int initMosquittoLibrary();

// Why a libmosquitto call failed; `savedErrno` explains MOSQ_ERR_ERRNO.
QString mosquittoFailureText(int code, int savedErrno);

// Why the broker refused the connection. MQTT 5 reason codes, in the words of the 3.1.1 return
// codes where there is one, so that a refusal reads the same whatever the broker speaks.
QString mosquittoConnackText(int code);

// Sets the user name, password and CA file of `settings` on `client`. Empty when the library took
// them; else why they cannot be used, which would be refused again on a retry. When a TLS
// handshake fails later, why it failed is written to `*tlsFailure` (if it is still empty), from
// the thread that runs the client's network loop; it must live as long as the client.
QString applyMqttAccount(mosquitto *client, const MqttSettings &settings, QString *tlsFailure);

} // namespace Brelk

#endif // MOSQUITTOSETUP_H
