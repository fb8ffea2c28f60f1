#include "rtuframer.h"

#include "modbuscrc.h"

int RtuFramer::requestLength(const QByteArray &buffer)
{
    if (buffer.size() < 2)
        return -1;
    const quint8 function = quint8(buffer[1]);
    if (function >= 1 && function <= 6)
        return 8;
    if (function == 15 || function == 16)
        return buffer.size() < 7 ? -1 : 9 + quint8(buffer[6]);
    return 0;
}

void RtuFramer::append(const char *data, int length)
{
    if (length <= 0)
        return;
    m_buffer.append(data, length);
    const int excess = m_buffer.size() - maxBuffered();
    if (excess > 0) {
        m_buffer.remove(0, excess);
        m_discarded += excess;
    }
}

bool RtuFramer::takeFrame(QByteArray *frame)
{
    for (;;) {
        const int length = requestLength(m_buffer);
        if (length < 0)
            return false;
        if (length == 0)
            return takeBeforeKnownRequest(frame);
        if (m_buffer.size() < length)
            return false;
        const QByteArray candidate = m_buffer.left(length);
        if (hasValidModbusCrc(candidate)) {
            m_buffer.remove(0, length);
            *frame = candidate;
            return true;
        }
        m_buffer.remove(0, 1);
        ++m_discarded;
    }
}

// The buffer begins with a function of unknown length. If a complete known
// request follows further on, what lies before it ends there: a frame of
// its own when its CRC holds, noise otherwise.
bool RtuFramer::takeBeforeKnownRequest(QByteArray *frame)
{
    for (int start = 1; start + 8 <= m_buffer.size(); ++start) {
        const QByteArray rest = m_buffer.mid(start);
        const int length = requestLength(rest);
        if (length <= 0 || rest.size() < length || !hasValidModbusCrc(rest.left(length)))
            continue;
        const QByteArray before = m_buffer.left(start);
        m_buffer.remove(0, start);
        if (hasValidModbusCrc(before)) {
            *frame = before;
            return true;
        }
        m_discarded += start;
        return takeFrame(frame);
    }
    return false;
}

QByteArray RtuFramer::takeAtSilence()
{
    const QByteArray rest = m_buffer;
    m_buffer.clear();
    return rest;
}
