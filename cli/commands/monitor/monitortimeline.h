#ifndef SERVOCTL_MONITORTIMELINE_H
#define SERVOCTL_MONITORTIMELINE_H

#include <deque>

#include <QByteArray>
#include <QString>

#include "monitorreport.h"

// monitor --timeline: the traffic heard against time, a row a station:
// each request a bar above the row's line, its answer a bar below, the wait
// between them a thin line, and marks for what went wrong (no answer, a CRC
// error, an exception, a request sent too soon after the line's last
// frame). A slow drive shows as long waits on its row, a hurried master as
// marks before its requests. Only the last kKept transactions are kept.
class MonitorTimeline
{
public:
    static const int kKept = 2000;

    explicit MonitorTimeline(const MonitorJudging &judging) : m_judging(judging) {}
    void add(const Transaction &t);
    int size() const { return int(m_entries.size()); }
    // gnuplot's script and data, as drawPng() takes them.
    QByteArray script(const QString &title) const;
    QByteArray requests() const;
    QByteArray answers() const;
    QByteArray marks() const;
    // Draws into the new file pngPath; false with *error set.
    bool draw(const QString &pngPath, const QString &title, QString *error) const;

private:
    enum Mark { None, NoAnswer, CrcError, Exception, TooSoon, Late };
    struct Entry
    {
        int station = 0;
        qint64 requestBeginNs = -1, requestEndNs = -1, answerBeginNs = -1, answerEndNs = -1;
        Mark mark = None;
        bool tooSoon = false;
    };
    double seconds(qint64 ns) const;
    qint64 onWireUntil(const HeardFrame &frame) const;

    MonitorJudging m_judging;
    std::deque<Entry> m_entries;
};

#endif // SERVOCTL_MONITORTIMELINE_H
