#ifndef SERVOCTL_LINEAUTO_H
#define SERVOCTL_LINEAUTO_H

#include <QList>
#include <QString>

#include "linesettings.h"

struct HeardFrame;
struct Options;
struct Plan;
struct Step;

// --line auto: the line's settings taken from the traffic on it, heard
// listen-only before monitor or scan begins.

// The rates listened at, in order: the common ones first, then the slow.
QList<int> lineAutoRates();

// On a pseudo-terminal every byte comes whatever the speed set, so only the
// pace of the frames can tell the rate: the slowest rate at which the line
// could have carried what was heard as fast as it was. -1 when too few
// frames came close enough together to tell.
int rateFromPace(const QList<HeardFrame> &frames, const LineSettings &base);

// Listens, settles plan->options.line for a monitor, or for a scan refuses
// to send beside another master or falls back to the settings search. The
// exit status; 0 to go on.
int settleLineAuto(Plan *plan);

#endif // SERVOCTL_LINEAUTO_H
