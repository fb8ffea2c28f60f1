#include "rtuframer.h"

#include "modbuscrc.h"
#include "rtulength.h"

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
    // Noise is skipped by moving a start index, and the buffer is cut once:
    // removing byte by byte would move the buffer once per byte of noise.
    const char *data = m_buffer.constData();
    const int size = m_buffer.size();
    int start = 0;
    bool found = false;
    for (;;) {
        const int length = rtuRequestLength(data + start, size - start);
        if (length <= 0 || size - start < length)
            break;
        if (hasValidModbusCrc(data + start, length)) {
            *frame = m_buffer.mid(start, length);
            m_buffer.remove(0, start + length);
            found = true;
            break;
        }
        ++start;
    }
    m_discarded += start;
    if (!found) {
        m_buffer.remove(0, start);
        if (rtuRequestLength(m_buffer.constData(), m_buffer.size()) == 0)
            return takeBeforeKnownRequest(frame);
    }
    return found;
}

// The buffer begins with a function of unknown length. If a complete known
// request follows further on, what lies before it ends there: a frame of
// its own when its CRC holds, noise otherwise.
bool RtuFramer::takeBeforeKnownRequest(QByteArray *frame)
{
    const char *data = m_buffer.constData();
    const int size = m_buffer.size();
    for (int start = 1; start + 8 <= size; ++start) {
        const int length = rtuRequestLength(data + start, size - start);
        if (length <= 0 || size - start < length || !hasValidModbusCrc(data + start, length))
            continue;
        const bool isFrame = hasValidModbusCrc(data, start);
        if (isFrame)
            *frame = m_buffer.left(start);
        else
            m_discarded += start;
        m_buffer.remove(0, start);
        return isFrame || takeFrame(frame);
    }
    return false;
}

QByteArray RtuFramer::takeAtSilence()
{
    const QByteArray rest = m_buffer;
    m_buffer.clear();
    return rest;
}
