#include "serialport.h"

// Sending: the silent interval and the hold for owed answers before a
// request, and reading back the line's echo of it.

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

#include "frametrace.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

// The wait before a request ends in a precise, uninterruptible sleep of at
// most this long.
const qint64 kPreciseTailNs = 2 * kMs;

} // namespace

// Keeps the silence, and holds the request back while an owed answer could
// be taken for its own; drops what arrives meanwhile.
bool SerialPort::waitUntilClear(const RtuRequest &next)
{
    m_judge.forgetOld(monotonicNs());
    for (;;) {
        if (readInput() < 0)
            return false;
        m_judge.settle(false);
        applyEvents();
        if (isStopped())
            return false;
        const qint64 clearAt = m_judge.clearToSendAt(next);
        const qint64 now = monotonicNs();
        if (now >= clearAt)
            break;
        if (clearAt - now > kPreciseTailNs) {
            if (waitReadable(clearAt - kPreciseTailNs) == Wait::Stopped)
                return false;
        } else {
            m_silence.sleepUntil(clearAt);
        }
    }
    m_judge.settle(true);
    applyEvents();
    m_judge.cleared();
    return !isStopped();
}

int SerialPort::send(const char *data, int length)
{
    if (m_fd < 0)
        return -1;
    if (!data || length <= 0)
        return 0;
    const RtuRequest next(QByteArray(data, length));
    syncJudge();
    takeDebt();
    if (isStopped() || checkInterrupt() || !waitUntilClear(next))
        return -1;
    const qint64 writeStartNs = monotonicNs();
    int written = 0;
    while (written < length) {
        const ssize_t n = ::write(m_fd, data + written, size_t(length - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd = {m_fd, POLLOUT, 0};
            if (poll(&pfd, 1, qMax(m_answerTimeoutMs, 100)) > 0)
                continue;
        }
        markLost(systemError("write"));
        break;
    }
    while (tcdrain(m_fd) != 0 && errno == EINTR) {
    }
    m_judge.requestSent(next, monotonicNs(), writeStartNs + qint64(length) * m_line.characterTimeNs());
    m_handedOver = 0;
    ++m_counters.requests;
    if (m_trace)
        m_trace->sent(data, written);
    if (m_localEcho && written == length && !isStopped() && !takeEcho())
        return -1;
    return written > 0 ? written : -1;
}

// With local echo: the request just sent comes back, byte for byte, before
// any answer. False when it did not (garbled: this request goes unanswered;
// missing: the port stops) or the port stopped meanwhile.
bool SerialPort::takeEcho()
{
    bool ok = false;
    WaitEnd last = WaitEnd::None;
    for (JudgeStep step; !(step = m_judge.readEcho(last, &ok)).done;) {
        applyEvents();
        last = await(step);
    }
    applyEvents();
    return ok;
}
