// A datagram socket standing in for systemd's notification socket: bound at a path that a test
// hands the service as NOTIFY_SOCKET, it keeps what the service sends.
#ifndef NOTIFYSOCKET_H
#define NOTIFYSOCKET_H

#include <QByteArray>
#include <QList>
#include <QString>

class NotifySocket
{
public:
    explicit NotifySocket(const QString &path);
    ~NotifySocket();
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    bool isBound() const { return bound; }
    // Every datagram that arrived since the last call.
    QList<QByteArray> received();

private:
    int descriptor = -1;
    bool bound = false;
};

#endif // NOTIFYSOCKET_H
