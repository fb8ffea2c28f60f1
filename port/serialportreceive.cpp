#include "serialport.h"

// Receiving: reading the line, and framing the answer to the request just
// sent before its first byte is handed over.

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "frametrace.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

// Shorter waits for the rest of an answer go byte by byte.
const qint64 kMinBulkSleepNs = kMs;
// What the drives get to carry out a broadcast before the next request:
// the turnaround delay masters commonly keep.
const qint64 kBroadcastTurnaroundNs = 200 * kMs;
// A line that never falls silent does not grow the input beyond this.
const int kMaxInput = 1024;
// Reads that find nothing after poll() said there was something: a device
// in that state is as good as gone.
const int kMaxEmptyReads = 3;

// How long a wait for dueBytes still to come of a frame first sleeps: they
// cannot come sooner than their time on the wire, so through most of it,
// less three characters or a tenth of it; 0 where that saves no wake-ups.
qint64 bulkSleepNs(int dueBytes, qint64 characterNs)
{
    const qint64 wireNs = qint64(dueBytes) * characterNs;
    const qint64 sleepNs = wireNs - qMax(3 * characterNs, wireNs / 10);
    return sleepNs >= kMinBulkSleepNs ? sleepNs : 0;
}

} // namespace

// Reads what has arrived, without waiting; the number of bytes, or -1 when
// the device is gone.
int SerialPort::readInput()
{
    int total = 0;
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            if (m_trace)
                m_trace->received(chunk, int(n));
            m_input.append(chunk, int(n));
            total += int(n);
            if (size_t(n) < sizeof chunk)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            markLost(systemReason());
            return -1;
        }
        break;
    }
    if (total > 0) {
        const qint64 now = monotonicNs();
        m_receivedSinceSend += total;
        m_lastByteNs = now;
        noteLineActivity(now);
        if (m_input.size() > kMaxInput)
            dropNoise(m_input.size() - kMaxInput);
    }
    return total;
}

// Waits for more input until the deadline; true when some came. With
// dueBytes still to come of a frame, first sleeps (bulkSleepNs).
bool SerialPort::readMore(qint64 deadlineNs, int dueBytes)
{
    if (isStopped())
        return false;
    const qint64 now = monotonicNs();
    const qint64 sleepNs =
        dueBytes > 0 && now < deadlineNs ? bulkSleepNs(dueBytes, m_line.characterTimeNs()) : 0;
    if (sleepNs > 0) {
        sleepInterruptibly(now + sleepNs);
        if (isStopped())
            return false;
        const int n = readInput();
        if (n != 0)
            return n > 0;
        deadlineNs = qMax(deadlineNs, monotonicNs() + interCharacterTimeoutNs());
    }
    for (int empty = 0; empty < kMaxEmptyReads;) {
        if (waitReadable(deadlineNs) != Wait::Ready)
            return false;
        const int n = readInput();
        if (n != 0)
            return n > 0;
        ++empty;
    }
    markLost(QStringLiteral("the device reports input but gives none"));
    return false;
}

int SerialPort::receive(char *buffer, int maxLength)
{
    if (m_fd < 0)
        return -1;
    if (!buffer || maxLength <= 0)
        return 0;
    if (m_echoGarbled)
        return isStopped() ? -1 : 0;
    if (!m_answerFramed) {
        m_answerFramed = true;
        frameAnswer();
    }
    if (!m_request.isKnown() && m_input.size() < maxLength)
        topUpInput(maxLength);
    const int n = qMin(maxLength, m_input.size());
    std::memcpy(buffer, m_input.constData(), size_t(n));
    m_input.remove(0, n);
    if (n < maxLength) {
        if (m_handedOver + n > 0)
            m_quietUntilNs = monotonicNs() + answerTimeoutNs();
        if (m_trace && !isStopped() && !m_request.isBroadcast()) {
            if (m_handedOver + n == 0)
                m_trace->note(QStringLiteral("no answer within %1 ms").arg(m_answerTimeoutMs));
            else
                m_trace->note(QStringLiteral("answer ended after %1 bytes; %2 more were expected")
                                  .arg(m_handedOver + n).arg(maxLength - n));
        }
    }
    m_handedOver += n;
    return n == 0 && isStopped() ? -1 : n;
}

// Before the first byte is handed over: drops what cannot be the answer to
// the request just sent and waits for what can.
void SerialPort::frameAnswer()
{
    if (!m_request.isKnown())
        return;
    if (m_request.isBroadcast()) {
        m_quietUntilNs = m_requestSentNs + kBroadcastTurnaroundNs;
        return;
    }
    bool lineQuiet = false;
    for (;;) {
        Framing step = judgeOwnEcho(&lineQuiet);
        if (step == Framing::Scan) {
            const AnswerScan scan = scanAnswer(m_request, m_input.constData(), m_input.size(), lineQuiet);
            step = takeScan(scan, &lineQuiet);
        }
        if (step == Framing::Done)
            return;
    }
}

// Bytes that begin as our own request may be its echo: judged whole,
// before a part of it passes for an answer.
SerialPort::Framing SerialPort::judgeOwnEcho(bool *lineQuiet)
{
    const int own = ownEchoSoFar();
    if (own == m_request.frame().size()) {
        failEcho(EchoFault::Unexpected, true);
        return Framing::Done;
    }
    if (own <= 0 || *lineQuiet)
        return Framing::Scan;
    // An answer differs within its own length (a write's
    // acknowledgement repeats the request's first six bytes).
    const int due = qMin(m_request.frame().size(), m_request.answerLength()) - own;
    if (readMore(m_lastByteNs + interCharacterTimeoutNs(), qMax(due, 0)))
        return Framing::Again;
    if (isStopped()) {
        noteNoAnswer();
        return Framing::Done;
    }
    *lineQuiet = true;
    return Framing::Scan;
}

// Drops what cannot be the answer, takes the answer, or waits for more.
SerialPort::Framing SerialPort::takeScan(const AnswerScan &scan, bool *lineQuiet)
{
    switch (scan.verdict) {
    case AnswerScan::LateFrame:
        dropLateFrame(scan.length);
        if (m_echoFault != EchoFault::None)
            return Framing::Done;
        *lineQuiet = false;
        return Framing::Again;
    case AnswerScan::Noise:
        dropNoise(scan.length);
        *lineQuiet = false;
        return Framing::Again;
    case AnswerScan::Answer:
        if (isEchoBeforeAnswer(scan.length))
            failEcho(EchoFault::Unexpected, false);
        else if (mayBeOwnEcho(scan.length))
            return judgeItself(scan.length);
        else
            noteAnswerTaken(scan.length);
        return Framing::Done;
    case AnswerScan::Unclear: {
        // The start of this request's answer, cut short, fails at once;
        // anything else may be noise before the answer.
        const bool cutShort = !m_input.isEmpty() && quint8(m_input.at(0)) == m_request.station()
            && (m_input.size() < 2 || (quint8(m_input.at(1)) & 0x7F) == m_request.function());
        if (cutShort || !readMore(m_requestSentNs + answerTimeoutNs(), 0)) {
            noteNoAnswer();
            return Framing::Done;
        }
        *lineQuiet = false;
        return Framing::Again;
    }
    case AnswerScan::Incomplete:
        break;
    }
    return awaitRest(scan.length, lineQuiet);
}

// More bytes are needed (frameLength: the whole frame's, if known). With
// none in, the first may come until the answer time-out.
SerialPort::Framing SerialPort::awaitRest(int frameLength, bool *lineQuiet)
{
    const bool started = !m_input.isEmpty();
    const qint64 deadline = started ? m_lastByteNs + interCharacterTimeoutNs()
                                    : m_requestSentNs + answerTimeoutNs();
    const int due = started && frameLength > 0 ? frameLength - m_input.size() : 0;
    if (readMore(deadline, due))
        return Framing::Again;
    if (!started || isStopped()) {
        noteNoAnswer();
        return Framing::Done;
    }
    *lineQuiet = true;
    return Framing::Again;
}

// More bytes than are in, for a request the port does not know: it reads
// what comes within the time-outs.
void SerialPort::topUpInput(int wanted)
{
    while (m_input.size() < wanted && !isStopped()) {
        const bool started = m_receivedSinceSend > 0;
        const qint64 start = m_requestSentNs ? m_requestSentNs : monotonicNs();
        const qint64 deadline = started ? m_lastByteNs + interCharacterTimeoutNs()
                                        : start + answerTimeoutNs();
        if (!readMore(deadline, started ? wanted - m_input.size() : 0))
            return;
    }
}
