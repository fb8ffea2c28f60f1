#include "plot.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>
#include <cstdio>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "csvlogstream.h"
#include "gnuplot.h"
#include "interrupt.h"
#include "options.h"
#include "parammap.h"
#include "plan.h"

namespace {

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

void noteDistinct(QList<double> *seen, double y)
{
    if (seen->size() <= kStepValuesUpTo && !seen->contains(y))
        seen->append(y);
}

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

// The series of (station, address): one table of addresses a station.
class SeriesIndex
{
public:
    int find(int station, const QByteArray &address) const { return m_byStation[station].value(address, -1); }
    void add(int station, const QByteArray &address, int index) { m_byStation[station].insert(address, index); }

private:
    QHash<QByteArray, int> m_byStation[kLastStation + 1];
};

// The first reading: which signals the log holds, their kind and its time span.
bool survey(const QString &csvPath, Chart *chart, SeriesIndex *index, qint64 *consumed, QString *error)
{
    CsvLogStream log;
    if (!log.open(csvPath, error))
        return false;
    CsvLogStreamRow row;
    int got;
    while ((got = log.next(&row, error)) > 0) {
        if (chart->rows == 0) {
            chart->startMs = chart->endMs = row.epochMs;
            if (row.offsetGiven)
                chart->offsetMinutes = row.offsetMinutes;
        }
        ++chart->rows;
        chart->startMs = qMin(chart->startMs, row.epochMs);
        chart->endMs = qMax(chart->endMs, row.epochMs);
        if (row.kind != LogKind::Read) {
            ++chart->writes;
            continue;
        }
        int i = index->find(row.station, row.address);
        if (i < 0) {
            i = int(chart->series.size());
            index->add(row.station, row.address, i);
            chart->series.emplace_back();
            chart->series.back().station = row.station;
            chart->series.back().address = row.address;
        }
        Series &one = chart->series[size_t(i)];
        if (!row.error.isEmpty()) { // a gap in the signal, no value
            ++chart->failedReads;
            ++one.failures;
            continue;
        }
        ++one.rows;
        bool number = false;
        const double value = row.value.toDouble(&number);
        one.numericValues = one.numericValues && number;
        if (one.numericValues && std::isfinite(value)) {
            one.wholeValues = one.wholeValues && value == std::floor(value);
            noteDistinct(&one.values, value);
        }
        noteDistinct(&one.raws, double(row.raw));
    }
    *consumed = log.consumed();
    return got == 0;
}

// The second reading, up to where the first ended: each row into its column.
bool reduce(const QString &csvPath, qint64 consumed, Chart *chart, const SeriesIndex &index, QString *error)
{
    CsvLogStream log;
    if (!log.open(csvPath, error))
        return false;
    log.setLimit(consumed);
    for (Series &one : chart->series)
        one.columns.assign(kColumns, Column());
    chart->marks.assign(kColumns, WriteMark());
    const double span = double(qMax<qint64>(1, chart->endMs - chart->startMs));
    CsvLogStreamRow row;
    int got;
    while ((got = log.next(&row, error)) > 0) {
        const size_t column = size_t(qMin<qint64>(kColumns - 1,
                                                  qint64(double(row.epochMs - chart->startMs) / span * kColumns)));
        if (row.kind != LogKind::Read) {
            WriteMark &mark = chart->marks[column];
            if (mark.ms >= 0) {
                ++mark.more;
                mark.unconfirmed = mark.unconfirmed || !row.error.isEmpty();
            } else {
                mark = WriteMark{
                    row.epochMs, row.station, row.address, row.value, row.kind, !row.error.isEmpty(), 0};
            }
            continue;
        }
        Series &one = chart->series[size_t(index.find(row.station, row.address))];
        // A failed read breaks the line as a value that is no number does.
        const Point point{row.epochMs, row.error.isEmpty() ? one.yOf(row) : std::nan(""), one.seen++};
        Column &c = one.columns[column];
        if (!std::isfinite(point.y)) {
            if (c.gap.n < 0)
                c.gap = point;
            if (!row.error.isEmpty() && c.failed.n < 0)
                c.failed = point;
            continue;
        }
        if (!one.anyFinite)
            one.low = one.high = point.y;
        one.anyFinite = true;
        one.low = qMin(one.low, point.y);
        one.high = qMax(one.high, point.y);
        if (c.first.n < 0)
            c.first = c.low = c.high = point;
        if (point.y < c.low.y)
            c.low = point;
        if (point.y > c.high.y)
            c.high = point;
        c.last = point;
    }
    return got == 0;
}

// x y lines for gnuplot, a column's points in the order they were logged;
// y NaN where a float view showed no number.
QByteArray seriesData(const Series &series, const Chart &chart)
{
    QByteArray data;
    for (const Column &c : series.columns) {
        Point points[] = {c.first, c.low, c.high, c.last, c.gap};
        std::sort(std::begin(points), std::end(points), [](const Point &a, const Point &b) { return a.n < b.n; });
        qint64 written = -1;
        for (const Point &p : points) {
            if (p.n < 0 || p.n == written)
                continue;
            written = p.n;
            data += QByteArray::number(double(p.ms - chart.startMs) / chart.msPerUnit, 'f', 4) + ' '
                    + (std::isfinite(p.y) ? QByteArray::number(p.y, 'g', 17) : QByteArray("NaN")) + '\n';
        }
    }
    return data;
}

// The times of a series' failed reads, a line each.
QByteArray failureData(const Series &series, const Chart &chart)
{
    QByteArray data;
    for (const Column &c : series.columns) {
        if (c.failed.n >= 0)
            data += QByteArray::number(double(c.failed.ms - chart.startMs) / chart.msPerUnit, 'f', 4) + '\n';
    }
    return data;
}

// A gnuplot string: single quotes take everything literally but a doubled
// quote; a line break would end the command.
QString quoted(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QString legendEntry(const Series &series, bool oneStation)
{
    QString entry = oneStation ? series.label() : QStringLiteral("station %1 %2").arg(series.station).arg(series.label());
    return series.numericValues ? entry : entry + QStringLiteral(" (raw)");
}

// The panel's y axis: the name and unit when it draws one signal (or one
// name at several stations), else the unit.
QString axisLabel(const Chart &chart, const Panel &panel)
{
    const Series &first = chart.series[size_t(panel.series[0])];
    bool oneName = true;
    for (const int i : panel.series)
        oneName = oneName && chart.series[size_t(i)].label() == first.label();
    QString label = oneName ? first.label() : QString();
    if (!first.unit.isEmpty())
        label = label.isEmpty() ? first.unit : QStringLiteral("%1 (%2)").arg(label, first.unit);
    return first.numericValues || !oneName ? label : label + QStringLiteral(" (raw)");
}

// A round tic step giving about four tics over range.
double ticStep(double range)
{
    const double rough = range / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double nice : {1.0, 2.0, 5.0}) {
        if (nice * magnitude >= rough)
            return nice * magnitude;
    }
    return 10 * magnitude;
}

QString number(double value)
{
    return QString::number(value, 'g', 15);
}

QStringList panelCommands(const Chart &chart, const Panel &panel, bool bottom, bool anyKey)
{
    double low = 0, high = 0;
    bool any = false, steps = true;
    for (const int i : panel.series) {
        const Series &one = chart.series[size_t(i)];
        steps = steps && one.steps();
        if (!one.anyFinite)
            continue;
        low = any ? qMin(low, one.low) : one.low;
        high = any ? qMax(high, one.high) : one.high;
        any = true;
    }
    // Steps between whole numbers get a tic at each; a flat line sits mid-panel.
    double step = high > low ? ticStep(high - low) : 1;
    if (steps && high - low <= 4)
        step = 1;
    const double pad = high > low ? (high - low) * 0.1 : 1;
    QStringList lines = {
        QStringLiteral("set ylabel %1").arg(quoted(axisLabel(chart, panel))),
        QStringLiteral("set yrange [%1:%2]").arg(number(low - pad), number(high + pad)),
        QStringLiteral("set ytics %1").arg(number(step)),
        bottom ? QStringLiteral("set format x '%g'") : QStringLiteral("set format x ''"),
        bottom ? QStringLiteral("set xlabel %1").arg(quoted(chart.xLabel)) : QStringLiteral("unset xlabel"),
        panel.series.size() > 1 || anyKey ? QStringLiteral("set key outside right top") : QStringLiteral("unset key"),
    };
    QStringList clauses;
    // Lines of one panel that run together (two drives at one set-point)
    // would hide each other: each after the first is dashed and marked
    // otherwise, and lets the ones below show through.
    static const int kPointTypes[] = {7, 5, 9, 11, 13};
    for (int j = 0; j < panel.series.size(); ++j) {
        const int i = panel.series[j];
        const Series &one = chart.series[size_t(i)];
        // gnuplot takes the line type before the points' options, not after.
        const bool marked = !one.steps() && one.rows <= kMarkedRowsUpTo;
        clauses.append(QStringLiteral("'%1.dat' using 1:2 with %2 linetype %3%4%5 title %6")
                           .arg(i)
                           .arg(QLatin1String(one.steps() ? "steps"
                                              : marked    ? "linespoints"
                                                          : "lines"))
                           .arg(i % 8 + 1)
                           .arg(j ? QStringLiteral(" dashtype %1").arg((j - 1) % 4 + 2) : QString())
                           .arg(marked ? QStringLiteral(" pointtype %1 pointsize 0.8").arg(kPointTypes[j % 5]) : QString())
                           .arg(quoted(legendEntry(one, chart.oneStation))));
        if (!one.failures)
            continue;
        // A value read between failures would be a line of no length: a dot
        // each. Each failed read a cross at the panel's foot, in the line's colour.
        if (!marked)
            clauses.append(QStringLiteral("'%1.dat' using 1:2 with points linetype %2 pointtype 7 pointsize 0.5 notitle")
                               .arg(i)
                               .arg(i % 8 + 1));
        clauses.append(QStringLiteral("'%1-failed.dat' using 1:(%2) with points linetype %3 pointtype 2 pointsize 1.2 notitle")
                           .arg(i)
                           .arg(number(low - pad / 2))
                           .arg(i % 8 + 1));
    }
    lines.append(QStringLiteral("plot ") + clauses.join(QStringLiteral(", \\\n     ")));
    return lines;
}

// The text of a write's label: what was set, and to what.
QString markText(const Chart &chart, const WriteMark &mark, const QHash<QByteArray, QString> &names)
{
    const QString name = names.value(mark.address, QString::fromUtf8(mark.address));
    QString text = QStringLiteral("%1 := %2").arg(name, QString::fromUtf8(mark.value));
    if (!chart.oneStation || mark.kind == LogKind::Broadcast)
        text = QStringLiteral("station %1 ").arg(mark.station) + text;
    if (mark.more)
        text += QStringLiteral(" (+%1)").arg(mark.more);
    if (mark.kind == LogKind::Broadcast)
        text += QStringLiteral(" (broadcast)");
    if (mark.unconfirmed)
        text += QStringLiteral(" (unconfirmed)");
    return text;
}

// A label above the top panel, in one of kLabelRows rows.
struct MarkLabel
{
    double x = 0;
    int row = 0;
    QString text;
    bool unconfirmed = false;
    bool leftOfMark = false; // near the right edge
};

// A vertical mark across every panel where each write was commanded, and
// its label in the first row above the top panel where it overlaps none.
QList<MarkLabel> writeMarks(const Chart &chart, double left, double right, QStringList *lines)
{
    QHash<QByteArray, QString> names;
    for (const Series &one : chart.series) {
        if (!one.name.isEmpty())
            names.insert(one.address, one.name);
    }
    const double xSpan = qMax(double(chart.endMs - chart.startMs) / chart.msPerUnit, 1e-3);
    // About 7 pixels a character at the labels' font.
    const double xPerChar = 7.0 / ((right - left) * kPlotWidth) * xSpan;
    double freeFrom[kLabelRows];
    std::fill(std::begin(freeFrom), std::end(freeFrom), -1e300);
    QList<MarkLabel> labels;
    for (const WriteMark &mark : chart.marks) {
        if (mark.ms < 0)
            continue;
        const double x = double(mark.ms - chart.startMs) / chart.msPerUnit;
        lines->append(QStringLiteral("set arrow from %1, graph 0 to %1, graph 1 nohead front linewidth 1.5 "
                                     "dashtype %2 linecolor rgb '%3'")
                          .arg(number(x))
                          .arg(mark.unconfirmed ? 3 : 2)
                          .arg(QLatin1String(mark.unconfirmed ? "#cc0000" : "#333333")));
        const QString text = markText(chart, mark, names);
        const double width = (text.size() + 2) * xPerChar;
        const bool leftOfMark = x + width > xSpan;
        const double from = leftOfMark ? x - width : x;
        for (int row = 0; row < kLabelRows; ++row) {
            if (from >= freeFrom[row]) {
                freeFrom[row] = from + width;
                labels.append(MarkLabel{x, row, text, mark.unconfirmed, leftOfMark});
                break;
            }
        }
    }
    return labels;
}

QByteArray plotScript(const Chart &chart)
{
    bool anyKey = false;
    for (const Panel &panel : chart.panels)
        anyKey = anyKey || panel.series.size() > 1;
    const QString size = QStringLiteral("size %1,%2 noenhanced").arg(kPlotWidth).arg(kPlotHeight);
    // The panels share the x axis: the same left and right edges and range,
    // with the time's numbers under the bottom one only.
    const double bottom = 0.09, left = 0.09, right = anyKey ? 0.80 : 0.97;
    QStringList marks;
    const QList<MarkLabel> labels = writeMarks(chart, left, right, &marks);
    int labelRows = 0;
    for (const MarkLabel &label : labels)
        labelRows = qMax(labelRows, label.row + 1);
    const double top = 0.93 - labelRows * 0.03;
    QStringList lines = {
        QStringLiteral("set encoding utf8"),
        QStringLiteral("if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo %1 font 'sans,13' } "
                       "else { set terminal png %1 font 'sans' 13 }")
            .arg(size),
        QStringLiteral("set output '%1'").arg(QLatin1String(plotPngName)),
        QStringLiteral("set grid"),
        QStringLiteral("set border lw 1.5"),
        QStringLiteral("set xrange [0:%1]").arg(number(qMax(double(chart.endMs - chart.startMs) / chart.msPerUnit, 1e-3))),
        QStringLiteral("set format y '%g'"),
    };
    // Colours that stay apart on white and at half the size.
    static const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                           "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};
    for (int i = 0; i < 8; ++i)
        lines.append(QStringLiteral("set linetype %1 linewidth 2.5 linecolor rgb '%2'").arg(i + 1).arg(QLatin1String(kColours[i])));
    lines.append(QStringLiteral("set multiplot layout %1,1 title %2 font ',14' margins %3,%4,%5,%6 spacing 0,0.04")
                     .arg(chart.panels.size())
                     .arg(quoted(chart.title))
                     .arg(left)
                     .arg(right)
                     .arg(bottom)
                     .arg(top));
    lines += marks; // arrows stay set for every panel
    for (const MarkLabel &label : labels) {
        lines.append(QStringLiteral("set label %1 at first %2, screen %3 %4 font ',10' textcolor rgb '%5'")
                         .arg(quoted(label.text))
                         .arg(number(label.x))
                         .arg(number(top + 0.008 + 0.03 * label.row))
                         .arg(QLatin1String(label.leftOfMark ? "right offset 0.2,0" : "left offset -0.2,0"))
                         .arg(QLatin1String(label.unconfirmed ? "#cc0000" : "#333333")));
    }
    for (int p = 0; p < chart.panels.size(); ++p) {
        lines += panelCommands(chart, chart.panels[p], p == chart.panels.size() - 1, anyKey);
        if (p == 0 && !labels.isEmpty())
            lines.append(QStringLiteral("unset label")); // drawn once, above the top panel
    }
    lines.append(QStringLiteral("unset multiplot"));
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

// Names and units from the map, by the label servoctl logs an item under.
void nameSeries(const ParamFile &map, Chart *chart)
{
    QHash<QString, const ParamEntry *> byLabel;
    for (const ParamEntry &entry : map.entries)
        byLabel.insert(entry.address.itemLabel(*entry.type, 0), &entry);
    for (Series &one : chart->series) {
        if (const ParamEntry *entry = byLabel.value(QString::fromUtf8(one.address))) {
            one.name = entry->name;
            one.unit = entry->unit;
        }
    }
}

void layOut(const QString &csvPath, Chart *chart)
{
    for (size_t i = 0; i < chart->series.size(); ++i) {
        const Series &one = chart->series[i];
        chart->oneStation = chart->oneStation && one.station == chart->series[0].station;
        const QString key = !one.unit.isEmpty()
                                ? QStringLiteral("unit ") + one.unit
                                : QStringLiteral("%1 %2").arg(QString::fromUtf8(one.address)).arg(one.numericValues ? "value" : "raw");
        auto panel = std::find_if(chart->panels.begin(), chart->panels.end(), [&](const Panel &p) {
            return p.key == key;
        });
        if (panel == chart->panels.end())
            panel = chart->panels.insert(chart->panels.end(), Panel{key, {}});
        panel->series.append(int(i));
    }
    const bool minutes = chart->endMs - chart->startMs > kSecondsUpToMs;
    chart->xLabel = minutes ? QStringLiteral("time (min)") : QStringLiteral("time (s)");
    chart->msPerUnit = minutes ? 60000.0 : 1000.0;
    // The start as the log's clock read it; an older log's, as this machine's.
    const QDateTime start = chart->offsetMinutes
                                ? QDateTime::fromMSecsSinceEpoch(chart->startMs, Qt::OffsetFromUTC, *chart->offsetMinutes * 60)
                                : QDateTime::fromMSecsSinceEpoch(chart->startMs);
    chart->title = QStringLiteral("%1, %2%3")
                       .arg(QFileInfo(csvPath).fileName(), start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            chart->offsetMinutes ? QLatin1Char(' ') + utcOffsetText(*chart->offsetMinutes) : QString());
}

bool plot(const QString &csvPath, const QString &pngPath, const ParamFile &map, QString *error)
{
    Chart chart;
    auto index = std::make_unique<SeriesIndex>();
    qint64 consumed = 0;
    if (!survey(csvPath, &chart, index.get(), &consumed, error))
        return false;
    if (chart.rows == 0) {
        *error = QStringLiteral("%1: no rows to plot").arg(csvPath);
        return false;
    }
    if (!reduce(csvPath, consumed, &chart, *index, error))
        return false;
    if (chart.series.empty()) {
        *error = QStringLiteral("%1: no reads to plot, only writes").arg(csvPath);
        return false;
    }
    // A log of failed reads alone is drawn: the outage is what it shows.
    if (!chart.failedReads
        && std::none_of(chart.series.begin(), chart.series.end(), [](const Series &s) { return s.anyFinite; })) {
        *error = QStringLiteral("%1: no value to draw, every one is nan or inf").arg(csvPath);
        return false;
    }
    nameSeries(map, &chart);
    layOut(csvPath, &chart);
    QList<QPair<QString, QByteArray>> files;
    for (size_t i = 0; i < chart.series.size(); ++i) {
        files.append({QStringLiteral("%1.dat").arg(i), seriesData(chart.series[i], chart)});
        if (chart.series[i].failures)
            files.append({QStringLiteral("%1-failed.dat").arg(i), failureData(chart.series[i], chart)});
    }
    if (!drawPng(plotScript(chart), files, pngPath, error,
                 QStringLiteral("plot needs gnuplot (apt-get install gnuplot-nox)"))) {
        return false;
    }
    const int lines = int(chart.series.size());
    const int panels = chart.panels.size();
    QStringList events;
    if (chart.failedReads)
        events.append(QStringLiteral("%1 failed %2").arg(chart.failedReads).arg(chart.failedReads == 1 ? "read" : "reads"));
    if (chart.writes)
        events.append(QStringLiteral("%1 %2").arg(chart.writes).arg(chart.writes == 1 ? "write" : "writes"));
    const QString eventText = events.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(events.join(QStringLiteral(", ")));
    std::printf("%s: plot of %lld rows%s, %d %s in %d %s, %dx%d\n", qPrintable(pngPath), chart.rows,
                qPrintable(eventText), lines, lines == 1 ? "line" : "lines", panels,
                panels == 1 ? "panel" : "panels", kPlotWidth, kPlotHeight);
    return true;
}

} // namespace

int plotCsvLog(const QString &csvPath, const QString &pngPath, const ParamFile &map)
{
    QString error;
    if (plot(csvPath, pngPath, map, &error)) {
        std::fflush(stdout);
        return 0;
    }
    if (interruptSignal()) // main says so
        return 0;
    std::fprintf(stderr, "servoctl: %s\n", qPrintable(visibleText(error))); // a log's word may hold a line break
    return 1;
}
