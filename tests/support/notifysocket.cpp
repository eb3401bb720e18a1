#include "notifysocket.h"

#include <QFile>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

NotifySocket::NotifySocket(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    descriptor = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bound = descriptor >= 0 &&
            bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

NotifySocket::~NotifySocket()
{
    if (descriptor >= 0)
        close(descriptor);
}

QList<QByteArray> NotifySocket::received()
{
    QList<QByteArray> datagrams;
    char buffer[4096];
    for (;;) {
        const ssize_t size = recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size < 0)
            break;
        datagrams << QByteArray(buffer, int(size));
    }
    return datagrams;
}
