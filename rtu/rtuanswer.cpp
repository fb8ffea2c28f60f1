#include "rtuanswer.h"

#include <cstring>

#include "modbuscrc.h"

namespace {

const int kExceptionLength = 5;
const int kReadAnswerOverhead = 5; // station, function, byte count, CRC
const int kEchoOffset = 2;         // address and value or quantity
const int kEchoLength = 4;

bool isRead(quint8 function)
{
    return function >= 1 && function <= 4;
}

bool isWholeFrame(const char *data, int size, int length)
{
    return length > 0 && size >= length && hasValidModbusCrc(data, length);
}

// Could a frame begin at data: this request's answer by its first two
// bytes, or any whole frame with its CRC?
bool startsFrame(const RtuRequest &request, const char *data, int size)
{
    if (size >= 2 && quint8(data[0]) == request.station() && (quint8(data[1]) & 0x7F) == request.function()) {
        return true;
    }
    return isWholeFrame(data, size, rtuAnswerLength(data, size));
}

// The start of the bytes alone: Incomplete, Answer, LateFrame, or Unclear
// when they begin no frame.
AnswerScan judgeStart(const RtuRequest &request, const char *data, int size)
{
    if (size < 2)
        return {AnswerScan::Incomplete, -1};
    const quint8 station = quint8(data[0]);
    const quint8 function = quint8(data[1]);
    const int own = rtuAnswerLength(data, size);
    if (station == request.station() && function == (request.function() | 0x80))
        return {size >= kExceptionLength ? AnswerScan::Answer : AnswerScan::Incomplete, kExceptionLength};
    if (station == request.station() && function == request.function()) {
        const int expected = request.answerLength();
        if (own < 0)
            return {AnswerScan::Incomplete, expected};
        if (own != expected) { // another byte count: a whole frame of its own length?
            if (size < own)
                return {AnswerScan::Incomplete, own};
            if (isWholeFrame(data, size, own))
                return {AnswerScan::LateFrame, own};
        }
        if (size < expected)
            return {AnswerScan::Incomplete, expected};
        if (request.isNormalAnswer(data, expected))
            return {AnswerScan::Answer, expected};
        if (isWholeFrame(data, size, expected))
            return {AnswerScan::LateFrame, expected}; // its length, another's fields
        return {AnswerScan::Answer, expected};        // damaged on the line
    }
    if (own < 0 || (own > 0 && size < own))
        return {AnswerScan::Incomplete, own};
    if (isWholeFrame(data, size, own))
        return {AnswerScan::LateFrame, own};
    return {AnswerScan::Unclear, size};
}

} // namespace

RtuRequest::RtuRequest(const QByteArray &frame)
    : m_frame(frame), m_answerLength(rtuAnswerLengthFor(frame.constData(), frame.size()))
{
}

QString RtuRequest::beyondLimits() const
{
    if (m_frame.size() < 6)
        return QString();
    const quint8 f = function();
    const int most = f == 1 || f == 2 ? 2000 : f == 3 || f == 4 ? 125 : f == 15 ? 1968 : f == 16 ? 123 : 0;
    const int quantity = quint8(m_frame.at(4)) << 8 | quint8(m_frame.at(5));
    if (most == 0 || (quantity >= 1 && quantity <= most))
        return QString();
    const char *items = f == 1 || f == 2 || f == 15 ? "bits" : "registers";
    return QStringLiteral("%1 %2, Modbus allows 1 to %3").arg(quantity).arg(QLatin1String(items)).arg(most);
}

bool RtuRequest::isNormalAnswer(const char *data, int size) const
{
    if (!isKnown() || size != m_answerLength || quint8(data[0]) != station() || quint8(data[1]) != function()) {
        return false;
    }
    if (isRead(function()))
        return quint8(data[2]) == m_answerLength - kReadAnswerOverhead;
    return std::memcmp(data + kEchoOffset, m_frame.constData() + kEchoOffset, kEchoLength) == 0;
}

bool RtuRequest::isExceptionAnswer(const char *data, int size) const
{
    return isKnown() && size == kExceptionLength && quint8(data[0]) == station()
           && quint8(data[1]) == (function() | 0x80);
}

bool RtuRequest::answersLookAlike(const RtuRequest &other) const
{
    if (!isKnown() || !other.isKnown() || station() != other.station() || function() != other.function()
        || m_answerLength != other.m_answerLength) {
        return false;
    }
    return isRead(function())
           || std::memcmp(m_frame.constData() + kEchoOffset, other.m_frame.constData() + kEchoOffset, kEchoLength) == 0;
}

bool RtuRequest::canBeItsOwnAnswer() const
{
    return isKnown() && !isBroadcast() && m_frame.size() == m_answerLength
           && isNormalAnswer(m_frame.constData(), m_frame.size());
}

AnswerScan scanAnswer(const RtuRequest &request, const char *data, int size, bool lineQuiet)
{
    const AnswerScan start = judgeStart(request, data, size);
    if (start.verdict == AnswerScan::Answer || start.verdict == AnswerScan::LateFrame)
        return start;
    // No frame begins here (or none has yet): one further on makes this noise.
    if (start.verdict == AnswerScan::Unclear || lineQuiet) {
        for (int k = 1; k < size; ++k) {
            if (startsFrame(request, data + k, size - k))
                return {AnswerScan::Noise, k};
        }
    }
    if (lineQuiet)
        return {AnswerScan::Unclear, size};
    // A whole answer further on ends what began before it: frames on one
    // line do not interleave, so that start was noise, not a frame still
    // coming. (An answer of the request's length cannot lie inside a frame
    // of that length begun before it.)
    const int expected = request.answerLength();
    for (int k = 1; request.isKnown() && k + expected <= size; ++k) {
        if (request.isNormalAnswer(data + k, expected) && isWholeFrame(data + k, size - k, expected))
            return {AnswerScan::Noise, k};
    }
    return start.verdict == AnswerScan::Unclear ? AnswerScan{AnswerScan::Incomplete, -1} : start;
}
