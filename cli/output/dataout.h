#ifndef SERVOCTL_DATAOUT_H
#define SERVOCTL_DATAOUT_H

#include <QByteArray>
#include <QString>

// Data for another program (a CSV log or JSON Lines) may go to standard
// output: "-", or a path that is standard output itself (/dev/stdout).
// Then what servoctl prints for a person moves to standard error, so that
// a pipe (servoctl ... --csv - | head) carries the data alone.

// Keeps standard output for the data alone and points the person's text
// (descriptor 1, printf's) at standard error. False when no descriptor is
// left.
bool divertTextToStderr();
// Where data for standard output is written: the real standard output.
int dataOutputFd();

#endif // SERVOCTL_DATAOUT_H
