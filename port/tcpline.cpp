#include "tcpline.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "linelock.h"
#include "systemerror.h"

namespace {

struct AddressList
{
    addrinfo *first = nullptr;
    ~AddressList()
    {
        if (first)
            freeaddrinfo(first);
    }
};

bool resolve(const TcpAddress &address, bool passive, AddressList *list, QString *error)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    const QByteArray host = address.host.toUtf8();
    const QByteArray port = QByteArray::number(address.port);
    const int failed = getaddrinfo(host.constData(), port.constData(), &hints, &list->first);
    if (failed == 0)
        return true;
    *error = QStringLiteral("cannot find %1: %2").arg(address.url(), QString::fromLocal8Bit(gai_strerror(failed)));
    return false;
}

// Waits for a non-blocking connect; 0 when connected, else the errno.
int awaitConnect(int fd, int timeoutMs, int interruptFd)
{
    pollfd fds[2] = {{fd, POLLOUT, 0}, {interruptFd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, interruptFd >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        if (interruptFd >= 0 && fds[1].revents)
            return EINTR;
        int result = 0;
        socklen_t size = sizeof result;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
            return errno;
        return result;
    }
}

QString numericHost(const addrinfo *info)
{
    char host[NI_MAXHOST];
    if (getnameinfo(info->ai_addr, info->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return QString();
    return QString::fromLatin1(host);
}

} // namespace

int connectTcp(const TcpAddress &address, int timeoutMs, int interruptFd, QString *error)
{
    AddressList list;
    if (!resolve(address, false, &list, error))
        return -1;
    int failure = ECONNREFUSED;
    for (const addrinfo *info = list.first; info; info = info->ai_next) {
        const int fd = socket(info->ai_family, info->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info->ai_protocol);
        if (fd < 0) {
            failure = errno;
            continue;
        }
        int result = ::connect(fd, info->ai_addr, info->ai_addrlen) == 0 ? 0 : errno;
        if (result == EINPROGRESS)
            result = awaitConnect(fd, timeoutMs, interruptFd);
        if (result == 0) {
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        ::close(fd);
        if (result == EINTR) {
            *error = QStringLiteral("interrupted");
            return -1;
        }
        failure = result;
    }
    *error = QStringLiteral("cannot connect to %1: %2").arg(address.url(), systemReason(failure));
    return -1;
}

int listenTcp(TcpAddress *address, QString *error)
{
    AddressList list;
    if (!resolve(*address, true, &list, error))
        return -1;
    int failure = EADDRNOTAVAIL;
    for (const addrinfo *info = list.first; info; info = info->ai_next) {
        const int fd = socket(info->ai_family, info->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info->ai_protocol);
        if (fd < 0) {
            failure = errno;
            continue;
        }
        // A simulator restarted at once takes its port back.
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, info->ai_addr, info->ai_addrlen) == 0 && ::listen(fd, 4) == 0) {
            sockaddr_storage bound = {};
            socklen_t size = sizeof bound;
            if (getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &size) == 0) {
                address->port = bound.ss_family == AF_INET6
                                    ? ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
            }
            return fd;
        }
        failure = errno;
        ::close(fd);
    }
    *error = QStringLiteral("cannot listen on %1: %2").arg(address->url(), systemReason(failure));
    return -1;
}

int claimTcpLine(const TcpAddress &address, QString *error)
{
    AddressList list;
    QString ignored;
    // Spellings of one host (localhost, 127.0.0.1) share a lock.
    QString host = resolve(address, false, &list, &ignored) ? numericHost(list.first) : QString();
    if (host.isEmpty())
        host = address.host.toLower();
    const QByteArray name = "teco-servo/modbus-tcp/" + host.toUtf8() + ':' + QByteArray::number(address.port);
    sockaddr_un where = {};
    where.sun_family = AF_UNIX;
    // An abstract name: its first byte is zero, and no file stands for it.
    const int nameLength = qMin(name.size(), int(sizeof where.sun_path) - 1);
    std::memcpy(where.sun_path + 1, name.constData(), size_t(nameLength));
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(nameLength));
    const sockaddr *at = reinterpret_cast<const sockaddr *>(&where);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, at, length) == 0 && ::listen(fd, 4) == 0)
        return fd;
    const int reason = errno;
    if (fd >= 0)
        ::close(fd);
    if (reason != EADDRINUSE) {
        errno = reason;
        *error = systemError("cannot lock %1", address.url());
        return -1;
    }
    // The holder listens: a connection tells who it is.
    QString holder;
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ucred peer = {};
    socklen_t peerSize = sizeof peer;
    if (probe >= 0 && ::connect(probe, at, length) == 0
        && ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 && peer.pid > 0) {
        holder = processText(peer.pid);
    }
    if (probe >= 0)
        ::close(probe);
    *error = holder.isEmpty() ? lineInUseText(address.url())
                              : QStringLiteral("%1 is in use by %2").arg(address.url(), holder);
    return -1;
}

long sendToSocket(int fd, const char *data, long length)
{
    return long(::send(fd, data, size_t(length), MSG_NOSIGNAL));
}
