// The gnuplot script of a chart: its panels, their series and the write
// marks across them.
#include "plotchart.h"

#include <algorithm>
#include <cmath>

#include <QHash>
#include <QStringList>

#include "gnuplot.h"
#include "plot.h"

namespace {

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

} // namespace

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

QByteArray failureData(const Series &series, const Chart &chart)
{
    QByteArray data;
    for (const Column &c : series.columns) {
        if (c.failed.n >= 0)
            data += QByteArray::number(double(c.failed.ms - chart.startMs) / chart.msPerUnit, 'f', 4) + '\n';
    }
    return data;
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
