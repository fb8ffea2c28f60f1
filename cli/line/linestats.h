#ifndef SERVOCTL_LINESTATS_H
#define SERVOCTL_LINESTATS_H

#include <map>

#include <QMap>
#include <QString>
#include <QStringList>

// Response times kept in buckets 1 % wide, so that a poll running for days
// takes no more memory than one running for a minute; min and max exact.
class ResponseTimes
{
public:
    void add(qint64 ns);
    qint64 count() const { return m_count; }
    qint64 minNs() const { return m_min; }
    qint64 maxNs() const { return m_max; }
    // The time below which the fraction q (0 to 1) of answers came.
    qint64 quantileNs(double q) const;
    // "min ms  median ms  p99 ms  max ms" as the statistics tables show them.
    QString columns() const;

private:
    QMap<int, qint64> m_buckets;
    qint64 m_count = 0;
    qint64 m_min = 0;
    qint64 m_max = 0;
};

// What one station's requests came to. Each request is one frame sent;
// its outcome is the driver's error text for it.
struct StationStats
{
    qint64 requests = 0;
    qint64 good = 0;
    qint64 timeouts = 0;          // "PLC no response"
    qint64 crcErrors = 0;         // "CRC error"
    QMap<int, qint64> exceptions; // "exception code:0xNN", by code
    qint64 other = 0;             // answers cut short, from another station, or malformed
    qint64 late = 0;              // answers the port dropped as late
    QMap<int, qint64> answeredBy; // frames from other stations to its requests, by station
    qint64 retries = 0;           // requests sent again after a failed one
    ResponseTimes responseTimes;  // of good answers, request sent to answer taken

    qint64 exceptionCount() const;
};

// Per station, in station order.
class LineStats
{
public:
    // A request to station sent; its outcome, the driver's error text for it
    // (empty: answered and taken), after responseNs.
    void addRequest(int station, const QString &driverError, qint64 responseNs, bool retry);
    void addLate(int station);
    // Another station's frame came to a request to asked.
    void addOtherStation(int asked, int station);
    bool isEmpty() const { return m_stations.empty(); }
    const StationStats *station(int station) const;

    // The table: a header and one line per station; then a line for each
    // station that other stations answered.
    QStringList table() const;

private:
    std::map<int, StationStats> m_stations;
};

// Exceptions by code as a table shows them: "06x18" (code 06, 18 times), or 0.
QString exceptionText(const QMap<int, qint64> &exceptions);
// A line for each other station that answered a request to station.
void appendOtherDrives(QStringList *lines, int station, const QMap<int, qint64> &answeredBy);

#endif // SERVOCTL_LINESTATS_H
