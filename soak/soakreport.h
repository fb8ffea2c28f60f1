#ifndef SOAKREPORT_H
#define SOAKREPORT_H

#include <QList>
#include <QMap>
#include <QString>

#include "faultplan.h"
#include "serialport.h"
#include "simline.h"
#include "soakcommands.h"
#include "soakoptions.h"

struct KindStats
{
    qint64 commands = 0, good = 0, failed = 0, firstFailed = 0, recovered = 0, requests = 0;
};

// Single-exchange commands by their retry count.
struct RetryStats
{
    qint64 commands = 0, firstFailed = 0, failed = 0;
};

// What a soak run counted, for its report.
struct SoakTally
{
    KindStats kinds[int(SoakKind::Count)];
    QMap<int, RetryStats> byRetries;
    qint64 wrongData = 0, undefinedTexts = 0, flagged = 0, flaggedWrong = 0;
    qint64 unplugs = 0, linesLost = 0, recovered = 0;
    RetryStats metLate; // commands during which an answer came after the time-out
    qint64 longestLateNs = -1;
    QMap<QString, qint64> failureTexts;
    QList<qint64> heap, resident; // KiB, at each tenth
    double seconds = 0;
    SimStats startStats, endStats;
    PortCounters counters;
};

// Heap and resident memory now, appended to the tally's samples.
void sampleMemory(SoakTally *tally);

// Prints the report on stdout; true when the soak passed.
bool printReport(const SoakOptions &o, const FaultPlan &plan, const SoakTally &tally);

#endif // SOAKREPORT_H
