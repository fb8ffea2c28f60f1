#ifndef SERVOCTL_PLOT_H
#define SERVOCTL_PLOT_H

#include <QString>

// The size of the PNG that plot draws, in pixels.
const int kPlotWidth = 1200;
const int kPlotHeight = 700;

// plot: draws a CSV log (csvlog.h) with gnuplot into the new file pngPath,
// one line for each station and address. Prints what it wrote, or one line
// on standard error; returns the exit status, 0 or 1.
int plotCsvLog(const QString &csvPath, const QString &pngPath);

#endif // SERVOCTL_PLOT_H
