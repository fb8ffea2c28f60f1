#include "serialport.h"

// What the port keeps track of in answers: the requests still owed one,
// late answers, answers that may be an earlier request's, and noise.

#include "frametrace.h"
#include "modbuscrc.h"
#include "serialport_p.h"
#include "termiosline.h"

namespace {

// A drive that stalls leaves every request sent meanwhile owed; evicting one
// would let its late answer pass unflagged.
const int kMaxOwedAnswers = 64;
// A look-alike request goes out at least a horizon after the one it may
// carry a debt from, so two carries span the two horizons an owed answer is
// remembered; more would only prolong a debt whose answer was lost.
const int kMaxCarries = 2;
const int kMaxLateAnswersKept = 256;

} // namespace

// What the line's last program left owing, within the bounds this port
// would keep itself: anyone may have written it. Taken when the line is
// first used, so that the bounds are those of the answer time-out set
// after open().
void SerialPort::takeDebt()
{
    if (m_inherited.isEmpty())
        return;
    const LineDebt debt = m_inherited;
    m_inherited = LineDebt();
    const qint64 now = monotonicNs();
    const qint64 memory = owedMemoryNs();
    if (debt.quietUntilNs > now)
        m_quietUntilNs = qMin(debt.quietUntilNs, now + answerTimeoutNs());
    for (const LineDebt::Owed &owed : debt.owed) {
        const RtuRequest request(owed.request);
        if (request.isKnown() && owed.sentNs <= now && owed.sentNs + memory > now
            && m_owed.size() < kMaxOwedAnswers) {
            const qint64 holdUntil = qBound(owed.sentNs, owed.holdUntilNs, owed.sentNs + lateHorizonNs());
            m_owed.append(OwedAnswer{request, owed.sentNs, holdUntil, qBound(0, owed.carried, kMaxCarries)});
        }
    }
}

// What this port leaves owing for the line's next program.
LineDebt SerialPort::debt() const
{
    LineDebt debt;
    const qint64 now = monotonicNs();
    const qint64 memory = owedMemoryNs();
    if (m_quietUntilNs > now)
        debt.quietUntilNs = m_quietUntilNs;
    for (const OwedAnswer &owed : m_owed) {
        if (owed.sentNs + memory > now)
            debt.owed.append(LineDebt::Owed{owed.request.frame(), owed.sentNs, owed.holdUntilNs, owed.carried});
    }
    return debt;
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

QList<LateAnswer> SerialPort::takeLateAnswers()
{
    QList<LateAnswer> taken;
    taken.swap(m_lateAnswers);
    return taken;
}

QList<OtherStationAnswer> SerialPort::takeOtherStationAnswers()
{
    QList<OtherStationAnswer> taken;
    taken.swap(m_otherStations);
    return taken;
}

// No whole answer came. With nothing at all the request is owed one;
// with a part of one its rest may still be under way.
void SerialPort::noteNoAnswer()
{
    if (isStopped())
        return;
    if (m_input.isEmpty()) {
        owe(m_request, 0);
    } else {
        m_quietUntilNs = monotonicNs() + answerTimeoutNs();
    }
}

// An answer is about to be handed over. A drive answers in the order it is
// asked, so whatever this answer is, the station's earlier requests are owed
// nothing more. But when it could be one of theirs, this request's own
// answer may still come, and the debt is carried on to it; and when one of
// them asked something else and would get an answer that looks the same,
// the port cannot tell which request this answers.
void SerialPort::noteAnswerTaken(int length)
{
    const char *frame = m_input.constData();
    m_tookItself = RtuRequest();
    if (!hasValidModbusCrc(frame, length))
        return; // damaged on the line: the driver fails it
    m_lastFrameNs[m_request.station()] = m_lastByteNs;
    forgetOldOwedAnswers(monotonicNs());
    int carried = -1; // of the earliest owed request this could answer
    bool uncertain = false;
    for (int i = 0; i < m_owed.size();) {
        const RtuRequest &owed = m_owed.at(i).request;
        if (owed.station() != m_request.station()) {
            ++i;
            continue;
        }
        if (owed.isAnswer(frame, length)) {
            if (carried < 0)
                carried = m_owed.at(i).carried;
            uncertain = uncertain
                || (owed.frame() != m_request.frame() && owed.isNormalAnswer(frame, length));
        }
        m_owed.removeAt(i);
    }
    if (uncertain) {
        ++m_counters.uncertainAnswers;
        if (m_trace)
            m_trace->note(QStringLiteral("this answer may be owed to an earlier request"));
    }
    if (carried >= 0 && carried < kMaxCarries)
        owe(m_request, carried + 1);
    // It may have been the request's echo; a second answer will tell. One
    // that an owed request explains tells nothing.
    if (!m_localEcho && carried < 0 && m_request.frame() == QByteArray::fromRawData(frame, length))
        m_tookItself = m_request;
    // An echo would have come first.
    if (!m_localEcho && m_request.frame() != QByteArray::fromRawData(frame, length))
        m_shownSilent = true;
}

void SerialPort::owe(const RtuRequest &request, int carried)
{
    if (m_owed.size() >= kMaxOwedAnswers)
        m_owed.removeFirst();
    m_owed.append(OwedAnswer{request, m_requestSentNs, m_requestSentNs + lateHorizonNs(), carried});
}

// The frame answers the earliest owed request it fits; that station's
// requests before it are owed nothing more. Its lateness counts from when
// the drive could take that request up: when it had been sent, or when the
// drive's previous answer had come, whichever is later (a drive late with
// one answer is late with the next one it owes too).
void SerialPort::dropLateFrame(int length)
{
    if (m_tookItself.isKnown() && m_tookItself.isAnswer(m_input.constData(), length)
        && !isOwedAnswer(m_input.constData(), length)) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    LateAnswer late;
    late.station = quint8(m_input.at(0));
    const bool asked = m_request.isKnown() && late.station == m_request.station();
    if (!asked && !owesStation(late.station)) {
        // Not late: nothing of ours was owed by it. Another drive answered.
        OtherStationAnswer other;
        other.station = late.station;
        other.askedStation = m_request.isKnown() && !m_request.isBroadcast() ? m_request.station() : -1;
        ++m_counters.otherStationAnswers;
        if (m_otherStations.size() < kMaxLateAnswersKept)
            m_otherStations.append(other);
        if (m_trace)
            m_trace->note(QStringLiteral("dropped an answer from station %1, which was not asked")
                              .arg(other.station));
        m_input.remove(0, length);
        return;
    }
    const qint64 previousFrameNs = m_lastFrameNs[late.station];
    m_lastFrameNs[late.station] = m_lastByteNs;
    for (int i = 0; i < m_owed.size(); ++i) {
        if (!m_owed.at(i).request.isAnswer(m_input.constData(), length))
            continue;
        late.latenessNs = m_lastByteNs - qMax(m_owed.at(i).sentNs, previousFrameNs);
        for (int k = i; k >= 0; --k) {
            if (m_owed.at(k).request.station() == late.station)
                m_owed.removeAt(k);
        }
        break;
    }
    ++m_counters.lateAnswers;
    if (m_lateAnswers.size() < kMaxLateAnswersKept)
        m_lateAnswers.append(late);
    if (m_trace) {
        m_trace->note(late.latenessNs >= 0
                          ? QStringLiteral("dropped a late answer from station %1, %2 ms after its request")
                                .arg(late.station).arg(late.latenessNs / kMs)
                          : QStringLiteral("dropped an answer from station %1 that no request awaited")
                                .arg(late.station));
    }
    m_input.remove(0, length);
}

bool SerialPort::owesStation(int station) const
{
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.station() == station)
            return true;
    }
    return false;
}

bool SerialPort::isOwedAnswer(const char *frame, int length) const
{
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.isAnswer(frame, length))
            return true;
    }
    return false;
}

void SerialPort::dropNoise(int length)
{
    m_counters.noiseBytes += length;
    if (m_trace)
        m_trace->note(QStringLiteral("dropped %1 bytes that begin no frame").arg(length));
    m_input.remove(0, length);
}

// Input that no request awaits: whole frames are late answers, bytes before
// a whole frame are noise, and with dropRest what is left goes too.
void SerialPort::settleUnawaitedInput(bool dropRest)
{
    if (echoIsTellable() && m_input.contains(m_request.frame())) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    while (!m_input.isEmpty()) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        int at = 0;
        for (; at < size; ++at) {
            const int length = rtuAnswerLength(data + at, size - at);
            if (length > 0 && size - at >= length && hasValidModbusCrc(data + at, length))
                break;
        }
        if (at == size)
            break;
        if (at > 0)
            dropNoise(at);
        dropLateFrame(rtuAnswerLength(m_input.constData(), m_input.size()));
    }
    if (dropRest && !m_input.isEmpty())
        dropNoise(m_input.size());
}

void SerialPort::forgetOldOwedAnswers(qint64 nowNs)
{
    const qint64 memory = owedMemoryNs();
    for (int i = m_owed.size() - 1; i >= 0; --i) {
        if (m_owed.at(i).sentNs + memory < nowNs)
            m_owed.removeAt(i);
    }
}

bool SerialPort::settleInput()
{
    if (m_fd < 0)
        return false;
    takeDebt();
    if (readInput() < 0)
        return false;
    settleUnawaitedInput(true);
    return true;
}
