#include "simserver.h"

// The simulated line over TCP: one master at a time, as on a line.

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "systemerror.h"
#include "tcpline.h"

namespace {

QString peerName(const sockaddr_storage &peer, socklen_t size)
{
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&peer), size, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV)
        != 0)
        return QStringLiteral("an unknown address");
    const QString shownHost = QString::fromLatin1(host);
    return (shownHost.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(shownHost) : shownHost)
           + QLatin1Char(':') + QLatin1String(port);
}

void say(const QString &text)
{
    std::fprintf(stderr, "servosim: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

bool SimServer::openTcp(const TcpAddress &address, const LineSettings &settings)
{
    close();
    TcpAddress bound = address;
    QString error;
    m_listenFd = listenTcp(&bound, &error);
    if (m_listenFd < 0)
        return fail(error);
    if (pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(systemError("cannot make a pipe"));
    m_path = bound.url();
    m_settings = settings;
    m_realDevice = false;
    return true;
}

// Takes every connection waiting: the first master while none is served,
// the others closed at once, before a byte is read from them.
void SimServer::acceptMasters()
{
    for (;;) {
        sockaddr_storage peer = {};
        socklen_t size = sizeof peer;
        const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN: none left; anything else: the next poll retries
        const QString name = peerName(peer, size);
        if (m_fd >= 0) {
            ::close(fd);
            say(QStringLiteral("a second master (%1) on %2 refused: the line has one master (%3)").arg(name, m_path, m_master));
            continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_fd = fd;
        m_master = name;
        say(QStringLiteral("master %1 connected").arg(name));
    }
}

void SimServer::masterLeft()
{
    say(QStringLiteral("master %1 left").arg(m_master));
    ::close(m_fd);
    m_fd = -1;
    m_master.clear();
}

long SimServer::writeLine(const char *data, long length)
{
    if (m_listenFd >= 0)
        return sendToSocket(m_fd, data, length);
    return long(::write(m_fd, data, size_t(length)));
}
