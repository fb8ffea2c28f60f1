#include "serialport.h"

// Receiving: reading the line, waiting as the judge asks, and what its
// verdicts mean to the counters, the trace and the driver.

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "frametrace.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

// Shorter waits for the rest of an answer go byte by byte.
const qint64 kMinBulkSleepNs = kMs;
// Reads that find nothing after poll() said there was something: a device
// in that state is as good as gone.
const int kMaxEmptyReads = 3;
// What one look at the line takes at most: a far end that floods it is
// judged piece by piece, and what the port holds stays bounded.
const int kMaxReadChunks = 4;

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
    QByteArray in;
    int taken = 0;
    char chunk[256];
    for (int chunks = 0; chunks < kMaxReadChunks;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            taken += int(n);
            const QByteArray rtu = m_link->rtuBytes(chunk, long(n));
            if (m_trace && !rtu.isEmpty())
                m_trace->received(rtu.constData(), rtu.size());
            in.append(rtu);
            if (size_t(n) < sizeof chunk)
                break;
            ++chunks;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if ((n < 0 && errno != EAGAIN) || (n == 0 && m_link->endOfInputIsLoss())) {
            markLost(n == 0 ? hangUpText() : systemReason());
            return -1;
        }
        break;
    }
    for (const JudgeEvent &event : m_link->takeEvents()) {
        const QString note = m_report.take(event, QByteArray(), &m_error);
        if (m_trace && !note.isEmpty())
            m_trace->note(note);
    }
    if (!m_link->fault().isEmpty()) {
        markLost(m_link->fault());
        return -1;
    }
    if (!in.isEmpty()) {
        m_judge.bytesReceived(in.constData(), in.size(), monotonicNs());
        applyEvents();
    }
    // What the link took counts, whole or not: the device gave input.
    return taken;
}

// Waits for more input until the deadline; true when some came. With
// dueBytes still to come of a frame, first sleeps (bulkSleepNs).
bool SerialPort::readMore(qint64 deadlineNs, int dueBytes)
{
    if (isStopped())
        return false;
    const qint64 now = monotonicNs();
    const qint64 sleepNs = dueBytes > 0 && now < deadlineNs ? bulkSleepNs(dueBytes, characterNs()) : 0;
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

// How a wait the judge asked for ended.
WaitEnd SerialPort::await(const JudgeStep &step)
{
    if (readMore(step.deadlineNs, step.dueBytes))
        return WaitEnd::Bytes;
    return isStopped() ? WaitEnd::Stopped : WaitEnd::Quiet;
}

// Frames the answer to the request sent, waiting on the line as the judge
// asks.
void SerialPort::frameOnLine()
{
    if (m_judge.isFramed())
        return;
    syncJudge();
    WaitEnd last = WaitEnd::None;
    for (JudgeStep step; !(step = m_judge.frameAnswer(last)).done;) {
        applyEvents();
        last = await(step);
    }
    applyEvents();
}

int SerialPort::receive(char *buffer, int maxLength)
{
    if (m_fd < 0)
        return -1;
    if (!buffer || maxLength <= 0)
        return 0;
    if (m_judge.echoGarbled())
        return isStopped() ? -1 : 0;
    frameOnLine();
    // A request the port does not know: what comes within the time-outs.
    if (!m_judge.request().isKnown()) {
        for (JudgeStep step; !isStopped() && !(step = m_judge.topUp(maxLength, monotonicNs())).done;) {
            if (!readMore(step.deadlineNs, step.dueBytes))
                break;
        }
    }
    const QByteArray &input = m_judge.input();
    const int n = qMin(maxLength, input.size());
    std::memcpy(buffer, input.constData(), size_t(n));
    m_judge.handOver(n);
    if (n < maxLength) {
        if (m_handedOver + n > 0)
            m_judge.answerEnded(monotonicNs());
        if (m_trace && !isStopped() && !m_judge.request().isBroadcast()) {
            if (m_handedOver + n == 0 && m_firstByteNs >= 0)
                m_trace->note(QStringLiteral("no answer began within %1 ms of the request's end")
                                  .arg(double(m_firstByteNs) / kMs, 0, 'f', 1));
            else if (m_handedOver + n == 0)
                m_trace->note(QStringLiteral("no answer within %1 ms").arg(m_answerTimeoutMs));
            else
                m_trace->note(QStringLiteral("answer ended after %1 bytes; %2 more were expected")
                                  .arg(m_handedOver + n)
                                  .arg(maxLength - n));
        }
    }
    m_handedOver += n;
    return n == 0 && isStopped() ? -1 : n;
}

void SerialPort::syncJudge()
{
    AnswerJudge::Settings set;
    set.answerTimeoutNs = answerTimeoutNs();
    set.interCharacterNs = interCharacterTimeoutNs();
    set.silentIntervalNs = silentIntervalNs();
    set.characterNs = characterNs();
    set.localEcho = m_localEcho;
    set.knownSilent = m_knownSilent || m_link->matchesAnswers(); // no echo over Modbus TCP
    set.keepsNoTime = m_onPty || !m_link->keepsLineTime();
    set.network = !m_link->keepsLineTime();
    set.matchedAnswers = m_link->matchesAnswers();
    set.firstByteNs = m_firstByteNs;
    m_judge.configure(set);
}

// The judge's verdicts, into the counters, the lists and the trace.
void SerialPort::applyEvents()
{
    for (const JudgeEvent &event : m_judge.takeEvents()) {
        const QString note = m_report.take(event, m_judge.request().frame(), &m_error);
        if (m_trace && !note.isEmpty())
            m_trace->note(note);
    }
}

// What the line's last program left owing: taken when the line is first
// used, so that the bounds are those of the answer time-out set after open().
void SerialPort::takeDebt()
{
    if (m_inherited.isEmpty())
        return;
    syncJudge();
    m_judge.takeDebt(m_inherited, monotonicNs());
    m_inherited = LineDebt();
}

QStringList SerialPort::takeWarnings()
{
    QStringList taken;
    taken.swap(m_warnings);
    return taken;
}

void SerialPort::warnOnce(const QString &warning)
{
    if (warning.isEmpty() || m_warningsSaid.contains(warning))
        return;
    m_warningsSaid.append(warning);
    m_warnings.append(warning);
}

void SerialPort::listenForAnswersTooMany()
{
    if (m_fd < 0 || m_lost || !m_judge.mayHideAnAnswerTooMany())
        return;
    const qint64 until = monotonicNs() + answerTimeoutNs();
    while (!isStopped() && readMore(until, 0)) {
        m_judge.settle(false);
        applyEvents();
    }
}

bool SerialPort::settleInput()
{
    if (m_fd < 0)
        return false;
    syncJudge();
    takeDebt();
    if (readInput() < 0)
        return false;
    m_judge.settle(true);
    applyEvents();
    return true;
}
