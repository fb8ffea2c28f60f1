#include "monitorframer.h"

#include "modbuscrc.h"
#include "rtulength.h"

namespace {

// The length of a whole frame with its CRC at the start of the bytes, by
// what its header says it is (an answer, or a request of a known shape);
// 0 when none is there. Only these lengths are tried, so that a CRC that
// happens to match inside a frame does not cut it.
int wholeFrameAtStart(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const int size = bytes.size();
    for (const int length : {rtuAnswerLength(data, size), rtuRequestLength(data, size)}) {
        if (length >= 4 && length < size && hasValidModbusCrc(data, length))
            return length;
    }
    return 0;
}

// Where the first whole frame with its CRC that more bytes follow begins
// after something else (noise read together with the frames after it); 0
// when none does.
int wholeFrameAfter(const QByteArray &bytes)
{
    for (int at = 1; at + 4 < bytes.size(); ++at) {
        if (wholeFrameAtStart(bytes.mid(at)) > 0)
            return at;
    }
    return 0;
}

// Where a whole frame with its CRC ends the bytes, after something else (a
// burst of noise read together with the frame after it); 0 when none does.
int wholeFrameAtEnd(const QByteArray &bytes)
{
    for (int at = 1; at + 4 <= bytes.size(); ++at) {
        const QByteArray rest = bytes.mid(at);
        if (wholeFrameAtStart(rest + QByteArray(1, '\0')) == rest.size())
            return at;
    }
    return 0;
}

} // namespace

MonitorFramer::MonitorFramer(qint64 characterNs, qint64 silentIntervalNs, bool wholeFrames)
    : m_characterNs(characterNs), m_silentNs(silentIntervalNs), m_wholeFrames(wholeFrames)
{
}

void MonitorFramer::deliver(HeardFrame frame, QList<HeardFrame> *frames)
{
    if (m_wholeFrames) {
        frame.endNs = qMax(frame.endNs, frame.beginNs + qint64(frame.bytes.size()) * m_characterNs);
        frame.longestGapNs = 0;
    }
    m_lastEndNs = frame.endNs;
    frames->append(frame);
}

const MonitorFramer::Read *MonitorFramer::readAt(int offset) const
{
    for (const Read &read : m_reads) {
        if (read.offset == offset)
            return &read;
    }
    return nullptr;
}

qint64 MonitorFramer::longestIdle(int from, int to) const
{
    qint64 longest = 0;
    for (const Read &read : m_reads) {
        if (read.offset > from && read.offset < to)
            longest = qMax(longest, read.idleBeforeNs);
    }
    return longest;
}

void MonitorFramer::finish(QList<HeardFrame> *frames)
{
    split(frames, false);
}

// Frames that piled up (a reader that was late) fill the frame in progress
// to its bound with no silence to split them by: the whole frames it begins
// with are split off as frames read at once are, and what follows the last
// of them stays in progress, to be completed by the bytes after it.
void MonitorFramer::splitAtBound(QList<HeardFrame> *frames)
{
    const int before = m_current.bytes.size();
    split(frames, true);
    if (m_current.bytes.size() == before)
        finish(frames); // no frame in it: noise, delivered whole
}

void MonitorFramer::split(QList<HeardFrame> *frames, bool keepRest)
{
    // Times that are estimates can cross (a late read); the line was then
    // silent for no time at all. A rest kept from a split has its own.
    if (!m_continued)
        m_current.silenceBeforeNs = m_lastEndNs < 0 ? -1 : qMax<qint64>(0, m_current.beginNs - m_lastEndNs);
    // Two frames in one run of bytes: a whole frame with its CRC at the
    // start is one. Where the next began with a read of its own, the line
    // was idle less than 1.5 characters between them (a master that keeps
    // no silence), by that read's time; within one read (a reader that was
    // late, a pseudo-terminal) its silence cannot be known.
    bool splitAny = false;
    int consumed = 0;
    while (!hasValidModbusCrc(m_current.bytes)) {
        int whole = wholeFrameAtStart(m_current.bytes);
        if (whole == 0) // noise before a frame: that goes first
            whole = keepRest ? wholeFrameAfter(m_current.bytes) : wholeFrameAtEnd(m_current.bytes);
        if (whole == 0)
            break;
        const Read *next = m_wholeFrames ? nullptr : readAt(consumed + whole);
        HeardFrame first = m_current;
        first.bytes.truncate(whole);
        first.crcOk = hasValidModbusCrc(first.bytes);
        if (next) {
            first.endNs = next->readNs - qint64(next->size) * m_characterNs - qMax<qint64>(0, next->idleBeforeNs);
            first.longestGapNs = longestIdle(consumed, consumed + whole);
        }
        deliver(first, frames);
        m_current.bytes.remove(0, whole);
        consumed += whole;
        m_current.beginNs = frames->last().endNs;
        m_current.silenceBeforeNs = -1;
        if (next) {
            m_current.silenceBeforeNs = qMax<qint64>(0, next->idleBeforeNs);
            m_current.beginNs += m_current.silenceBeforeNs;
            m_current.longestGapNs = longestIdle(consumed, consumed + m_current.bytes.size());
        }
        splitAny = true;
    }
    if (keepRest) {
        // The reads are counted from the rest's first byte on.
        QList<Read> rest;
        for (Read read : qAsConst(m_reads)) {
            if (read.offset + read.size <= consumed)
                continue;
            const int cut = qMax(0, consumed - read.offset);
            read.offset = read.offset + cut - consumed;
            read.size -= cut;
            rest.append(read);
        }
        m_reads = rest;
        m_continued = consumed > 0;
        return;
    }
    m_current.crcOk = hasValidModbusCrc(m_current.bytes);
    deliver(m_current, frames);
    m_current = HeardFrame();
    m_reads.clear();
    m_continued = false;
    // Where whole frames come as they begin, two at once mean the reader was
    // late: when the last of them ended is not known either.
    if (splitAny && m_wholeFrames)
        m_lastEndNs = -1;
}

void MonitorFramer::append(const char *data, int size, qint64 nowNs, QList<HeardFrame> *frames)
{
    if (size <= 0)
        return;
    // A UART hands a character over once its stop bit is in, so the first of
    // the bytes read now began their characters' time ago (at the latest);
    // whole frames come as they begin.
    const qint64 firstBeganNs = m_wholeFrames ? nowNs : nowNs - qint64(size) * m_characterNs;
    qint64 idle = -1;
    if (!m_current.isEmpty()) {
        const qint64 gap = firstBeganNs - m_current.endNs; // the line idle between the bytes
        const bool silent = gap >= m_silentNs;
        const bool wholeBefore = 2 * gap > 3 * m_characterNs && hasValidModbusCrc(m_current.bytes);
        if (silent || wholeBefore) {
            finish(frames);
        } else {
            m_current.longestGapNs = qMax(m_current.longestGapNs, gap);
            idle = gap;
        }
    }
    bool first = true;
    while (size > 0) {
        if (m_current.isEmpty())
            m_current.beginNs = first ? firstBeganNs : nowNs;
        first = false;
        const int take = qMin(size, maxFrame() - m_current.bytes.size());
        m_reads.append({int(m_current.bytes.size()), take, nowNs, m_current.isEmpty() ? -1 : idle});
        m_current.bytes.append(data, take);
        m_current.endNs = nowNs;
        data += take;
        size -= take;
        if (m_current.bytes.size() >= maxFrame())
            splitAtBound(frames);
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
