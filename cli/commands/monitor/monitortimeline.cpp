#include "monitortimeline.h"

#include <set>

#include <QDateTime>

#include "csvlog.h"
#include "gnuplot.h"

namespace {

// About three pixels of the plot's width: over a long listening a frame of a
// few milliseconds would be a hairline, and a CRC error among them lost.
const double kMinBarShare = 0.003;

} // namespace

// A frame read at once (a pseudo-terminal, a burst from an adapter) is
// drawn for at least its time on the wire, or its bar would not show.
qint64 MonitorTimeline::onWireUntil(const HeardFrame &frame) const
{
    return qMax(frame.endNs, frame.beginNs + qint64(frame.bytes.size()) * m_judging.characterNs);
}

void MonitorTimeline::add(const Transaction &t)
{
    Entry entry;
    if (t.kind == Transaction::Noise || t.kind == Transaction::Unasked) {
        if (t.kind == Transaction::Noise || t.answer.bytes.isEmpty())
            return; // bytes of no station: no row to draw them on
        entry.station = quint8(t.answer.bytes.at(0));
    } else {
        entry.station = quint8(t.request.bytes.at(0));
        entry.requestBeginNs = t.request.beginNs;
        entry.requestEndNs = onWireUntil(t.request);
        entry.tooSoon = m_judging.tooSoon(t.request);
    }
    if (t.answered()) {
        entry.answerBeginNs = t.answer.beginNs;
        entry.answerEndNs = onWireUntil(t.answer);
    }
    if (t.kind == Transaction::Late)
        entry.mark = Late;
    else if (t.kind == Transaction::Exchange && !t.answered() && entry.station != 0)
        entry.mark = NoAnswer;
    else if (t.answered() && !t.answer.crcOk)
        entry.mark = CrcError;
    else if (t.answered() && isExceptionAnswer(t.answer))
        entry.mark = Exception;
    if (entry.mark == Exception)
        entry.exception = quint8(t.answer.bytes.at(2));
    m_entries.push_back(entry);
    if (m_entries.size() > size_t(kKept))
        m_entries.pop_front();
}

qint64 MonitorTimeline::originNs() const
{
    const Entry &first = m_entries.front();
    return first.requestBeginNs >= 0 ? first.requestBeginNs : first.answerBeginNs;
}

double MonitorTimeline::seconds(qint64 ns) const
{
    return double(ns - originNs()) / 1e9;
}

double MonitorTimeline::barEnd(qint64 fromNs, qint64 toNs) const
{
    const Entry &last = m_entries.back();
    const double span = seconds(qMax(last.requestEndNs, last.answerEndNs));
    return qMax(seconds(toNs), seconds(fromNs) + span * kMinBarShare);
}

// x from, x to, station: a bar above the station's line.
QByteArray MonitorTimeline::requests() const
{
    QByteArray text;
    for (const Entry &e : m_entries) {
        if (e.requestBeginNs >= 0)
            text += QByteArray::number(seconds(e.requestBeginNs), 'f', 6) + ' '
                    + QByteArray::number(barEnd(e.requestBeginNs, e.requestEndNs), 'f', 6) + ' '
                    + QByteArray::number(e.station) + '\n';
    }
    return text;
}

// x from, x to, station, and where the wait began (the request's end, or
// the answer's own beginning for an answer nobody asked for).
QByteArray MonitorTimeline::answers() const
{
    QByteArray text;
    for (const Entry &e : m_entries) {
        if (e.answerBeginNs < 0)
            continue;
        const qint64 waitFrom = e.requestEndNs >= 0 ? e.requestEndNs : e.answerBeginNs;
        text += QByteArray::number(seconds(e.answerBeginNs), 'f', 6) + ' '
                + QByteArray::number(barEnd(e.answerBeginNs, e.answerEndNs), 'f', 6) + ' ' + QByteArray::number(e.station)
                + ' ' + QByteArray::number(seconds(waitFrom), 'f', 6) + ' ' + QByteArray::number(e.mark) + '\n';
    }
    return text;
}

// x, station, mark, and an exception's code in hex ("-" for other marks):
// where a fault shows.
QByteArray MonitorTimeline::marks() const
{
    QByteArray text;
    for (const Entry &e : m_entries) {
        if (e.tooSoon)
            text += QByteArray::number(seconds(e.requestBeginNs), 'f', 6) + ' ' + QByteArray::number(e.station)
                    + ' ' + QByteArray::number(int(TooSoon)) + " -\n";
        if (e.mark == None)
            continue;
        const qint64 at = e.mark == NoAnswer ? e.requestEndNs : e.answerBeginNs;
        text += QByteArray::number(seconds(at), 'f', 6) + ' ' + QByteArray::number(e.station) + ' '
                + QByteArray::number(int(e.mark)) + ' '
                + (e.exception >= 0 ? QByteArray::number(e.exception, 16).rightJustified(2, '0').toUpper() : "-") + '\n';
    }
    // gnuplot refuses a file with no points: one out of sight.
    return text.isEmpty() ? QByteArray("0 -10 0 -\n") : text;
}

QByteArray MonitorTimeline::script(const QString &title, qint64 realtimeMinusMonotonicNs) const
{
    std::set<int> stations;
    for (const Entry &e : m_entries)
        stations.insert(e.station);
    QByteArray tics;
    for (const int station : stations)
        tics += (tics.isEmpty() ? "" : ", ") + QByteArray("'station ") + QByteArray::number(station) + "' "
                + QByteArray::number(station);
    const int low = *stations.begin(), high = *stations.rbegin();
    // A gnuplot string in single quotes takes everything literally but a
    // doubled quote.
    QByteArray quoted = title.toUtf8();
    quoted.replace('\'', "''");
    // Seconds from the first transaction kept, and when that was.
    const QDateTime start = QDateTime::fromMSecsSinceEpoch((originNs() + realtimeMinusMonotonicNs) / 1000000);
    const QByteArray startText = start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1() + ' '
                                 + utcOffsetText(start.offsetFromUtc() / 60).toLatin1();
    const QByteArray lines[] = {
        "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size 1200,"
            + QByteArray::number(qMax(360, 200 + 90 * int(stations.size())))
            + " font 'sans,12' } "
              "else { set terminal png size 1200,"
            + QByteArray::number(qMax(360, 200 + 90 * int(stations.size()))) + " }",
        QByteArray("set output '") + plotPngName + "'",
        "set title '" + quoted + "'",
        "set xlabel 'time (s) from " + startText + "'",
        "set ytics (" + tics + ")",
        "set yrange [" + QByteArray::number(low - 0.7) + ":" + QByteArray::number(high + 0.7) + "]",
        "set grid xtics ytics",
        "set key outside below horizontal",
        "set style fill solid 0.8 noborder",
        // Requests above a station's line, answers below, the wait between.
        "plot 'requests.dat' using (($1+$2)/2):3:1:2:($3+0.05):($3+0.35) with boxxyerror lc rgb '#1f5fbf' "
        "title 'request', \\",
        "     'answers.dat' using 4:3:($1-$4):(0) with vectors nohead lc rgb '#a0a0a0' title 'wait for the answer', \\",
        // Good answers and damaged ones apart, each its own colour in the
        // key whatever came first; the damaged drawn over the good.
        "     'answers.dat' using (($1+$2)/2):($5==2 ? NaN : $3):1:2:($3-0.35):($3-0.05) with boxxyerror "
        "lc rgb '#2e9e3e' title 'answer', \\",
        "     'answers.dat' using (($1+$2)/2):($5==2 ? $3 : NaN):1:2:($3-0.35):($3-0.05) with boxxyerror "
        "lc rgb '#e07000' title 'answer with a CRC error', \\",
        "     'marks.dat' using 1:($3==1 ? $2 : NaN) with points pt 2 ps 2 lw 2 lc rgb '#d00000' title 'no answer', \\",
        "     'marks.dat' using 1:($3==3 ? $2-0.2 : NaN) with points pt 9 ps 1.6 lc rgb '#b000b0' title 'exception', \\",
        "     'marks.dat' using 1:($3==3 ? $2-0.2 : NaN):4 with labels left offset 1,0 font ',10' tc rgb '#b000b0' "
        "notitle, \\",
        "     'marks.dat' using 1:($3==4 ? $2+0.5 : NaN) with points pt 11 ps 1.4 lc rgb '#000000' "
        "title 'too soon after the last frame', \\",
        "     'marks.dat' using 1:($3==5 ? $2-0.2 : NaN) with points pt 6 ps 1.6 lc rgb '#e07000' title 'late answer'",
    };
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + '\n';
    return text;
}

bool MonitorTimeline::draw(const QString &pngPath, const QString &title, qint64 realtimeMinusMonotonicNs, QString *error) const
{
    if (m_entries.empty()) {
        *error = QStringLiteral("%1: no transaction heard, no timeline drawn").arg(pngPath);
        return false;
    }
    return drawPng(script(title, realtimeMinusMonotonicNs),
                   {{QStringLiteral("requests.dat"), requests().isEmpty() ? QByteArray("0 0 -10\n") : requests()},
                    {QStringLiteral("answers.dat"), answers().isEmpty() ? QByteArray("0 0 -10 0 0\n") : answers()},
                    {QStringLiteral("marks.dat"), marks()}},
                   pngPath, error);
}
