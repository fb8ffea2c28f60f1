#include "plot.h"

#include <algorithm>
#include <cmath>
#include <memory>
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
    Point gap; // the first undefined value (a float's nan), which breaks the line
};

// The rows of one station and address.
struct Series
{
    int station = 0;
    QByteArray address;
    qint64 rows = 0;
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

// What the image shows.
struct Chart
{
    QString title;
    QString xLabel;
    qint64 startMs = 0; // x = 0
    qint64 endMs = 0;
    double msPerUnit = 1000; // of the x axis
    qint64 rows = 0;
    std::vector<Series> series;
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
        if (chart->rows == 0)
            chart->startMs = chart->endMs = row.epochMs;
        ++chart->rows;
        chart->startMs = qMin(chart->startMs, row.epochMs);
        chart->endMs = qMax(chart->endMs, row.epochMs);
        int i = index->find(row.station, row.address);
        if (i < 0) {
            i = int(chart->series.size());
            index->add(row.station, row.address, i);
            chart->series.emplace_back();
            chart->series.back().station = row.station;
            chart->series.back().address = row.address;
        }
        Series &one = chart->series[size_t(i)];
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
    const double span = double(qMax<qint64>(1, chart->endMs - chart->startMs));
    CsvLogStreamRow row;
    int got;
    while ((got = log.next(&row, error)) > 0) {
        Series &one = chart->series[size_t(index.find(row.station, row.address))];
        const Point point{row.epochMs, one.yOf(row), one.seen++};
        Column &c = one.columns[size_t(qMin<qint64>(kColumns - 1, qint64(double(row.epochMs - chart->startMs) / span * kColumns)))];
        if (!std::isfinite(point.y)) {
            if (c.gap.n < 0)
                c.gap = point;
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
    for (const int i : panel.series) {
        const Series &one = chart.series[size_t(i)];
        // gnuplot takes the line type before the points' options, not after.
        const bool marked = !one.steps() && one.rows <= kMarkedRowsUpTo;
        clauses.append(QStringLiteral("'%1.dat' using 1:2 with %2 linetype %3%4 title %5")
                           .arg(i)
                           .arg(QLatin1String(one.steps() ? "steps"
                                              : marked    ? "linespoints"
                                                          : "lines"))
                           .arg(i % 8 + 1)
                           .arg(QLatin1String(marked ? " pointtype 7 pointsize 0.8" : ""))
                           .arg(quoted(legendEntry(one, chart.oneStation))));
    }
    lines.append(QStringLiteral("plot ") + clauses.join(QStringLiteral(", \\\n     ")));
    return lines;
}

QByteArray plotScript(const Chart &chart)
{
    bool anyKey = false;
    for (const Panel &panel : chart.panels)
        anyKey = anyKey || panel.series.size() > 1;
    const QString size = QStringLiteral("size %1,%2 noenhanced").arg(kPlotWidth).arg(kPlotHeight);
    // The panels share the x axis: the same left and right edges and range,
    // with the time's numbers under the bottom one only.
    const double top = 0.93, bottom = 0.09, left = 0.09, right = anyKey ? 0.80 : 0.97;
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
    for (int p = 0; p < chart.panels.size(); ++p)
        lines += panelCommands(chart, chart.panels[p], p == chart.panels.size() - 1, anyKey);
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
    chart->title = QStringLiteral("%1, %2").arg(
        QFileInfo(csvPath).fileName(),
        QDateTime::fromMSecsSinceEpoch(chart->startMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
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
    if (std::none_of(chart.series.begin(), chart.series.end(), [](const Series &s) { return s.anyFinite; })) {
        *error = QStringLiteral("%1: no value to draw, every one is nan or inf").arg(csvPath);
        return false;
    }
    nameSeries(map, &chart);
    layOut(csvPath, &chart);
    QList<QPair<QString, QByteArray>> files;
    for (size_t i = 0; i < chart.series.size(); ++i)
        files.append({QStringLiteral("%1.dat").arg(i), seriesData(chart.series[i], chart)});
    if (!drawPng(plotScript(chart), files, pngPath, error,
                 QStringLiteral("plot needs gnuplot (apt-get install gnuplot-nox)"))) {
        return false;
    }
    const int lines = int(chart.series.size());
    const int panels = chart.panels.size();
    std::printf("%s: plot of %lld rows, %d %s in %d %s, %dx%d\n", qPrintable(pngPath), chart.rows, lines,
                lines == 1 ? "line" : "lines", panels, panels == 1 ? "panel" : "panels", kPlotWidth, kPlotHeight);
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
