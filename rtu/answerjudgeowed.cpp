// What each station owes: answers taken or not, late and early frames,
// stations out of step, and what came unasked.

#include "answerjudge.h"

#include <algorithm>
#include <cstring>

#include "answerjudge_p.h"

using namespace answerjudge;

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
    bool held = true; // and whether that one held look-alike requests back
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
                           && before.answersLookAlike(m_request) && before.frame() != m_request.frame());
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
    if (m_set.matchedAnswers)
        return;
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
