#ifndef SERVOCTL_POLLSTATUS_H
#define SERVOCTL_POLLSTATUS_H

#include <QList>
#include <QString>

class LineStats;

// What slows a poll down, summed over the stations polled.
struct PollTrouble
{
    qint64 retries = 0;
    qint64 timeouts = 0;
    qint64 crcErrors = 0;

    // The stations' counts in stats so far.
    static PollTrouble of(const LineStats &stats, const QList<int> &stations);
    PollTrouble operator-(const PollTrouble &before) const;
};

// Why a poll is slower than asked, while it happens: "cycle 1043 ms (every
// 20 ms asked): 3 retries, 1 time-out, 2 CRC errors", or with since (the
// trouble counted over more than that cycle) "...; since poll 4: 3
// retries, ..."; empty when a cycle of cycleNs kept to the interval and
// nothing was retried. Pure.
QString pollStatus(qint64 cycleNs, int intervalMs, const PollTrouble &trouble, const QString &since = QString());

#endif // SERVOCTL_POLLSTATUS_H
