#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Port 0 picks a free one, written back to `port`.
int listenOnLoopback(quint16 *port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(*port);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

quint16 freePort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(&port, 1);
    ::close(fd);
    return port;
}

bool connectToLoopback(int fd, quint16 port)
{
    const sockaddr_in address = loopback(port);
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

HungListener::HungListener()
{
    listener = listenOnLoopback(&port, 0);
    filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    filled = listener >= 0 && connectToLoopback(filler, port);
}

HungListener::~HungListener()
{
    ::close(filler);
    ::close(listener);
}
