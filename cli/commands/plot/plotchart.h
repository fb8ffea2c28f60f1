#ifndef SERVOCTL_PLOTCHART_H
#define SERVOCTL_PLOTCHART_H

#include <optional>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

#include "csvlogstream.h"

// What plot makes of a CSV log: the series it reduced the log to, the
// panels they are drawn in and the writes marked across them.

// A longer log reads better in minutes.
const qint64 kSecondsUpToMs = 10 * 60 * 1000;
// Up to this many rows a line also marks each row; more would blur it.
const int kMarkedRowsUpTo = 60;
// Time columns the log is reduced to, about one a pixel of the plot's width:
// each keeps its first, lowest, highest and last value, so the picture
// shows every extreme and the memory does not grow with the log.
const int kColumns = 1000;
// A signal of whole numbers taking at most this many values over the log
// (a bit, a status, a set-point) changes in steps and is drawn as steps.
const int kStepValuesUpTo = 16;
// Rows of write labels above the top panel; a label that finds no room is
// left out, its mark stays.
const int kLabelRows = 3;

// One point of a column, n the row's place in its series.
struct Point
{
    qint64 ms = 0;
    double y = 0;
    qint64 n = -1;
};

// What a column keeps of the rows that fall into it.
struct Column
{
    Point first, low, high, last;
    Point gap;    // the first undefined value (a float's nan, a failed read), which breaks the line
    Point failed; // the first failed read, marked at the panel's foot
};

// The rows of one station and address.
struct Series
{
    int station = 0;
    QByteArray address;
    qint64 rows = 0;
    qint64 failures = 0;       // failed reads
    qint64 seen = 0;           // rows of the second reading
    bool numericValues = true; // else the raw bits are drawn
    // Of the values (v) and of the raw bits (r), for the step rule.
    bool wholeValues = true;
    QList<double> values, raws; // distinct, up to kStepValuesUpTo + 1
    bool anyFinite = false;
    double low = 0, high = 0; // of the values drawn, once anyFinite
    QString name, unit;       // from the map
    std::vector<Column> columns;

    double yOf(const CsvLogStreamRow &row) const { return numericValues ? row.value.toDouble() : double(row.raw); }
    bool steps() const
    {
        return numericValues ? wholeValues && values.size() <= kStepValuesUpTo : raws.size() <= kStepValuesUpTo;
    }
    QString label() const { return name.isEmpty() ? QString::fromUtf8(address) : name; }
};

// Signals drawn against one y axis: those of one unit (from the map), else
// one address in one view.
struct Panel
{
    QString key;
    QList<int> series;
};

// A write, marked where it was commanded: the first of its time column,
// and how many more the column holds.
struct WriteMark
{
    qint64 ms = -1; // none in the column
    int station = 0;
    QByteArray address, value;
    LogKind kind = LogKind::Write;
    bool unconfirmed = false; // the drive did not acknowledge it
    int more = 0;
};

// What the image shows.
struct Chart
{
    QString title;
    QString xLabel;
    qint64 startMs = 0; // x = 0
    qint64 endMs = 0;
    double msPerUnit = 1000; // of the x axis
    qint64 rows = 0;
    qint64 failedReads = 0;
    qint64 writes = 0;
    std::optional<int> offsetMinutes; // from UTC, of the first row; none in older logs
    std::vector<Series> series;
    std::vector<WriteMark> marks; // a time column each
    QList<Panel> panels;
    bool oneStation = true;
};

// x y lines for gnuplot, a column's points in the order they were logged;
// y NaN where a float view showed no number.
QByteArray seriesData(const Series &series, const Chart &chart);
// The times of a series' failed reads, a line each.
QByteArray failureData(const Series &series, const Chart &chart);
// The gnuplot commands that draw the chart into the terminal set before
// them, its data inline. Pure.
QByteArray plotScript(const Chart &chart);

#endif // SERVOCTL_PLOTCHART_H
