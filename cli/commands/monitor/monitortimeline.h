#ifndef SERVOCTL_MONITORTIMELINE_H
#define SERVOCTL_MONITORTIMELINE_H

#include <deque>

#include <QByteArray>
#include <QString>

#include "monitorreport.h"

// monitor --timeline: the traffic heard against time, a row a station:
// each request a bar above the row's line, its answer a bar below, the wait
// between them a thin line, and marks for what went wrong (no answer, a CRC
// error, an exception with its code, a request sent too soon after the
// line's last frame). A slow drive shows as long waits on its row, a
// hurried master as marks before its requests. Bars keep a few pixels'
// width however long the listening, so none vanishes. Only the last kKept
// transactions are kept.
class MonitorTimeline
{
public:
    static const int kKept = 2000;

    explicit MonitorTimeline(const MonitorJudging &judging) : m_judging(judging) {}
    void add(const Transaction &t);
    int size() const { return int(m_entries.size()); }
    // gnuplot's script and data, as drawPng() takes them; the clock's
    // offset makes the monotonic times of the frames wall-clock times.
    QByteArray script(const QString &title, qint64 realtimeMinusMonotonicNs) const;
    QByteArray requests() const;
    QByteArray answers() const;
    QByteArray marks() const;
    // Draws into the new file pngPath; false with *error set.
    bool draw(const QString &pngPath, const QString &title, qint64 realtimeMinusMonotonicNs, QString *error) const;

private:
    enum Mark { None, NoAnswer, CrcError, Exception, TooSoon, Late };
    struct Entry
    {
        int station = 0;
        qint64 requestBeginNs = -1, requestEndNs = -1, answerBeginNs = -1, answerEndNs = -1;
        Mark mark = None;
        int exception = -1; // its code, with Exception
        bool tooSoon = false;
    };
    qint64 originNs() const;
    double seconds(qint64 ns) const;
    // A bar's end: at least kMinBarShare of the whole span after its start.
    double barEnd(qint64 fromNs, qint64 toNs) const;
    qint64 onWireUntil(const HeardFrame &frame) const;

    MonitorJudging m_judging;
    std::deque<Entry> m_entries;
};

#endif // SERVOCTL_MONITORTIMELINE_H
