#include "serialport.h"

// Waiting on the line, and what stops the port: a lost line, an interrupt.

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>

#include "frametrace.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

timespec toTimespec(qint64 ns)
{
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

} // namespace

void SerialPort::markLost(const QString &reason)
{
    if (m_lost)
        return;
    m_lost = true;
    m_error = QStringLiteral("line lost: %1 (%2)").arg(m_path, reason);
    if (m_trace)
        m_trace->note(m_error);
}

QString SerialPort::hangUpText() const
{
    return m_link->hangUpText();
}

bool SerialPort::checkInterrupt()
{
    if (m_interruptFd >= 0 && !m_interrupted) {
        pollfd pfd = {m_interruptFd, POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0)
            m_interrupted = true;
    }
    if (m_interrupted)
        m_error = QStringLiteral("interrupted");
    return m_interrupted;
}

// Waits until the device has input, the deadline passes, or the port stops
// (the device hung up, or the interrupt descriptor became readable).
SerialPort::Wait SerialPort::waitReadable(qint64 deadlineNs)
{
    for (;;) {
        const qint64 remaining = deadlineNs - monotonicNs();
        if (remaining <= 0)
            return Wait::TimedOut;
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_interruptFd, POLLIN, 0}};
        const timespec ts = toTimespec(remaining);
        const int ready = ppoll(fds, m_interruptFd >= 0 ? 2 : 1, &ts, nullptr);
        if (ready < 0 && errno == EINTR)
            continue; // a signal that matters also makes the interrupt readable
        if (ready < 0) {
            markLost(systemReason());
            return Wait::Stopped;
        }
        if (ready == 0)
            continue; // the loop re-checks the clock
        if (fds[1].revents && checkInterrupt())
            return Wait::Stopped;
        const short events = fds[0].revents;
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            // Input that came before the hang-up is still taken.
            int pending = 0;
            if (ioctl(m_fd, FIONREAD, &pending) == 0 && pending > 0)
                return Wait::Ready;
            markLost(hangUpText());
            return Wait::Stopped;
        }
        if (events & POLLIN)
            return Wait::Ready;
    }
}

void SerialPort::sleepInterruptibly(qint64 deadlineNs)
{
    if (m_interruptFd < 0) {
        sleepUntilNs(deadlineNs);
        return;
    }
    for (qint64 remaining; (remaining = deadlineNs - monotonicNs()) > 0;) {
        pollfd pfd = {m_interruptFd, POLLIN, 0};
        const timespec ts = toTimespec(remaining);
        if (ppoll(&pfd, 1, &ts, nullptr) > 0 && checkInterrupt())
            return;
    }
}

int SerialPort::frameDelay()
{
    if (!isStopped() && !checkInterrupt() && m_frameDelayMs > 0)
        sleepInterruptibly(monotonicNs() + qint64(m_frameDelayMs) * kMs);
    return 0;
}
