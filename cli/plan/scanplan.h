#ifndef SERVOCTL_SCANPLAN_H
#define SERVOCTL_SCANPLAN_H

#include <QList>
#include <QString>
#include <QStringList>

#include "linesettings.h"

// What "scan [STATIONS] [baud LIST] [parity LIST] [stop LIST]" asks for.
// An empty list keeps that field of the line's own settings.
struct ScanRequest
{
    QList<int> stations;
    QList<int> baudRates;
    QList<LineSettings::Parity> parities;
    QList<int> stopBits;
    // Settings already heard on the line (a monitor listening to others'
    // traffic): those of the combinations are tried first.
    QList<LineSettings> heard;

    bool scansSettings() const { return !baudRates.isEmpty() || !parities.isEmpty() || !stopBits.isEmpty(); }
    // Every combination with the line's settings, the baud rate outermost,
    // those heard on the line first.
    QList<LineSettings> settingsToTry(const LineSettings &line) const;
};

// One field of the line settings as a word: a standard baud rate; none,
// even or odd; 1 or 2. False when the word is none of them.
bool parseBaudRate(const QString &word, int *baudRate);
bool parseParity(const QString &word, LineSettings::Parity *parity);
bool parseStopBits(const QString &word, int *stopBits);

// The scan's words after "scan"; false with a text naming the offending one.
bool parseScanArguments(const QStringList &args, ScanRequest *request, QString *error);

// The probe's time-out when --timeout is not given: the wire time of the
// request and its answer (8 + 7 characters), two silent intervals and
// the drive's turnaround, in whole milliseconds rounded up.
int defaultScanTimeoutMs(const LineSettings &settings);

#endif // SERVOCTL_SCANPLAN_H
