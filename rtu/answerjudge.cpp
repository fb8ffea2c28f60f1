#include "answerjudge.h"

#include <algorithm>
#include <cstring>

#include "modbuscrc.h"

namespace {

const qint64 kMs = 1000000;
// A drive that stalls leaves every request sent meanwhile owed; evicting one
// would let its late answer pass unflagged.
const int kMaxOwedAnswers = 64;
// A debt file's count of carries, kept sane whoever wrote it.
const int kMaxCarriedKept = 1 << 20;
// Step checks read at most this many registers or bits.
const int kMaxCheckRegisters = 125;
const int kMaxCheckBits = 2000;
const qint64 kMinOwedMemoryNs = 30000 * kMs;
// What the drives get to carry out a broadcast before the next request:
// the turnaround delay masters commonly keep.
const qint64 kBroadcastTurnaroundNs = 200 * kMs;
// A line that never falls silent does not grow the input beyond this.
const int kMaxInput = 1024;
// Arrival times kept for the input's bytes; older ones take a later time.
const int kMaxArrivals = 64;
// An answer on the wire may be this many characters shorter than its
// length says (a drive's clock runs up to a few per cent fast).
const int kEarlySlackCharacters = 2;

bool isWholeFrameAt(const char *data, int size, int *length)
{
    *length = rtuAnswerLength(data, size);
    return *length > 0 && size >= *length && hasValidModbusCrc(data, *length);
}

} // namespace

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
        if (request.isKnown() && owed.sentNs <= nowNs && owed.sentNs + memory > nowNs
            && m_owed.size() < kMaxOwedAnswers) {
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
        if (!check.canBeItsOwnAnswer()
            && std::none_of(alike.begin(), alike.end(),
                            [&](const RtuRequest &r) { return r.answersLookAlike(check); })) {
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

// With local echo: the request just sent comes back, byte for byte, before
// any answer.
JudgeStep AnswerJudge::readEcho(WaitEnd last, bool *ok)
{
    *ok = false;
    const QByteArray &sent = m_request.frame();
    if (m_pending == Pending::Echo) {
        m_pending = Pending::None;
        if (last == WaitEnd::Stopped)
            return JudgeStep();
        if (last == WaitEnd::Quiet) {
            m_nowNs = qMax(m_nowNs, m_pendingDeadlineNs);
            if (!m_echoStarted) {
                failEcho(EchoFault::Missing, true);
                return JudgeStep();
            }
            goto garbled;
        }
    }
    for (;;) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        const int compared = qMin(size, sent.size());
        const bool matches = std::memcmp(data, sent.constData(), size_t(compared)) == 0;
        if (matches && compared == sent.size()) {
            m_input.remove(0, compared);
            m_receivedSinceSend = m_input.size();
            JudgeEvent echo(JudgeEvent::Echo);
            echo.length = compared;
            note(echo);
            *ok = true;
            return JudgeStep();
        }
        int frame = -1;
        if (!matches && isWholeFrameAt(data, size, &frame)) {
            // A whole frame where the echo belongs: the answer itself, so
            // nothing echoes; or a late answer just before the echo.
            if (m_request.isAnswer(data, frame)) {
                failEcho(EchoFault::Missing, false);
                return JudgeStep();
            }
            dropLateFrame(frame);
            continue;
        }
        // Changed: judged once as many bytes are in, or a frame begun is whole.
        if (!matches && size >= sent.size() && frame <= size)
            break;
        m_echoStarted = size > 0;
        const int due = m_echoStarted ? qMax(int(sent.size()), frame) - size : 0;
        return waitFor(Pending::Echo,
                       m_echoStarted ? m_lastByteNs + m_set.interCharacterNs
                                     : m_requestSentNs + m_set.answerTimeoutNs,
                       due);
    }
garbled:
    JudgeEvent garbled(JudgeEvent::Garbled);
    garbled.heard = m_input.left(sent.size());
    garbled.length = garbled.heard.size();
    m_input.remove(0, garbled.length);
    note(garbled);
    // The drive may have heard it whole: its answer gets a quiet line.
    m_echoGarbled = true;
    m_framed = true;
    m_quietUntilNs = m_nowNs + m_set.answerTimeoutNs;
    return JudgeStep();
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
    return m_set.firstByteNs >= 0 ? m_requestOnWireNs + m_set.firstByteNs
                                  : m_requestSentNs + m_set.answerTimeoutNs;
}

// Without local echo, on a line not known silent: the answer taken is byte
// for byte the request, which its echo is too. An echo comes while the
// request is on the wire (a USB adapter hands it over up to the
// inter-character time-out later); an acknowledgement no sooner than a
// silent interval and its own characters after the request. A drive's
// answer follows an echo within the answer time-out. tcdrain() may return
// late on a USB adapter, so a frame that seems too early for an
// acknowledgement is not taken for an echo on its timing alone.
JudgeStep AnswerJudge::judgeItself(WaitEnd last)
{
    const int length = m_itselfLength;
    if (last == WaitEnd::Stopped) {
        m_input.clear();
        return done();
    }
    const qint64 earliestAnswer = m_requestSentNs + m_set.silentIntervalNs
                                  + qint64(m_request.answerLength()) * m_set.characterNs;
    // A far end that keeps no time (a pseudo-terminal): only what follows tells.
    const bool tooLateForEcho =
        !m_set.keepsNoTime && m_itselfArrivedNs >= m_requestSentNs + m_set.interCharacterNs;
    // After one left in doubt the silence tells nothing new: no second wait.
    if (last != WaitEnd::Quiet && !tooLateForEcho && !m_echoDoubt && !answerFollows(length))
        return waitFor(Pending::Itself, m_requestSentNs + m_set.answerTimeoutNs, 0);
    if (m_input.size() < length || QByteArray::fromRawData(m_input.constData(), length) != m_request.frame())
        return frameLoop(); // a flood of noise pushed it out: framed anew
    if (answerFollows(length)) {
        failEcho(EchoFault::Unexpected, false);
    } else if (m_itselfArrivedNs >= earliestAnswer) {
        m_shownSilent = true; // nothing followed what came as an acknowledgement would
        noteAnswerTaken(length);
    } else {
        // Sooner than an acknowledgement can come on a wire, and nothing
        // followed: an echo of a request no drive answered, or a far end that
        // keeps no wire time (a simulator without pacing).
        m_echoDoubt = true;
        note(JudgeEvent(JudgeEvent::UncertainEcho));
        // Perhaps no drive answered: what the station owed stays owed. A
        // second answer will still show the echo.
        m_tookItself = m_request;
    }
    return done();
}

// When the input's first length bytes had all come (no later than that).
qint64 AnswerJudge::arrivedByNs(int length) const
{
    const qint64 end = m_receivedTotal - m_input.size() + length;
    for (const Arrival &arrival : m_arrivals) {
        if (arrival.endAt >= end)
            return arrival.atNs;
    }
    return m_lastByteNs;
}

// A frame fitting the request that had all come before the request's last
// character and the frame's own were on the wire: sent before the request
// was heard (a far end that answers twice). Not judged where the far end
// keeps no wire time, nor for a frame identical to the request (its echo's
// judgement decides).
bool AnswerJudge::cameTooEarly(int length) const
{
    if (m_set.keepsNoTime || m_set.characterNs <= 0
        || m_request.frame() == QByteArray::fromRawData(m_input.constData(), length)) {
        return false;
    }
    const qint64 earliest = m_requestOnWireNs + qint64(length - kEarlySlackCharacters) * m_set.characterNs;
    return arrivedByNs(length) < earliest;
}

// Without local echo, a frame identical to the request just sent can only
// be its echo, unless an answer can be the request itself.
bool AnswerJudge::echoIsTellable() const
{
    return !m_set.localEcho && m_request.isKnown() && !m_request.canBeItsOwnAnswer();
}

// How many bytes the input holds of the request just sent, from its start,
// where a frame identical to it can only be its echo; -1 when the input
// begins otherwise or an answer can be the request itself.
int AnswerJudge::ownEchoSoFar() const
{
    const QByteArray &sent = m_request.frame();
    if (!echoIsTellable() || m_input.isEmpty())
        return -1;
    const int compared = qMin(m_input.size(), sent.size());
    return std::memcmp(m_input.constData(), sent.constData(), size_t(compared)) == 0 ? compared : -1;
}

// The line's echo disagrees with the setting: nothing more is judged. With
// owed, the request just sent may still be answered.
void AnswerJudge::failEcho(EchoFault fault, bool owed)
{
    m_echoFault = fault;
    if (owed && m_request.isKnown() && !m_request.isBroadcast())
        owe(m_request, 0);
    JudgeEvent event(JudgeEvent::Fault);
    event.fault = fault;
    event.length = m_input.size();
    note(event);
    m_input.clear();
    m_framed = true;
}

// An answer identical to the request, with a second answer to it already
// in behind it, was its echo (unless an owed request explains the two).
bool AnswerJudge::isEchoBeforeAnswer(int length) const
{
    const char *frame = m_input.constData();
    if (m_set.localEcho || !m_request.canBeItsOwnAnswer()
        || m_request.frame() != QByteArray::fromRawData(frame, length)) {
        return false;
    }
    return answerFollows(length) && !isOwedAnswer(frame, length);
}

// On a line not known silent: the first length bytes are the request
// itself, which no owed request explains.
bool AnswerJudge::mayBeOwnEcho(int length) const
{
    const char *frame = m_input.constData();
    return !m_set.localEcho && !isSilent() && m_request.canBeItsOwnAnswer()
           && m_request.frame() == QByteArray::fromRawData(frame, length) && !isOwedAnswer(frame, length);
}

// Whether a whole frame answering the request follows the first length
// bytes of the input, past other stations' or late whole frames.
bool AnswerJudge::answerFollows(int length) const
{
    const char *data = m_input.constData();
    const int size = m_input.size();
    for (int at = length; at < size;) {
        int next = 0;
        if (!isWholeFrameAt(data + at, size - at, &next))
            return false;
        if (m_request.isAnswer(data + at, next))
            return true;
        at += next;
    }
    return false;
}

// No whole answer came: the request is owed one (bytes in may be noise as
// well as a part of it). After a part of one its rest may still be under
// way.
void AnswerJudge::noteNoAnswer()
{
    owe(m_request, 0);
    if (!m_input.isEmpty())
        m_quietUntilNs = m_nowNs + m_set.answerTimeoutNs;
}

// An answer is about to be handed over. A drive answers in the order it is
// asked: an answer that only this request fits ends what the station owed
// before it. One that could be an owed request's ends what was owed up to
// the earliest such request; those after it, and this one, are still owed
// (the debt is carried on); and when one of them asked something else and
// would get an answer that looks the same, the judge cannot tell which
// request this answers.
void AnswerJudge::noteAnswerTaken(int length)
{
    const char *frame = m_input.constData();
    m_tookItself = RtuRequest();
    if (!hasValidModbusCrc(frame, length)) {
        // Damaged on the line (the driver fails it), or the cut end of an
        // earlier answer: the real one may still come. Owed with no hold, a
        // step check goes before the next look-alike request.
        owe(m_request, 0, false);
        return;
    }
    m_lastFrameNs[m_request.station()] = m_lastByteNs;
    forgetOld(m_nowNs);
    int carried = -1; // of the earliest owed request this could answer
    int earliest = -1;
    bool held = true;  // and whether that one held look-alike requests back
    bool uncertain = false;
    for (int i = 0; i < m_owed.size(); ++i) {
        const RtuRequest &owed = m_owed.at(i).request;
        if (owed.station() != m_request.station() || !owed.isAnswer(frame, length))
            continue;
        if (carried < 0) {
            carried = m_owed.at(i).carried;
            earliest = i;
            held = m_owed.at(i).holdUntilNs > m_owed.at(i).sentNs;
        }
        uncertain = uncertain || (owed.frame() != m_request.frame() && owed.isNormalAnswer(frame, length));
    }
    for (int i = m_owed.size() - 1; i >= 0; --i) {
        if (m_owed.at(i).request.station() == m_request.station() && (earliest < 0 || i <= earliest))
            m_owed.removeAt(i);
    }
    if (uncertain)
        note(JudgeEvent(JudgeEvent::UncertainAnswer));
    // Carried on as long as it lasts: it costs a step check before the next
    // look-alike request, and the first check the drive answers ends it.
    const int station = m_request.station();
    const bool outOfStep = m_outOfStepUntilNs[station] > m_nowNs;
    if (carried >= 0)
        owe(m_request, carried + 1, held);
    else if (outOfStep || m_set.network)
        owe(m_request, 0, false);
    const RtuRequest &before = m_lastTaken[station];
    m_lookAlikeInRow = m_lookAlikeInRow
                       || (m_set.keepsNoTime && !m_set.network && before.isKnown()
                           && before.answersLookAlike(m_request)
                           && before.frame() != m_request.frame());
    m_takenBefore[station] = before;
    m_lastTaken[station] = m_request;
    m_lastTakenSentNs[station] = m_requestSentNs;
    const bool itself = m_request.frame() == QByteArray::fromRawData(frame, length);
    // It may have been the request's echo; a second answer will tell. One
    // that an owed request explains tells nothing.
    if (!m_set.localEcho && carried < 0 && itself)
        m_tookItself = m_request;
    // An echo would have come first.
    if (!m_set.localEcho && !itself)
        m_shownSilent = true;
}

void AnswerJudge::owe(const RtuRequest &request, int carried, bool hold, qint64 sentNs)
{
    if (sentNs < 0)
        sentNs = m_requestSentNs;
    if (m_owed.size() >= kMaxOwedAnswers)
        m_owed.removeFirst();
    m_owed.append(OwedAnswer{request, sentNs, hold ? sentNs + lateHorizonNs() : sentNs, carried});
}

// The frame answers the earliest owed request it fits; that station's
// requests before it are owed nothing more. Its lateness counts from when
// the drive could take that request up: when it had been sent, or when the
// drive's previous answer had come, whichever is later (a drive late with
// one answer is late with the next one it owes too).
void AnswerJudge::dropLateFrame(int length)
{
    const char *frame = m_input.constData();
    if (m_tookItself.isKnown() && m_tookItself.isAnswer(frame, length) && !isOwedAnswer(frame, length)) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    JudgeEvent late(JudgeEvent::Late);
    late.length = length;
    late.station = quint8(frame[0]);
    const bool asked = m_request.isKnown() && late.station == m_request.station();
    if (!asked && !owesStation(late.station)) {
        // Not late: nothing of ours was owed by it. Another drive answered.
        late.kind = JudgeEvent::OtherStation;
        late.askedStation = m_request.isKnown() && !m_request.isBroadcast() ? m_request.station() : -1;
        note(late);
        m_input.remove(0, length);
        return;
    }
    const qint64 previousFrameNs = m_lastFrameNs[late.station];
    m_lastFrameNs[late.station] = m_lastByteNs;
    bool copy = false; // of an answer taken: not late, one too many
    for (int i = 0; i < m_owed.size(); ++i) {
        if (!m_owed.at(i).request.isAnswer(frame, length))
            continue;
        copy = m_owed.at(i).holdUntilNs == m_owed.at(i).sentNs;
        if (!copy)
            late.latenessNs = m_lastByteNs - qMax(m_owed.at(i).sentNs, previousFrameNs);
        for (int k = i; k >= 0; --k) {
            if (m_owed.at(k).request.station() == late.station)
                m_owed.removeAt(k);
        }
        break;
    }
    if (late.latenessNs < 0) {
        // An answer too many: the station is out of step with our requests.
        m_outOfStepUntilNs[late.station] = m_nowNs + owedMemoryNs();
        // It fits the request the station answered last, whose answer may
        // have been the one before's, sent twice.
        const RtuRequest &last = m_lastTaken[late.station];
        const RtuRequest &before = m_takenBefore[late.station];
        if (!copy && last.isKnown() && last.isAnswer(frame, length) && before.isKnown()
            && before.answersLookAlike(last) && before.frame() != last.frame()) {
            late.doubtsLastAnswer = true;
            owe(last, 0, false, m_lastTakenSentNs[late.station]);
            m_lastTaken[late.station] = RtuRequest();
        }
    }
    note(late);
    m_input.remove(0, length);
}

bool AnswerJudge::owesStation(int station) const
{
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.station() == station)
            return true;
    }
    return false;
}

bool AnswerJudge::isOwedAnswer(const char *frame, int length) const
{
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.isAnswer(frame, length))
            return true;
    }
    return false;
}

void AnswerJudge::dropNoise(int length)
{
    JudgeEvent noise(JudgeEvent::Noise);
    noise.length = length;
    note(noise);
    m_input.remove(0, length);
}

// Input that no request awaits: whole frames are late answers, bytes before
// a whole frame are noise, and with dropRest what is left goes too.
void AnswerJudge::settle(bool dropRest)
{
    if (echoIsTellable() && m_input.contains(m_request.frame())) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    while (!m_input.isEmpty()) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        int at = 0;
        int length = 0;
        while (at < size && !isWholeFrameAt(data + at, size - at, &length))
            ++at;
        if (at == size)
            break;
        if (at > 0)
            dropNoise(at);
        dropLateFrame(length);
        if (m_echoFault != EchoFault::None)
            return;
    }
    if (dropRest && !m_input.isEmpty())
        dropNoise(m_input.size());
}
