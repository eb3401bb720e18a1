// TCP on 127.0.0.1 for the tests that talk to a broker: a free port, and a listener that never
// answers a connect.
#ifndef LOOPBACK_H
#define LOOPBACK_H

#include <QtGlobal>

// A port nobody listens on at the moment of the call.
quint16 freePort();
bool connectToLoopback(int fd, quint16 port);

// A listener whose one-place queue is full drops further connection requests, so a client's
// connect to it waits for minutes for an answer to its SYN.
class HungListener
{
public:
    HungListener();
    ~HungListener();
    HungListener(const HungListener &) = delete;
    HungListener &operator=(const HungListener &) = delete;

    quint16 port = 0;
    int listener = -1;
    // False when the queue could not be filled: a connect would not hang.
    bool filled = false;

private:
    int filler = -1;
};

#endif // LOOPBACK_H
