#include "linelistener.h"

#include <cerrno>
#include <ctime>

#include <poll.h>
#include <unistd.h>

#include "termiosline.h"

LineListener::LineListener(int fd, const LineSettings &settings, bool wholeFrames, int wakeFd)
    : m_fd(fd), m_wakeFd(wakeFd), m_framer(settings.characterTimeNs(), settings.silentIntervalNs(), wholeFrames)
{
}

LineListener::End LineListener::listen(qint64 untilNs, QList<HeardFrame> *frames)
{
    qint64 deadline = untilNs;
    if (m_framer.deadlineNs() >= 0 && (deadline < 0 || m_framer.deadlineNs() < deadline))
        deadline = m_framer.deadlineNs();
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    timespec wait{0, 0};
    if (deadline >= 0) {
        const qint64 waitNs = qMax<qint64>(deadline - monotonicNs(), 0);
        wait = timespec{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
    }
    const int ready = ppoll(fds, m_wakeFd >= 0 ? 2 : 1, deadline >= 0 ? &wait : nullptr, nullptr);
    if (ready < 0 && errno != EINTR)
        return End::Failed;
    bool lost = false;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        char chunk[4096];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0)
            m_framer.append(chunk, int(n), monotonicNs(), frames);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            lost = true;
    } else if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        lost = true;
    }
    m_framer.takeAtSilence(monotonicNs(), frames);
    return lost ? End::Lost : End::Listened;
}

void LineListener::finish(QList<HeardFrame> *frames)
{
    m_framer.takeAtSilence(0, frames, true);
}
