#include "simserver.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "faultplan.h"
#include "frametrace.h"
#include "linelock.h"
#include "rtuframer.h"
#include "simline.h"
#include "simtap.h"
#include "systemerror.h"
#include "termiosline.h"

static_assert(std::atomic<bool>::is_always_lock_free, "requestStop() runs in signal handlers");

namespace {

timespec toTimespec(qint64 ns)
{
    if (ns < 0)
        ns = 0;
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

} // namespace

SimServer::SimServer(SimLine *line) : m_line(line)
{
}

SimServer::~SimServer()
{
    close();
}

QString SimServer::errorString() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

void SimServer::setError(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_error = text;
}

bool SimServer::fail(const QString &text)
{
    setError(text);
    closeAll();
    return false;
}

void SimServer::close()
{
    stop();
    closeAll();
    m_stopping = false; // the stop was for this line, not the next one
}

void SimServer::closeAll()
{
    if (m_claimed)
        releaseLine(m_fd);
    m_claimed = false;
    for (int *fd : {&m_fd, &m_keepOpenFd, &m_listenFd, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool SimServer::openPty(const LineSettings &settings)
{
    close();
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return fail(systemError("cannot open a pseudo-terminal"));
    m_fd = master;
    m_keepOpenFd = slave;
    // Raw before anything is written, or the line discipline echoes and
    // translates bytes.
    QString error;
    if (!configureTerminal(slave, settings, &error))
        return fail(error);
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail(systemError("cannot name the pseudo-terminal"));
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(systemError("cannot make a pipe"));
    m_path = QString::fromLocal8Bit(name);
    m_settings = settings;
    m_realDevice = false;
    return true;
}

bool SimServer::openDevice(const QString &path, const LineSettings &settings)
{
    close();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 && errno == EBUSY)
        return fail(lineInUseText(path));
    if (m_fd < 0)
        return fail(systemError("cannot open %1", path));
    const QString notALine = whyNotALine(m_fd);
    if (!notALine.isEmpty())
        return fail(path + QLatin1Char(' ') + notALine);
    QString error;
    if (!claimLine(m_fd, path, &error))
        return fail(error);
    m_claimed = true;
    if (!configureTerminal(m_fd, settings, &error))
        return fail(QStringLiteral("%1: %2").arg(path, error));
    if (settings.mode == LineSettings::RS485 && setKernelRs485(m_fd, true, &error) == Rs485Support::Failed) {
        return fail(QStringLiteral("%1: %2").arg(path, error));
    }
    if (pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(systemError("cannot make a pipe"));
    tcflush(m_fd, TCIOFLUSH);
    m_path = path;
    m_settings = settings;
    m_realDevice = true;
    return true;
}

bool SimServer::start()
{
    if ((m_fd < 0 && m_listenFd < 0) || m_thread.joinable())
        return false;
    char drained[16];
    while (::read(m_stopPipe[0], drained, sizeof drained) > 0) {
    }
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimServer::stop()
{
    requestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void SimServer::requestStop()
{
    m_stopping = true;
    if (m_stopPipe[1] >= 0) {
        const char byte = 0;
        ssize_t ignored = ::write(m_stopPipe[1], &byte, 1);
        (void)ignored;
    }
}

// Sleeps until the deadline; false when asked to stop meanwhile.
bool SimServer::waitUntil(qint64 deadlineNs)
{
    for (;;) {
        if (m_stopping)
            return false;
        const qint64 remaining = deadlineNs - monotonicNs();
        if (remaining <= 0)
            return true;
        // With a tap, what the master sends meanwhile is on the line now:
        // the tap hears it at once, the drives once they are done.
        pollfd fds[2] = {{m_stopPipe[0], POLLIN, 0}, {m_fd, POLLIN, 0}};
        const timespec ts = toTimespec(remaining);
        if (ppoll(fds, m_tap ? 2 : 1, &ts, nullptr) > 0) {
            if (fds[0].revents)
                return false;
            if (!(fds[1].revents & POLLIN))
                return false;
            char chunk[512];
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n > 0) {
                m_tap->hear(chunk, int(n));
                m_heardMeanwhile.append(chunk, int(n));
            }
        }
    }
}

bool SimServer::writeAnswer(const QByteArray &frame, bool onLine)
{
    const qint64 charNs = m_settings.characterTimeNs();
    const qint64 start = monotonicNs();
    // The tap hears the frame whole as it begins: a pseudo-terminal keeps no
    // timing inside a frame, and a stall of ours must not split it there.
    if (m_tap && onLine)
        m_tap->hear(frame.constData(), frame.size());
    int written = 0;
    while (written < frame.size()) {
        int due = frame.size();
        if (m_pacing) {
            // A character is there once its stop bits are: one character time after it began.
            due = int(qMin<qint64>(frame.size(), (monotonicNs() - start) / charNs));
            if (due <= written) {
                if (!waitUntil(start + qint64(written + 1) * charNs))
                    return false;
                continue;
            }
        }
        const long n = writeLine(frame.constData() + written, due - written);
        if (n > 0) {
            written += int(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd = {m_fd, POLLOUT, 0};
            poll(&pfd, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    if (m_realDevice)
        tcdrain(m_fd);
    return true;
}

void SimServer::handle(const QByteArray &frame)
{
    const qint64 heard = monotonicNs();
    if (m_trace) {
        m_trace->received(frame.constData(), frame.size());
        m_trace->flush();
    }
    if (m_echo) {
        ++m_echoed;
        if (m_trace)
            m_trace->note(QStringLiteral("echoed"));
    }
    if (!heardAtOurBaudRate())
        return;
    const SimAnswer answer = m_line->process(frame);
    if (m_trace && answer.fault != FaultPlan::None)
        m_trace->note(QStringLiteral("fault: %1").arg(QLatin1String(FaultPlan::name(answer.fault))));
    if (answer.frame.isEmpty())
        return;
    qint64 sendAt = heard + qint64(answer.delayMs) * 1000000;
    if (m_pacing || m_realDevice)
        sendAt += m_settings.silentIntervalNs();
    // A pseudo-terminal hands the request over at once; on a real line its
    // last byte comes its characters' time after the first.
    if (m_pacing && !m_realDevice)
        sendAt += qint64(frame.size()) * m_settings.characterTimeNs();
    if (!answer.noiseBefore.isEmpty()) {
        if (!waitUntil(sendAt) || !writeAnswer(answer.noiseBefore))
            return;
        if (m_trace)
            m_trace->sent(answer.noiseBefore.constData(), answer.noiseBefore.size());
        sendAt = monotonicNs() + m_settings.silentIntervalNs();
    }
    if (!waitUntil(sendAt))
        return;
    if (!writeAnswer(answer.frame))
        return;
    if (m_trace)
        m_trace->sent(answer.frame.constData(), answer.frame.size());
    if (answer.fault != FaultPlan::Twice)
        return;
    // Heard requests wait meanwhile: a drive answers in order.
    if (m_pacing || m_realDevice) {
        const qint64 again = monotonicNs() + qint64(answer.frame.size()) * m_settings.characterTimeNs()
                             + m_settings.silentIntervalNs();
        if (!waitUntil(again))
            return;
    }
    if (writeAnswer(answer.frame) && m_trace)
        m_trace->sent(answer.frame.constData(), answer.frame.size());
}

// A pseudo-terminal keeps the baud rate its master side's program set, as
// a UART at another rate samples garbage: the drives make nothing of such a
// request and stay silent. A real device's UART does this for itself.
bool SimServer::heardAtOurBaudRate()
{
    if (m_realDevice)
        return true;
    const int baud = terminalBaudRate(m_fd);
    if (baud == 0 || baud == m_settings.baudRate)
        return true;
    m_line->countOtherBaud();
    if (m_trace) {
        m_trace
            ->note(QStringLiteral("sent at %1 baud, the drives are at %2: not understood").arg(baud).arg(m_settings.baudRate));
    }
    return false;
}

bool SimServer::run()
{
    if (m_fd < 0 && m_listenFd < 0) {
        setError(QStringLiteral("the simulated line is not open"));
        return false;
    }
    RtuFramer framer;
    qint64 lastByteNs = 0;
    qint64 discardedSeen = 0;
    char chunk[512];
    while (!m_stopping) {
        timespec ts;
        timespec *timeout = nullptr;
        if (framer.hasPending()) {
            const qint64 remaining = lastByteNs + m_settings.silentIntervalNs() - monotonicNs();
            if (remaining <= 0) {
                const QByteArray rest = framer.takeAtSilence();
                handle(rest); // noise is counted as a bad frame
                continue;
            }
            ts = toTimespec(remaining);
            timeout = &ts;
        }
        if (!m_heardMeanwhile.isEmpty()) {
            const QByteArray heard = m_heardMeanwhile;
            m_heardMeanwhile.clear();
            lastByteNs = monotonicNs();
            framer.append(heard.constData(), heard.size());
            QByteArray frame;
            while (framer.takeFrame(&frame))
                handle(frame);
            continue;
        }
        // Without a master on TCP, m_fd is -1 and poll() passes it over.
        pollfd fds[3] = {{m_fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        const int ready = ppoll(fds, m_listenFd >= 0 ? 3 : 2, timeout, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            setError(systemError("waiting on %1", m_path));
            return false;
        }
        if (fds[1].revents)
            break;
        if (m_listenFd >= 0 && fds[2].revents)
            acceptMasters();
        if ((fds[0].revents & POLLIN) || (m_listenFd >= 0 && fds[0].revents)) {
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            // A master that leaves makes room for the next; its unfinished
            // frame goes with it.
            if (m_listenFd >= 0 && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))) {
                masterLeft();
                framer = RtuFramer();
                discardedSeen = 0;
                continue;
            }
            if (n > 0) {
                // The adapter hands every byte back as it goes out; the
                // answer then waits its silent interval after the echo.
                if (m_tap)
                    m_tap->hear(chunk, int(n));
                if (m_echo)
                    writeAnswer(QByteArray(chunk, int(n)), false);
                lastByteNs = monotonicNs();
                framer.append(chunk, int(n));
                QByteArray frame;
                while (framer.takeFrame(&frame))
                    handle(frame);
                if (m_trace && framer.discarded() != discardedSeen) {
                    m_trace->note(QStringLiteral("skipped %1 bytes of noise").arg(framer.discarded() - discardedSeen));
                    discardedSeen = framer.discarded();
                }
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            setError(QStringLiteral("%1 was closed").arg(m_path));
            return false;
        }
    }
    return true;
}
