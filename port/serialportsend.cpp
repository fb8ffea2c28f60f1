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
    if (isStopped() || checkInterrupt() || !checkStep(next) || !waitUntilClear(next))
        return -1;
    return transmit(next);
}

// Writes the request whole and waits until it has left; the bytes written,
// or -1 when the port stopped.
int SerialPort::transmit(const RtuRequest &request)
{
    const char *data = request.frame().constData();
    const int length = request.frame().size();
    const qint64 writeStartNs = monotonicNs();
    int written = 0;
    while (written < length) {
        const long n = m_link->write(m_fd, data + written, length - written);
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
    m_link->drain(m_fd);
    m_judge.requestSent(request, monotonicNs(), writeStartNs + qint64(length) * characterNs());
    m_handedOver = 0;
    ++m_report.counters().requests;
    if (m_trace)
        m_trace->sent(data, written);
    if (m_localEcho && written == length && !isStopped() && !takeEcho())
        return -1;
    return written > 0 ? written : -1;
}

// Before a request whose answer would look like one its station still
// owes: the judge's step check, sent and its answer framed here, handed to
// no one. Unanswered, the request waits out the hold as before. False when
// the port stopped.
bool SerialPort::checkStep(const RtuRequest &next)
{
    m_judge.forgetOld(monotonicNs());
    if (readInput() < 0)
        return false;
    m_judge.settle(false);
    applyEvents();
    const RtuRequest check = m_judge.stepCheckFor(next);
    if (!check.isKnown())
        return true;
    if (m_trace)
        m_trace->note(QStringLiteral("station %1 owes an answer that would look like the next one's: "
                                     "a read first, to see it answers in step")
                          .arg(check.station()));
    ++m_report.counters().stepChecks;
    if (!waitUntilClear(check) || transmit(check) < 0)
        return false;
    frameOnLine();
    const QByteArray &input = m_judge.input();
    const int answered = check.answerLength();
    if (input.size() >= answered && check.isNormalAnswer(input.constData(), answered)) {
        m_judge.handOver(answered);
    } else if (input.size() >= 5 && check.isExceptionAnswer(input.constData(), 5)) {
        m_judge.handOver(5);
    } else if (!input.isEmpty()) {
        m_judge.answerEnded(monotonicNs()); // its rest may still come
    } else if (m_trace && !isStopped()) {
        m_trace->note(QStringLiteral("no answer within %1 ms").arg(m_answerTimeoutMs));
    }
    return !isStopped();
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
