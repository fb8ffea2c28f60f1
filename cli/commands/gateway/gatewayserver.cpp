#include "gatewayserver.h"

#include <cerrno>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rtulength.h"
#include "tcpline.h"
#include "termiosline.h"

namespace {

const qint64 kMs = 1000000;
// A client's requests waiting for the line; past it its socket is not read,
// which slows it down through TCP itself, and nothing it sent is dropped.
const size_t kMaxQueued = 4;
// Answers not yet taken by a client that stopped reading: as many again.
const int kMaxUnsent = int(kMaxQueued) * kMaxMbapFrame;
// A frame begun and not completed within this is no frame.
const qint64 kPartialFrameNs = 5000 * kMs;

const int kIllegalFunction = 0x01;
const int kIllegalDataValue = 0x03;
const int kPathUnavailable = 0x0A;
const int kTargetFailed = 0x0B;

bool isWriteFunction(int function)
{
    return function == 5 || function == 6 || function == 15 || function == 16;
}

QString peerText(const sockaddr_storage &address)
{
    char host[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (address.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return QStringLiteral("%1:%2").arg(QLatin1String(host)).arg(port);
    }
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    return QStringLiteral("[%1]:%2").arg(QLatin1String(host)).arg(ntohs(in6->sin6_port));
}

} // namespace

GatewayLine::~GatewayLine() = default;

void gatewayLog(const QString &text)
{
    std::fprintf(stderr, "servoctl: gateway: %s\n", qPrintable(text));
    std::fflush(stderr);
}

struct GatewayServer::Client
{
    int fd = -1;
    QString peer;
    QString closeWhy; // fd -1: why it is to be closed
    MbapReader reader;
    std::deque<Request> queue;
    QByteArray unsent;
    qint64 lastRequestNs = 0;
    qint64 partialSinceNs = -1;
    GatewayTally tally;
};

GatewayServer::GatewayServer(GatewayLine *line, const GatewaySettings &settings)
    : m_line(line), m_settings(settings)
{
}

GatewayServer::~GatewayServer()
{
    while (!m_clients.empty())
        closeClient(m_clients.size() - 1, QStringLiteral("the gateway stops"));
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

bool GatewayServer::listen(QString *error)
{
    m_listenFd = listenTcp(&m_settings.listen, error);
    return m_listenFd >= 0;
}

void GatewayServer::serve(int stopFd, int statsFd)
{
    for (;;) {
        std::vector<pollfd> fds = {{stopFd, POLLIN, 0}, {statsFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (const auto &client : m_clients) {
            short events = 0;
            if (client->queue.size() < kMaxQueued && client->reader.pending() < kMaxMbapFrame
                && client->unsent.size() < kMaxUnsent)
                events |= POLLIN;
            if (!client->unsent.isEmpty())
                events |= POLLOUT;
            fds.push_back(pollfd{client->fd, events, 0});
        }
        const int ready = ::poll(fds.data(), nfds_t(fds.size()), waitMs(monotonicNs()));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (fds[1].revents) {
            char byte;
            while (::read(statsFd, &byte, 1) > 0) {
            }
            for (const QString &line : statsLines())
                std::printf("%s\n", qPrintable(line));
            std::fflush(stdout);
        }
        // From the last: closing a client moves the ones after it.
        for (size_t i = m_clients.size(); i-- > 0;) {
            const short events = fds[i + 3].revents;
            Client &client = *m_clients[i];
            if ((events & POLLOUT) && !writeTo(client)) {
                closeClient(i, QStringLiteral("it stopped taking its answers"));
                continue;
            }
            if (events & (POLLIN | POLLHUP | POLLERR))
                readFrom(client);
            if (client.fd < 0)
                closeClient(i, client.closeWhy);
        }
        if (fds[2].revents)
            accept();
        closeIdle(monotonicNs());
        serveNext();
    }
}

QStringList GatewayServer::statsLines() const
{
    QStringList lines = m_stats.lines();
    for (const auto &client : m_clients)
        lines.append(QStringLiteral("client %1: %2").arg(client->peer, client->tally.text()));
    return lines;
}

// No wait while a request is queued; else until the next idle time-out.
int GatewayServer::waitMs(qint64 nowNs) const
{
    qint64 next = -1;
    for (const auto &client : m_clients) {
        if (!client->queue.empty())
            return 0;
        qint64 at = client->lastRequestNs + qint64(m_settings.idleS) * 1000 * kMs;
        if (client->partialSinceNs >= 0)
            at = qMin(at, client->partialSinceNs + kPartialFrameNs);
        next = next < 0 ? at : qMin(next, at);
    }
    return next < 0 ? -1 : int(qBound<qint64>(0, (next - nowNs) / kMs + 1, 60000));
}

void GatewayServer::accept()
{
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const QString peer = peerText(address);
    if (int(m_clients.size()) >= m_settings.maxClients) {
        ::close(fd);
        gatewayLog(QStringLiteral("%1 refused: %2 clients already (clients N sets how many)")
                       .arg(peer)
                       .arg(m_clients.size()));
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->peer = peer;
    client->lastRequestNs = monotonicNs();
    m_clients.push_back(std::move(client));
    gatewayLog(QStringLiteral("%1 connected (%2 of %3 clients)").arg(peer).arg(m_clients.size()).arg(m_settings.maxClients));
}

void GatewayServer::drop(Client &client, const QString &why)
{
    client.closeWhy = why;
    ::close(client.fd);
    client.fd = -1;
}

// What the client sent, as far as its queue has room; the rest stays in
// the socket. fd -1 when the client is to be closed.
void GatewayServer::readFrom(Client &client)
{
    char buffer[kMaxMbapFrame];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        drop(client, QStringLiteral("by the client"));
        return;
    }
    if (n > 0)
        client.reader.feed(buffer, int(n));
    takeFrames(client);
}

// The whole frames read, into the queue while it has room.
void GatewayServer::takeFrames(Client &client)
{
    MbapFrame frame;
    QString why;
    MbapReader::Status status = MbapReader::Partial;
    while (client.fd >= 0 && client.queue.size() < kMaxQueued
           && (status = client.reader.next(&frame, &why)) != MbapReader::Partial) {
        if (status == MbapReader::Malformed) {
            drop(client, QStringLiteral("not Modbus TCP: %1").arg(why));
            return;
        }
        take(client, frame);
    }
    const bool partial = status == MbapReader::Partial && client.reader.pending() > 0;
    if (!partial)
        client.partialSinceNs = -1;
    else if (client.partialSinceNs < 0)
        client.partialSinceNs = monotonicNs();
}

// A whole frame: refused at once where it cannot go on the line, else queued.
void GatewayServer::take(Client &client, const MbapFrame &frame)
{
    client.lastRequestNs = monotonicNs();
    const QByteArray rtu = rtuFromMbap(frame);
    const int function = quint8(frame.pdu[0]);
    const int length = rtuRequestLength(rtu.constData(), rtu.size());
    if (length <= 0) {
        refuse(client, frame, kIllegalFunction, GatewayTally::Exception, 0);
        return;
    }
    if (length != rtu.size()) {
        drop(client, QStringLiteral("not Modbus TCP: a function %1 request of %2 bytes holds %3")
                         .arg(function)
                         .arg(length - 3)
                         .arg(frame.pdu.size()));
        return;
    }
    if (m_settings.readOnly && isWriteFunction(function)) {
        refuse(client, frame, kIllegalFunction, GatewayTally::Exception, 0);
        return;
    }
    // A read sent to every drive would have them all answer at once.
    if (frame.unit == 0 && !isWriteFunction(function)) {
        refuse(client, frame, kIllegalFunction, GatewayTally::Exception, 0);
        return;
    }
    if (frame.unit != 0 && rtuAnswerLengthFor(rtu.constData(), rtu.size()) == 0) {
        refuse(client, frame, kIllegalDataValue, GatewayTally::Exception, 0);
        return;
    }
    client.queue.push_back(Request{frame, monotonicNs()});
}

// One request of the next client in turn onto the line.
void GatewayServer::serveNext()
{
    for (size_t tried = 0; tried < m_clients.size(); ++tried) {
        const size_t index = (m_turn + tried) % m_clients.size();
        Client &client = *m_clients[index];
        if (client.queue.empty())
            continue;
        m_turn = index + 1;
        const Request request = client.queue.front();
        client.queue.pop_front();
        const qint64 waitNs = monotonicNs() - request.queuedNs;
        answer(client, request, m_line->transact(rtuFromMbap(request.frame)), waitNs);
        if (!writeTo(client)) {
            closeClient(index, QStringLiteral("it stopped taking its answers"));
            return;
        }
        takeFrames(client);
        if (client.fd < 0)
            closeClient(index, client.closeWhy);
        return;
    }
}

// What the line's outcome gives the client: the answer, an exception, or
// nothing for a broadcast, whatever became of it.
void GatewayServer::answer(Client &client, const Request &request, const GatewayLine::Outcome &outcome, qint64 waitNs)
{
    if (request.frame.unit == 0) {
        const bool sent = outcome.kind == GatewayLine::Outcome::Sent;
        for (GatewayTally *tally : {&client.tally, &m_stats.station(0), &m_stats.total()})
            tally->add(sent ? GatewayTally::Broadcast : GatewayTally::Exception, sent ? 0 : kPathUnavailable, waitNs);
        return;
    }
    switch (outcome.kind) {
    case GatewayLine::Outcome::Answer: {
        const QByteArray pdu = outcome.rtu.mid(1, outcome.rtu.size() - 3);
        const bool exception = quint8(pdu[0]) & 0x80;
        const int code = exception && pdu.size() > 1 ? quint8(pdu[1]) : 0;
        for (GatewayTally *tally : {&client.tally, &m_stats.station(request.frame.unit), &m_stats.total()})
            tally->add(exception ? GatewayTally::Exception : GatewayTally::Answered, code, waitNs);
        reply(client, request.frame, pdu);
        break;
    }
    case GatewayLine::Outcome::Sent:
        break;
    case GatewayLine::Outcome::Gone:
        refuse(client, request.frame, kPathUnavailable, GatewayTally::Exception, waitNs);
        break;
    case GatewayLine::Outcome::Uncertain:
        refuse(client, request.frame, kTargetFailed, GatewayTally::Uncertain, waitNs);
        break;
    case GatewayLine::Outcome::NoAnswer:
        refuse(client, request.frame, kTargetFailed, GatewayTally::TimedOut, waitNs);
        break;
    }
}

void GatewayServer::refuse(Client &client, const MbapFrame &request, int code, GatewayTally::End end, qint64 waitNs)
{
    for (GatewayTally *tally : {&client.tally, &m_stats.station(request.unit), &m_stats.total()})
        tally->add(end, code, waitNs);
    QByteArray pdu;
    pdu.append(char(quint8(request.pdu[0]) | 0x80));
    pdu.append(char(code));
    reply(client, request, pdu);
}

void GatewayServer::reply(Client &client, const MbapFrame &request, const QByteArray &pdu)
{
    client.unsent += mbapBytes(MbapFrame{request.transaction, request.unit, pdu});
}

// False when the client's socket failed.
bool GatewayServer::writeTo(Client &client)
{
    while (client.fd >= 0 && !client.unsent.isEmpty()) {
        const long n = sendToSocket(client.fd, client.unsent.constData(), client.unsent.size());
        if (n > 0) {
            client.unsent.remove(0, int(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    return true;
}

void GatewayServer::closeIdle(qint64 nowNs)
{
    for (size_t i = m_clients.size(); i-- > 0;) {
        const Client &client = *m_clients[i];
        if (client.partialSinceNs >= 0 && nowNs - client.partialSinceNs >= kPartialFrameNs)
            closeClient(i, QStringLiteral("a frame begun %1 s ago never completed").arg(kPartialFrameNs / 1000 / kMs));
        else if (client.queue.empty() && nowNs - client.lastRequestNs >= qint64(m_settings.idleS) * 1000 * kMs)
            closeClient(i, QStringLiteral("idle for %1 s").arg(m_settings.idleS));
    }
}

void GatewayServer::closeClient(size_t index, const QString &why)
{
    std::unique_ptr<Client> client = std::move(m_clients[index]);
    m_clients.erase(m_clients.begin() + long(index));
    if (client->fd >= 0)
        ::close(client->fd);
    if (m_turn > index)
        --m_turn;
    gatewayLog(QStringLiteral("%1 closed (%2): %3").arg(client->peer, why, client->tally.text()));
}
