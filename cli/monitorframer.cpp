#include "monitorframer.h"

#include "modbuscrc.h"

MonitorFramer::MonitorFramer(qint64 characterNs, qint64 silentIntervalNs)
    : m_characterNs(characterNs)
    , m_silentNs(silentIntervalNs)
{
}

void MonitorFramer::finish(QList<HeardFrame> *frames)
{
    m_current.silenceBeforeNs = m_lastEndNs < 0 ? -1 : m_current.beginNs - m_lastEndNs;
    m_lastEndNs = m_current.endNs;
    // Two frames read at once (a reader that was late, a pseudo-terminal):
    // a whole frame with its CRC at the start is one. Its follower's
    // silence cannot be known.
    while (!hasValidModbusCrc(m_current.bytes)) {
        int whole = 4;
        while (whole < m_current.bytes.size() && !hasValidModbusCrc(m_current.bytes.constData(), whole))
            ++whole;
        if (whole >= m_current.bytes.size())
            break;
        HeardFrame first = m_current;
        first.bytes.truncate(whole);
        first.crcOk = true;
        frames->append(first);
        m_current.bytes.remove(0, whole);
        m_current.silenceBeforeNs = -1;
    }
    m_current.crcOk = hasValidModbusCrc(m_current.bytes);
    frames->append(m_current);
    m_current = HeardFrame();
}

void MonitorFramer::append(const char *data, int size, qint64 nowNs, QList<HeardFrame> *frames)
{
    if (size <= 0)
        return;
    if (!m_current.isEmpty()) {
        const qint64 gap = nowNs - m_current.endNs;
        const bool silent = gap >= m_silentNs;
        const bool wholeBefore = 2 * gap > 3 * m_characterNs && hasValidModbusCrc(m_current.bytes);
        if (silent || wholeBefore)
            finish(frames);
        else
            m_current.longestGapNs = qMax(m_current.longestGapNs, gap);
    }
    while (size > 0) {
        if (m_current.isEmpty())
            m_current.beginNs = nowNs;
        const int take = qMin(size, maxFrame() - m_current.bytes.size());
        m_current.bytes.append(data, take);
        m_current.endNs = nowNs;
        data += take;
        size -= take;
        if (m_current.bytes.size() >= maxFrame())
            finish(frames);
    }
}

qint64 MonitorFramer::deadlineNs() const
{
    return m_current.isEmpty() ? -1 : m_current.endNs + m_silentNs;
}

bool MonitorFramer::takeAtSilence(qint64 nowNs, QList<HeardFrame> *frames, bool force)
{
    if (m_current.isEmpty() || (!force && nowNs < deadlineNs()))
        return false;
    finish(frames);
    return true;
}
