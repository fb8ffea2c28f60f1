#include "answerjudge.h"

#include <algorithm>
#include <cstring>

#include "answerjudge_p.h"

using namespace answerjudge;

void AnswerJudge::reset(qint64 nowNs)
{
    m_request = RtuRequest();
    m_framed = true;
    m_echoGarbled = false;
    m_shownSilent = false;
    m_echoDoubt = false;
    m_echoFault = EchoFault::None;
    m_tookItself = RtuRequest();
    m_input.clear();
    m_arrivals.clear();
    m_requestSentNs = 0;
    m_lastActivityNs = nowNs;
    m_lastByteNs = 0;
    m_receivedSinceSend = 0;
    m_quietUntilNs = 0;
    m_owed.clear();
    std::fill(std::begin(m_outOfStepUntilNs), std::end(m_outOfStepUntilNs), 0);
    std::fill(std::begin(m_lastTaken), std::end(m_lastTaken), RtuRequest());
    std::fill(std::begin(m_takenBefore), std::end(m_takenBefore), RtuRequest());
    m_pending = Pending::None;
    m_nowNs = nowNs;
}

// Long: an owed request is forgotten anyway as soon as its station answers
// anything, so remembering it costs nothing while the station is silent,
// and lets an answer that comes much later still be told for what it is.
qint64 AnswerJudge::owedMemoryFor(qint64 answerTimeoutNs)
{
    return qMax(4 * answerTimeoutNs, kMinOwedMemoryNs);
}

// What the line's last program left owing, within the bounds this judge
// would keep itself: anyone may have written it.
void AnswerJudge::takeDebt(const LineDebt &debt, qint64 nowNs)
{
    m_nowNs = qMax(m_nowNs, nowNs);
    const qint64 memory = owedMemoryNs();
    if (debt.quietUntilNs > nowNs)
        m_quietUntilNs = qMin(debt.quietUntilNs, nowNs + m_set.answerTimeoutNs);
    for (const LineDebt::Owed &owed : debt.owed) {
        const RtuRequest request(owed.request);
        if (request.isKnown() && owed.sentNs <= nowNs && owed.sentNs + memory > nowNs && m_owed.size() < kMaxOwedAnswers) {
            const qint64 holdUntil = qBound(owed.sentNs, owed.holdUntilNs, owed.sentNs + lateHorizonNs());
            m_owed.append(OwedAnswer{request, owed.sentNs, holdUntil, qBound(0, owed.carried, kMaxCarriedKept)});
        }
    }
}

LineDebt AnswerJudge::debt(qint64 nowNs) const
{
    LineDebt debt;
    const qint64 memory = owedMemoryNs();
    if (m_quietUntilNs > nowNs)
        debt.quietUntilNs = m_quietUntilNs;
    for (const OwedAnswer &owed : m_owed) {
        if (owed.sentNs + memory > nowNs)
            debt.owed.append(LineDebt::Owed{owed.request.frame(), owed.sentNs, owed.holdUntilNs, owed.carried});
    }
    return debt;
}

QList<JudgeEvent> AnswerJudge::takeEvents()
{
    QList<JudgeEvent> taken;
    taken.swap(m_events);
    return taken;
}

void AnswerJudge::forgetOld(qint64 nowNs)
{
    m_nowNs = qMax(m_nowNs, nowNs);
    const qint64 memory = owedMemoryNs();
    for (int i = m_owed.size() - 1; i >= 0; --i) {
        if (m_owed.at(i).sentNs + memory < nowNs)
            m_owed.removeAt(i);
    }
}

qint64 AnswerJudge::clearToSendAt(const RtuRequest &next) const
{
    qint64 at = qMax(m_lastActivityNs + m_set.silentIntervalNs, m_quietUntilNs);
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.answersLookAlike(next))
            at = qMax(at, owed.holdUntilNs);
    }
    return at;
}

RtuRequest AnswerJudge::stepCheckFor(const RtuRequest &next) const
{
    if (!next.isKnown() || next.isBroadcast())
        return RtuRequest();
    QList<RtuRequest> alike{next};
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.station() == next.station())
            alike.append(owed.request);
    }
    // A repeat's late answer answers the same question: the hold does.
    if (alike.size() == 1 || !std::any_of(alike.begin() + 1, alike.end(), [&](const RtuRequest &owed) {
            return owed.answersLookAlike(next) && owed.frame() != next.frame();
        })) {
        return RtuRequest();
    }
    // A read of what next reads or writes: of its own items where fewer
    // will do (the drive has them), else of more.
    const QByteArray &frame = next.frame();
    const quint8 function = next.function();
    const quint8 read = function <= 4 ? function : (function == 5 || function == 15 ? 1 : 3);
    const int address = quint8(frame.at(2)) << 8 | quint8(frame.at(3));
    const int own = function == 5 || function == 6 ? 1 : (quint8(frame.at(4)) << 8 | quint8(frame.at(5)));
    const int most = qMin(read <= 2 ? kMaxCheckBits : kMaxCheckRegisters, 0x10000 - address);
    for (int step = 1; step < 2 * most; ++step) {
        const int quantity = step < own ? own - step : step;
        if (quantity < 1 || quantity > most)
            continue;
        QByteArray ask;
        ask.append(char(next.station())).append(char(read)).append(frame.mid(2, 2));
        ask.append(char(quantity >> 8)).append(char(quantity & 0xFF));
        appendModbusCrc(ask);
        const RtuRequest check(ask);
        if (!check.canBeItsOwnAnswer() && std::none_of(alike.begin(), alike.end(), [&](const RtuRequest &r) {
                return r.answersLookAlike(check);
            })) {
            return check;
        }
    }
    return RtuRequest();
}

void AnswerJudge::requestSent(const RtuRequest &request, qint64 nowNs, qint64 onWireUntilNs)
{
    m_request = request;
    m_framed = false;
    m_echoGarbled = false;
    m_neverSilent = false;
    m_pendingBounded = false;
    m_requestSentNs = nowNs;
    m_requestOnWireNs = qMax(nowNs, onWireUntilNs);
    m_receivedSinceSend = 0;
    m_pending = Pending::None;
    m_nowNs = qMax(m_nowNs, nowNs);
    m_lastActivityNs = qMax(m_lastActivityNs, nowNs);
}

void AnswerJudge::bytesReceived(const char *data, int size, qint64 nowNs)
{
    if (size <= 0)
        return;
    m_input.append(data, size);
    m_receivedTotal += size;
    const qint64 begin = m_receivedTotal - m_input.size();
    while (!m_arrivals.isEmpty() && (m_arrivals.first().endAt <= begin || m_arrivals.size() >= kMaxArrivals))
        m_arrivals.removeFirst();
    m_arrivals.append(Arrival{m_receivedTotal, nowNs});
    m_receivedSinceSend += size;
    m_lastByteNs = nowNs;
    m_nowNs = qMax(m_nowNs, nowNs);
    m_lastActivityNs = qMax(m_lastActivityNs, nowNs);
    if (m_input.size() > kMaxInput)
        dropNoise(m_input.size() - kMaxInput);
}

JudgeStep AnswerJudge::waitFor(Pending pending, qint64 deadlineNs, int dueBytes)
{
    m_pending = pending;
    m_pendingDeadlineNs = deadlineNs;
    m_pendingBounded = false;
    JudgeStep step;
    step.done = false;
    step.deadlineNs = deadlineNs;
    step.dueBytes = dueBytes;
    return step;
}

// A wait for more of the answer, ended at the answer's bound where it would
// go on past it.
JudgeStep AnswerJudge::waitBounded(Pending pending, qint64 deadlineNs, int dueBytes)
{
    const qint64 bound = answerBoundNs();
    const JudgeStep step = waitFor(pending, qMin(deadlineNs, bound), dueBytes);
    m_pendingBounded = deadlineNs > bound;
    return step;
}

qint64 AnswerJudge::answerBoundNs() const
{
    return firstByteDeadlineNs() + qint64(m_request.answerLength()) * m_set.characterNs + kAnswerSlackNs;
}

// Bytes kept coming until the bound: what came is judged as on a quiet line.
void AnswerJudge::noteNeverSilent()
{
    if (m_neverSilent)
        return;
    m_neverSilent = true;
    JudgeEvent event(JudgeEvent::NeverSilent);
    event.length = m_receivedSinceSend;
    event.latenessNs = m_nowNs - m_requestOnWireNs;
    note(event);
}

JudgeStep AnswerJudge::done()
{
    m_framed = true;
    m_pending = Pending::None;
    return JudgeStep();
}

JudgeStep AnswerJudge::topUp(int wanted, qint64 nowNs) const
{
    if (m_input.size() >= wanted)
        return JudgeStep();
    const bool started = m_receivedSinceSend > 0;
    const qint64 start = m_requestSentNs ? m_requestSentNs : nowNs;
    const qint64 bound = start + m_set.answerTimeoutNs + qint64(wanted) * m_set.characterNs + kAnswerSlackNs;
    JudgeStep step;
    step.done = false;
    step.deadlineNs = qMin(started ? m_lastByteNs + m_set.interCharacterNs : start + m_set.answerTimeoutNs, bound);
    step.dueBytes = started ? wanted - m_input.size() : 0;
    return step;
}

// Before the first byte is handed over: drops what cannot be the answer to
// the request just sent and waits for what can.
JudgeStep AnswerJudge::frameAnswer(WaitEnd last)
{
    if (m_framed)
        return JudgeStep();
    if (!m_request.isKnown())
        return done();
    if (m_request.isBroadcast()) {
        m_quietUntilNs = m_requestSentNs + kBroadcastTurnaroundNs;
        return done();
    }
    const Pending pending = m_pending;
    m_pending = Pending::None;
    if (last == WaitEnd::Quiet) {
        m_nowNs = qMax(m_nowNs, m_pendingDeadlineNs);
        if (m_pendingBounded)
            noteNeverSilent();
    }
    switch (pending) {
    case Pending::None:
    case Pending::Echo:
        m_lineQuiet = false;
        break;
    case Pending::OwnEcho:
        if (last == WaitEnd::Stopped)
            return done();
        if (last == WaitEnd::Quiet)
            m_lineQuiet = true;
        break;
    case Pending::Unclear:
        if (last != WaitEnd::Bytes) {
            if (last == WaitEnd::Quiet)
                noteNoAnswer();
            return done();
        }
        m_lineQuiet = false;
        break;
    case Pending::Rest:
        if (last == WaitEnd::Stopped)
            return done();
        if (last == WaitEnd::Quiet) {
            if (m_input.isEmpty()) {
                noteNoAnswer();
                return done();
            }
            m_lineQuiet = true;
        }
        break;
    case Pending::Itself:
        return judgeItself(last);
    }
    return frameLoop();
}

JudgeStep AnswerJudge::frameLoop()
{
    for (;;) {
        // Bytes that begin as our own request may be its echo: judged whole,
        // before a part of it passes for an answer.
        const int own = ownEchoSoFar();
        if (own == m_request.frame().size()) {
            failEcho(EchoFault::Unexpected, true);
            return done();
        }
        if (own > 0 && !m_lineQuiet) {
            // An answer differs within its own length (a write's
            // acknowledgement repeats the request's first six bytes).
            const int due = qMin(int(m_request.frame().size()), m_request.answerLength()) - own;
            return waitBounded(Pending::OwnEcho, m_lastByteNs + m_set.interCharacterNs, qMax(due, 0));
        }
        const AnswerScan scan = scanAnswer(m_request, m_input.constData(), m_input.size(), m_lineQuiet);
        switch (scan.verdict) {
        case AnswerScan::LateFrame:
            dropLateFrame(scan.length);
            if (m_echoFault != EchoFault::None)
                return done();
            m_lineQuiet = false;
            continue;
        case AnswerScan::Noise:
            dropNoise(scan.length);
            m_lineQuiet = false;
            continue;
        case AnswerScan::Answer:
            if (cameTooEarly(scan.length)) {
                note(JudgeEvent(JudgeEvent::Early));
                dropLateFrame(scan.length);
                if (m_echoFault != EchoFault::None)
                    return done();
                m_lineQuiet = false;
                continue;
            }
            if (isEchoBeforeAnswer(scan.length)) {
                failEcho(EchoFault::Unexpected, false);
            } else if (mayBeOwnEcho(scan.length)) {
                m_itselfLength = scan.length;
                m_itselfArrivedNs = m_lastByteNs;
                return judgeItself(WaitEnd::None);
            } else {
                noteAnswerTaken(scan.length);
            }
            return done();
        case AnswerScan::Unclear: {
            // The start of this request's answer, cut short, fails at once;
            // anything else may be noise before the answer.
            const bool cutShort = !m_input.isEmpty() && quint8(m_input.at(0)) == m_request.station()
                                  && (m_input.size() < 2 || (quint8(m_input.at(1)) & 0x7F) == m_request.function());
            if (cutShort) {
                noteNoAnswer();
                return done();
            }
            return waitFor(Pending::Unclear, m_requestSentNs + m_set.answerTimeoutNs, 0);
        }
        case AnswerScan::Incomplete:
            break;
        }
        // More bytes are needed (scan.length: the whole frame's, if known).
        // With none in, the first may come until the first-byte time-out
        // where one is set, else the answer time-out.
        const bool started = !m_input.isEmpty();
        const qint64 deadline = started ? m_lastByteNs + m_set.interCharacterNs : firstByteDeadlineNs();
        const int due = started && scan.length > 0 ? scan.length - m_input.size() : 0;
        return waitBounded(Pending::Rest, deadline, due);
    }
}

// A drive that answers at all begins within the first-byte time-out where
// one is set (a scan, sweeping the stations fast); once a byte has come,
// the rest is awaited by its length as ever.
qint64 AnswerJudge::firstByteDeadlineNs() const
{
    return m_set.firstByteNs >= 0 ? m_requestOnWireNs + m_set.firstByteNs : m_requestSentNs + m_set.answerTimeoutNs;
}
