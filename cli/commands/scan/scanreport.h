#ifndef SERVOCTL_SCANREPORT_H
#define SERVOCTL_SCANREPORT_H

#include <QByteArray>
#include <QList>
#include <QStringList>

#include "scanner.h"

// What a scan prints on standard output: a table of the stations found
// (station order, the settings in the order tried), the garbled answers
// after it, and a last line that sums up. Over TCP the settings are the
// converter's, which the scan cannot see: it shows none.
QStringList scanReport(const LineScanner &scanner, int stationsProbed, bool overTcp);

// The stations that answered at all, each counted once.
int stationsFound(const QList<ScanFinding> &findings);

// --format json's line for a finding: {"station":1,"line":"RS485,9600,NONE,8,2",
// "found":"answered","ms":1.234,"ok":true}; "line":null over TCP.
QByteArray jsonFinding(const ScanFinding &finding, const LineSettings &settings, bool overTcp);

#endif // SERVOCTL_SCANREPORT_H
