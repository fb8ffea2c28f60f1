#ifndef SERVOCTL_GNUPLOT_H
#define SERVOCTL_GNUPLOT_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Draws a picture with gnuplot the safe way: gnuplot runs script in a
// temporary folder of its own beside the named data files, with no shell
// between, and draws into plotPngName there; the picture then goes into
// the new file pngPath. Blocks until gnuplot ends; Ctrl-C ends its whole
// process group. False with *error set (noGnuplot, when given, says that
// gnuplot is not installed).
extern const char plotPngName[];
bool drawPng(const QByteArray &script, const QList<QPair<QString, QByteArray>> &files, const QString &pngPath,
             QString *error, const QString &noGnuplot = QString());

#endif // SERVOCTL_GNUPLOT_H
