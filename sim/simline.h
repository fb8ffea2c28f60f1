#ifndef SIMLINE_H
#define SIMLINE_H

#include <map>
#include <mutex>

#include <QByteArray>
#include <QList>
#include <QString>

#include "faultplan.h"
#include "simdrive.h"

// Counters of a simulated line since it was made.
struct SimStats
{
    qint64 frames = 0;        // requests with a valid CRC
    qint64 badFrames = 0;     // frames with a wrong CRC or too short
    qint64 otherStations = 0; // requests for stations not on this line
    qint64 broadcasts = 0;    // requests to station 0
    qint64 answered = 0;      // answers sent (faulty ones included)
    qint64 exceptions = 0;    // illegal requests answered with an exception
    qint64 otherBaud = 0;     // requests sent at another baud rate: garbled, unanswered
    qint64 faults[FaultPlan::KindCount] = {};
};

// What the line sends back for one request.
struct SimAnswer
{
    QByteArray frame;                        // empty: no answer
    QByteArray noiseBefore;                  // sent a silent interval before the frame
    int delayMs = 0;                         // extra wait before answering
    FaultPlan::Kind fault = FaultPlan::None; // the fault injected, if any
};

// Several simulated drives sharing one line. A request for one of its
// stations is executed by that drive and answered; a request to station 0
// (broadcast) is executed by every drive and answered by none; requests for
// other stations and frames with a wrong CRC are ignored, as on a real line.
// Faults are drawn only for requests that would be answered.
//
// Thread-safe: the server thread processes requests while a test or the
// command-line tool reads and changes the drives' data.
class SimLine
{
public:
    // Station numbers outside 1 to 247 are left out (stationlist.h reads a
    // list of them).
    explicit SimLine(const QList<int> &stations, const SimAreaSizes &sizes = SimAreaSizes());

    void setFaults(const FaultPlan &plan, quint64 seed);
    // Every drive of the line plays this model from now on (static at first).
    void setModel(DriveModel model, quint64 seed);
    QList<int> stations() const;

    SimAnswer process(const QByteArray &frame);
    // A request the drives could not make out: the master is at another
    // baud rate.
    void countOtherBaud();

    // 0 for an unknown station or address; setValue then returns false.
    quint16 value(int station, SimArea area, int address) const;
    bool setValue(int station, SimArea area, int address, quint16 value);
    SimStats stats() const;

private:
    void damage(SimAnswer *answer);
    QByteArray twinAnswer(const QByteArray &frame);
    static QByteArray collide(const QByteArray &ours, const QByteArray &twins, int shiftBits);

    mutable std::mutex m_mutex;
    std::map<int, SimDrive> m_drives;
    FaultInjector m_faults;
    SimStats m_stats;
};

#endif // SIMLINE_H
