#ifndef SERVOCTL_MONITORREPORT_H
#define SERVOCTL_MONITORREPORT_H

#include <map>

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "linestats.h"
#include "monitorpairer.h"
#include "values.h"

struct ParamFile;

// What a monitor judges a line by.
struct MonitorJudging
{
    qint64 characterNs = 0;
    qint64 silentNs = 0;
    // Gaps inside frames are judged only where the bytes come as the line
    // carries them: a pseudo-terminal (servosim's tap) hands each frame
    // over whole as it begins.
    bool gapsInside = true;
    // How much shorter than the silent interval a silence may look and still
    // not be judged too short: on a pseudo-terminal a frame is timed by when
    // the monitor wakes, which jitters by a millisecond or more on a busy
    // machine (docs/performance.md); a master keeping no silence leaves a
    // tenth of one.
    qint64 silenceSlackNs = 0;

    qint64 gapAllowedNs() const { return characterNs * 3 / 2; }
    bool gapInside(const HeardFrame &frame) const { return gapsInside && frame.longestGapNs > gapAllowedNs(); }
    qint64 tooSoonBelowNs() const { return silentNs - silenceSlackNs; }
    // A request that began too soon after the frame before it ended.
    bool tooSoon(const HeardFrame &request) const
    {
        return request.silenceBeforeNs >= 0 && request.silenceBeforeNs < tooSoonBelowNs();
    }
};

// One value a transaction carried, as servoctl labels and shows it.
struct MonitorValue
{
    int station = 0;
    QString label; // HR101, DO5, or the map's address
    QString name;  // the map's name; empty without one
    quint64 raw = 0;
    const DataType *type = nullptr;
    bool read = true; // read from the drive, not written to it
};

// The values of an exchange (or a late answer) whose answer came whole:
// read from the drive (functions 1 to 4) or written to it and acknowledged
// (5, 6, 15, 16; a broadcast write unacknowledged).
// With a map, the items it lists take its names and types.
QList<MonitorValue> transactionValues(const Transaction &t, const ParamFile *map);

// The transaction's line, without the time in front.
QString describeTransaction(const Transaction &t, const MonitorJudging &judging, const ParamFile *map, ValueFormat format);

// The area and first item a request names ("HR7") and how many; empty
// for a function whose items are none of ours.
QString requestAddress(const QByteArray &request, int *quantity);
// Whether a whole answer is an exception.
bool isExceptionAnswer(const HeardFrame &answer);

// Why answers came before their requests ended: the hint at --line auto.
QString tooFastText();

// A time as the monitor shows it: "1.75 ms".
QString ms(qint64 ns);

// The Modbus name of an exception code ("illegal data address").
QString exceptionName(int code);

// What a monitor counts, per station asked and for the master.
struct MonitorStationStats
{
    qint64 requests = 0;
    qint64 answered = 0; // answers heard, exceptions and damaged ones included
    qint64 noAnswer = 0;
    QMap<int, qint64> exceptions; // by code
    qint64 crcErrors = 0;
    qint64 late = 0;
    QMap<int, qint64> answeredBy; // answers from other stations while it was asked
    ResponseTimes responseTimes;  // end of request to start of answer, whole answers
};

class MonitorStats
{
public:
    explicit MonitorStats(const MonitorJudging &judging) : m_judging(judging) {}
    void add(const Transaction &t);
    const MonitorStationStats *station(int station) const;
    qint64 noiseFrames() const { return m_noiseFrames; }
    qint64 tooSoon() const { return m_tooSoon; }
    QStringList table() const;
    // Most answers timed before their requests ended, and a few at least:
    // no late wake-up of the monitor does that, a wrong baud rate does.
    bool answersTooFastForTheBaud() const;
    static const int kCrossedForAHint = 3;

private:
    MonitorJudging m_judging;
    std::map<int, MonitorStationStats> m_stations;
    qint64 m_noiseFrames = 0;
    qint64 m_noiseBytes = 0;
    qint64 m_unaskedNoneAwaited = 0;
    qint64 m_shortestSilenceNs = -1;
    qint64 m_tooSoon = 0;
    qint64 m_silencesTimed = 0;  // requests whose silence before them is known
    qint64 m_answersToTime = 0;  // whole answers to requests, exceptions included
    qint64 m_answersUntimed = 0; // of those, whose time is not known (Transaction::answerNs())
    qint64 m_answersCrossed = 0; // of those, timed before their request ended
};

#endif // SERVOCTL_MONITORREPORT_H
