#include "serialport.h"

// Sending: the silent interval and the hold for owed answers before a
// request, and the line's echo of it.

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

#include "frametrace.h"
#include "modbuscrc.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

// The wait before a request ends in a precise, uninterruptible sleep of at
// most this long.
const qint64 kPreciseTailNs = 2 * kMs;

} // namespace

void SerialPort::noteLineActivity(qint64 nowNs)
{
    if (nowNs > m_lastActivityNs)
        m_lastActivityNs = nowNs;
}

qint64 SerialPort::clearToSendAt(const RtuRequest &next) const
{
    qint64 at = qMax(m_lastActivityNs + silentIntervalNs(), m_quietUntilNs);
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.answersLookAlike(next))
            at = qMax(at, owed.holdUntilNs);
    }
    return at;
}

// Keeps the silence, and holds the request back while an owed answer could
// be taken for its own; drops what arrives meanwhile.
bool SerialPort::waitUntilClear(const RtuRequest &next)
{
    forgetOldOwedAnswers(monotonicNs());
    for (;;) {
        if (readInput() < 0)
            return false;
        settleUnawaitedInput(false);
        if (isStopped())
            return false;
        const qint64 clearAt = clearToSendAt(next);
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
    settleUnawaitedInput(true);
    m_quietUntilNs = 0;
    return !isStopped();
}

int SerialPort::send(const char *data, int length)
{
    if (m_fd < 0)
        return -1;
    if (!data || length <= 0)
        return 0;
    const RtuRequest next(QByteArray(data, length));
    takeDebt();
    if (isStopped() || checkInterrupt() || !waitUntilClear(next))
        return -1;
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
    const qint64 now = monotonicNs();
    m_request = next;
    m_answerFramed = false;
    m_echoGarbled = false;
    m_requestSentNs = now;
    m_receivedSinceSend = 0;
    m_handedOver = 0;
    noteLineActivity(now);
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
    const QByteArray sent = m_request.frame();
    const qint64 deadline = m_requestSentNs + answerTimeoutNs();
    for (;;) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        const int compared = qMin(size, sent.size());
        const bool matches = std::memcmp(data, sent.constData(), size_t(compared)) == 0;
        if (matches && compared == sent.size()) {
            m_input.remove(0, compared);
            m_receivedSinceSend = m_input.size();
            return true;
        }
        const int frame = matches ? -1 : rtuAnswerLength(data, size);
        if (frame > 0 && size >= frame && hasValidModbusCrc(data, frame)) {
            // A whole frame where the echo belongs: the answer itself, so
            // nothing echoes; or a late answer just before the echo.
            if (m_request.isAnswer(data, frame)) {
                failEcho(EchoFault::Missing, false);
                return false;
            }
            dropLateFrame(frame);
            continue;
        }
        // Changed: judged once as many bytes are in, or a frame begun is whole.
        if (!matches && size >= sent.size() && frame <= size)
            break;
        const bool started = size > 0;
        const int due = started ? qMax(sent.size(), frame) - size : 0;
        if (readMore(started ? m_lastByteNs + interCharacterTimeoutNs() : deadline, due))
            continue;
        if (isStopped())
            return false;
        if (!started) {
            failEcho(EchoFault::Missing, true);
            return false;
        }
        break;
    }
    const QByteArray heard = m_input.left(sent.size());
    m_input.remove(0, heard.size());
    ++m_counters.garbledEchoes;
    m_lastGarbledEcho = QStringLiteral("the line garbled our own request: sent %1, heard %2%3")
                            .arg(FrameTrace::hex(sent),
                                 QLatin1String(heard.size() < sent.size() ? "only " : ""),
                                 FrameTrace::hex(heard));
    m_error = m_lastGarbledEcho;
    if (m_trace)
        m_trace->note(m_lastGarbledEcho);
    // The drive may have heard it whole: its answer gets a quiet line.
    m_echoGarbled = true;
    m_answerFramed = true;
    m_quietUntilNs = monotonicNs() + answerTimeoutNs();
    return false;
}

// Without local echo, a frame identical to the request just sent can only
// be its echo, unless an answer can be the request itself.
bool SerialPort::echoIsTellable() const
{
    return !m_localEcho && m_request.isKnown() && !m_request.canBeItsOwnAnswer();
}

// Without local echo: how many bytes the input holds of the request just
// sent, from its start, where a frame identical to it can only be its echo;
// -1 when the input begins otherwise or an answer can be the request itself.
int SerialPort::ownEchoSoFar() const
{
    const QByteArray &sent = m_request.frame();
    if (!echoIsTellable() || m_input.isEmpty())
        return -1;
    const int compared = qMin(m_input.size(), sent.size());
    return std::memcmp(m_input.constData(), sent.constData(), size_t(compared)) == 0 ? compared : -1;
}

// The line's echo disagrees with the setting: nothing more is sent or taken
// until open(). With owed, the request just sent may still be answered.
void SerialPort::failEcho(EchoFault fault, bool owed)
{
    m_echoFault = fault;
    m_error = fault == EchoFault::Unexpected
                  ? QStringLiteral("the line echoes our own requests back (an adapter with local echo?)")
                  : QStringLiteral("the line does not echo our own requests back (an adapter without "
                                   "local echo?)");
    if (owed && m_request.isKnown() && !m_request.isBroadcast())
        owe(m_request, 0);
    m_input.clear();
    m_answerFramed = true;
    if (m_trace)
        m_trace->note(m_error);
}

// Without local echo: an answer identical to the request, with a second
// answer to it already in behind it, was its echo (unless an owed request
// explains the two).
bool SerialPort::isEchoBeforeAnswer(int length) const
{
    const char *frame = m_input.constData();
    if (m_localEcho || !m_request.canBeItsOwnAnswer()
        || m_request.frame() != QByteArray::fromRawData(frame, length)) {
        return false;
    }
    return answerFollows(length) && !isOwedAnswer(frame, length);
}

// Without local echo, on a line not known silent: the first length bytes
// are the request itself, which no owed request explains.
bool SerialPort::mayBeOwnEcho(int length) const
{
    const char *frame = m_input.constData();
    return !m_localEcho && !isSilent() && m_request.canBeItsOwnAnswer()
           && m_request.frame() == QByteArray::fromRawData(frame, length) && !isOwedAnswer(frame, length);
}

// Whether a whole frame answering the request follows the first length
// bytes of the input, past other stations' or late whole frames.
bool SerialPort::answerFollows(int length) const
{
    const char *data = m_input.constData();
    const int size = m_input.size();
    for (int at = length; at < size;) {
        const int next = rtuAnswerLength(data + at, size - at);
        if (next <= 0 || size - at < next || !hasValidModbusCrc(data + at, next))
            return false;
        if (m_request.isAnswer(data + at, next))
            return true;
        at += next;
    }
    return false;
}

// Without local echo, on a line not known silent: the answer taken is byte
// for byte the request, which its echo is too. An echo comes while the
// request is on the wire (a USB adapter hands it over up to the
// inter-character time-out later); an acknowledgement no sooner than a
// silent interval and its own characters after the request. A drive's
// answer follows an echo within the answer time-out. tcdrain() may return
// late on a USB adapter, so a frame that seems too early for an
// acknowledgement is not taken for an echo on its timing alone.
SerialPort::Framing SerialPort::judgeItself(int length)
{
    const qint64 earliestAnswer =
        m_requestSentNs + silentIntervalNs() + qint64(m_request.answerLength()) * m_line.characterTimeNs();
    const qint64 arrivedNs = m_lastByteNs;
    // A pseudo-terminal's far end need keep no time: there only what follows tells.
    const bool tooLateForEcho = !m_onPty && arrivedNs >= m_requestSentNs + interCharacterTimeoutNs();
    // After one left in doubt the silence tells nothing new: no second wait.
    while (!tooLateForEcho && !m_echoDoubt && !answerFollows(length)
           && readMore(m_requestSentNs + answerTimeoutNs(), 0)) {
    }
    if (isStopped()) {
        m_input.clear();
        return Framing::Done;
    }
    if (m_input.size() < length || QByteArray::fromRawData(m_input.constData(), length) != m_request.frame())
        return Framing::Again; // a flood of noise pushed it out: framed anew
    if (answerFollows(length)) {
        failEcho(EchoFault::Unexpected, false);
    } else if (arrivedNs >= earliestAnswer) {
        m_shownSilent = true; // nothing followed what came as an acknowledgement would
        noteAnswerTaken(length);
    } else {
        // Sooner than an acknowledgement can come on a wire, and nothing
        // followed: an echo of a request no drive answered, or a far end that
        // keeps no wire time (a simulator without pacing).
        ++m_counters.uncertainEchoes;
        m_echoDoubt = true;
        if (m_trace)
            m_trace->note(QStringLiteral("this answer may be the request's own echo"));
        noteAnswerTaken(length);
    }
    return Framing::Done;
}
