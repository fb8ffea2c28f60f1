#include "monitorpairer.h"

namespace {

quint8 byteAt(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? quint8(bytes.at(index)) : 0;
}

// A whole frame with its CRC shaped as an answer, by its own header.
bool isAnswerShaped(const HeardFrame &frame)
{
    return frame.crcOk && rtuAnswerLength(frame.bytes.constData(), frame.bytes.size()) == frame.bytes.size();
}

} // namespace

qint64 Transaction::answerNs() const
{
    if ((kind != Exchange && kind != Late) || !answered() || answer.silenceBeforeNs < 0 || answerCrossed())
        return -1;
    return answer.beginNs - request.endNs;
}

bool Transaction::answerCrossed() const
{
    return (kind == Exchange || kind == Late) && answered() && answer.silenceBeforeNs >= 0
           && answer.beginNs < request.endNs;
}

MonitorPairer::MonitorPairer(qint64 answerWaitNs) : m_answerWaitNs(answerWaitNs)
{
}

bool MonitorPairer::fitsAwaited(const HeardFrame &frame) const
{
    const QByteArray &bytes = frame.bytes;
    // Damaged, it still begins with the station asked, or (that byte hit)
    // with the function.
    if (!frame.crcOk)
        return byteAt(bytes, 0) == byteAt(m_awaited.bytes, 0)
               || (bytes.size() > 1 && (byteAt(bytes, 1) & 0x7F) == byteAt(m_awaited.bytes, 1));
    if (m_awaitedRequest.isKnown())
        return m_awaitedRequest.isAnswer(bytes.constData(), bytes.size());
    // Beyond Modbus's limits and more than a frame can carry: only an
    // exception answers it.
    if (!m_awaitedRequest.beyondLimits().isEmpty())
        return bytes.size() == 5 && byteAt(bytes, 0) == byteAt(m_awaited.bytes, 0)
               && byteAt(bytes, 1) == (byteAt(m_awaited.bytes, 1) | 0x80);
    const quint8 function = byteAt(m_awaited.bytes, 1);
    return byteAt(bytes, 0) == byteAt(m_awaited.bytes, 0)
           && (byteAt(bytes, 1) == function || byteAt(bytes, 1) == (function | 0x80));
}

bool MonitorPairer::takeLate(const HeardFrame &frame, QList<Transaction> *done)
{
    if (!frame.crcOk)
        return false;
    for (auto it = m_unanswered.rbegin(); it != m_unanswered.rend(); ++it) {
        const RtuRequest earlier(it->bytes);
        if (earlier.isAnswer(frame.bytes.constData(), frame.bytes.size())) {
            Transaction late;
            late.kind = Transaction::Late;
            late.request = *it;
            late.answer = frame;
            done->append(late);
            m_unanswered.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

void MonitorPairer::closeAwaited(QList<Transaction> *done)
{
    if (!m_awaiting)
        return;
    Transaction unanswered;
    unanswered.request = m_awaited;
    done->append(unanswered);
    if (m_awaitedRequest.isKnown() && !m_awaitedRequest.isBroadcast()) {
        m_unanswered.push_back(m_awaited);
        if (int(m_unanswered.size()) > maxRemembered())
            m_unanswered.pop_front();
    }
    m_awaiting = false;
}

void MonitorPairer::add(const HeardFrame &frame, QList<Transaction> *done)
{
    if (frame.isEmpty())
        return;
    idle(frame.beginNs, done);
    if (m_awaiting && fitsAwaited(frame)) {
        Transaction exchange;
        exchange.request = m_awaited;
        exchange.answer = frame;
        done->append(exchange);
        m_awaiting = false;
        return;
    }
    if (takeLate(frame, done))
        return;
    if (!frame.crcOk || frame.bytes.size() < 4) {
        Transaction noise;
        noise.kind = Transaction::Noise;
        noise.answer = frame;
        done->append(noise);
        return;
    }
    const RtuRequest request(frame.bytes);
    if (!request.isKnown() && isAnswerShaped(frame)) {
        Transaction unasked;
        unasked.kind = Transaction::Unasked;
        unasked.answer = frame;
        unasked.askedStation = m_awaiting ? byteAt(m_awaited.bytes, 0) : -1;
        done->append(unasked);
        return;
    }
    closeAwaited(done);
    if (request.isBroadcast()) {
        Transaction broadcast; // nothing answers it
        broadcast.request = frame;
        done->append(broadcast);
        return;
    }
    m_awaited = frame;
    m_awaitedRequest = request;
    m_awaiting = true;
}

void MonitorPairer::idle(qint64 nowNs, QList<Transaction> *done)
{
    if (m_awaiting && nowNs >= deadlineNs())
        closeAwaited(done);
}

qint64 MonitorPairer::deadlineNs() const
{
    return m_awaiting ? m_awaited.endNs + m_answerWaitNs : -1;
}

void MonitorPairer::finish(QList<Transaction> *done)
{
    closeAwaited(done);
}
