#ifndef SERVOCTL_PLOT_H
#define SERVOCTL_PLOT_H

#include <QString>

// The size of the PNG that plot draws, in pixels.
const int kPlotWidth = 1200;
const int kPlotHeight = 700;

struct ParamFile;

// plot: draws a CSV log (csvlog.h) with gnuplot into the new file pngPath:
// a panel for each signal (or for each unit the map names) on one time
// axis, a line for each station and address, named and with units as map
// says. The log is read twice, row by row, and reduced to time columns, so
// memory does not grow with its length. Prints what it wrote, or one line
// on standard error; returns the exit status, 0 or 1.
int plotCsvLog(const QString &csvPath, const QString &pngPath, const ParamFile &map);

#endif // SERVOCTL_PLOT_H
