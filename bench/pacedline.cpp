#include "pacedline.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "rtuframer.h"
#include "simline.h"
#include "termiosline.h"

namespace {

void writeAll(int fd, const char *data, int length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, size_t(length));
        if (n > 0) {
            data += n;
            length -= int(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd = {fd, POLLOUT, 0};
            poll(&pfd, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
}

} // namespace

PacedLine::PacedLine(SimLine *line) : m_line(line)
{
}

PacedLine::~PacedLine()
{
    stop();
    for (int fd : {m_master, m_slave, m_stopPipe[0], m_stopPipe[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool PacedLine::open(const LineSettings &settings, bool paced, qint64 turnaroundNs)
{
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        m_error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!configureTerminal(m_slave, settings, &m_error))
        return false;
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0 || pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
    m_settings = settings;
    m_paced = paced;
    m_turnaroundNs = turnaroundNs;
    m_charNs = settings.characterTimeNs();
    return true;
}

bool PacedLine::start()
{
    if (m_master < 0 || m_thread.joinable())
        return false;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    // A real-time thread is never kept waiting by the other work of the
    // machine; without the privilege the line still works, less exactly.
    sched_param param;
    param.sched_priority = 50;
    m_realTime = pthread_setschedparam(m_thread.native_handle(), SCHED_FIFO, &param) == 0;
    return true;
}

void PacedLine::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const char byte = 0;
    ssize_t ignored = ::write(m_stopPipe[1], &byte, 1);
    (void)ignored;
    m_thread.join();
}

PacedLine::Gaps PacedLine::takeGaps()
{
    std::lock_guard<std::mutex> lock(m_gapMutex);
    Gaps gaps;
    gaps.count = m_gapCount;
    gaps.meanNs = m_gapCount ? double(m_gapSumNs) / double(m_gapCount) : 0.0;
    gaps.minNs = m_gapMinNs;
    gaps.maxNs = m_gapMaxNs;
    m_gapCount = m_gapSumNs = m_gapMinNs = m_gapMaxNs = 0;
    return gaps;
}

void PacedLine::recordGap(qint64 ns)
{
    std::lock_guard<std::mutex> lock(m_gapMutex);
    if (m_gapCount == 0 || ns < m_gapMinNs)
        m_gapMinNs = ns;
    if (m_gapCount == 0 || ns > m_gapMaxNs)
        m_gapMaxNs = ns;
    ++m_gapCount;
    m_gapSumNs += ns;
}

void PacedLine::run()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    char chunk[512];
    while (!m_stopping) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0)
            serve(chunk, int(n), monotonicNs());
    }
}

void PacedLine::serve(const char *data, int length, qint64 readNs)
{
    if (m_paced) {
        // The characters follow each other on the wire, the first starting
        // when it was written (seen here when read).
        const qint64 startNs = qMax(readNs, m_wireFreeNs);
        if (!m_framer.hasPending() && m_answerEndNs >= 0)
            recordGap(startNs - m_answerEndNs);
        m_wireFreeNs = startNs + qint64(length) * m_charNs;
    }
    m_framer.append(data, length);
    QByteArray frame;
    while (m_framer.takeFrame(&frame)) {
        const SimAnswer reply = m_line->process(frame);
        if (!reply.frame.isEmpty())
            answer(reply.frame, m_paced ? m_wireFreeNs : readNs);
    }
}

void PacedLine::answer(const QByteArray &frame, qint64 heardNs)
{
    if (!m_paced) {
        writeAll(m_master, frame.constData(), frame.size());
        return;
    }
    const qint64 startNs = heardNs + m_turnaroundNs;
    int written = 0;
    while (written < frame.size()) {
        // Character k can be read once its stop bit has passed.
        const qint64 now = monotonicNs();
        const int due = int(qMin<qint64>(frame.size(), (now - startNs) / m_charNs));
        if (due <= written) {
            m_sleeper.sleepUntil(startNs + qint64(written + 1) * m_charNs);
            continue;
        }
        writeAll(m_master, frame.constData() + written, due - written);
        written = due;
    }
    m_answerEndNs = startNs + qint64(frame.size()) * m_charNs;
    m_wireFreeNs = m_answerEndNs;
}
