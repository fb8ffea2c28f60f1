#ifndef SERVOCTL_GATEWAYSTATS_H
#define SERVOCTL_GATEWAYSTATS_H

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// What the gateway did for one client or one station: each request's end,
// and how long it waited in the queue for the line.
class GatewayTally
{
public:
    enum End {
        Answered,  // the drive's normal answer passed back
        Exception, // an exception passed back or made here (code)
        TimedOut,  // no usable answer: 0x0B
        Uncertain, // the judgement doubted the answer: 0x0B
        Broadcast  // sent, not answered
    };
    void add(End end, int code, qint64 queueWaitNs);
    qint64 requests() const { return m_requests; }
    // "12 requests, 10 answers, exceptions 1 of 0x02 and 1 of 0x0B, 0
    // time-outs, 0 uncertain, queue wait p50 0.1 ms p99 0.4 ms".
    QString text() const;

private:
    double waitPercentileMs(double fraction) const;

    qint64 m_requests = 0, m_answers = 0, m_timeouts = 0, m_uncertain = 0, m_broadcasts = 0;
    QMap<int, qint64> m_exceptions; // by code
    QVector<qint64> m_waits;        // the last kKeptWaits, a ring
    int m_nextWait = 0;
};

// The tallies by station, for the statistics on demand (SIGUSR1) and at exit.
class GatewayStats
{
public:
    GatewayTally &station(int unit) { return m_stations[unit]; }
    GatewayTally &total() { return m_total; }
    // A line a station, then the total.
    QStringList lines() const;

private:
    QMap<int, GatewayTally> m_stations;
    GatewayTally m_total;
};

#endif // SERVOCTL_GATEWAYSTATS_H
