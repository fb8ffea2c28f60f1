// The request's echo: read back where the line has local echo, told from
// an answer identical to the request where it has none.

#include "answerjudge.h"

#include <algorithm>
#include <cstring>

#include "answerjudge_p.h"

using namespace answerjudge;

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
                       m_echoStarted ? m_lastByteNs + m_set.interCharacterNs : m_requestSentNs + m_set.answerTimeoutNs,
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
    const bool tooLateForEcho = !m_set.keepsNoTime && m_itselfArrivedNs >= m_requestSentNs + m_set.interCharacterNs;
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
