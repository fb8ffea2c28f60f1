#ifndef SERVOCTL_SCANREPORT_H
#define SERVOCTL_SCANREPORT_H

#include <QList>
#include <QStringList>

#include "scanner.h"

// What a scan prints on standard output: a table of the stations found
// (station order, the settings in the order tried), the garbled answers
// after it, and a last line that sums up.
QStringList scanReport(const LineScanner &scanner, int stationsProbed);

// The stations that answered at all, each counted once.
int stationsFound(const QList<ScanFinding> &findings);

#endif // SERVOCTL_SCANREPORT_H
