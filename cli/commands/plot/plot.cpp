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
#include "plotchart.h"
#include "plan.h"

namespace {

void noteDistinct(QList<double> *seen, double y)
{
    if (seen->size() <= kStepValuesUpTo && !seen->contains(y))
        seen->append(y);
}

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
