#include "scanreport.h"

#include <QSet>

#include "jsonlines.h"
#include "linesettings.h"

namespace {

const qint64 kMs = 1000000;
const char kConverterSettings[] = "the converter's";
// A time-out suggested for a late station: a fifth above its lateness,
// rounded up to whole 100 ms.
const qint64 kSuggestionStepMs = 100;

QString milliseconds(qint64 ns)
{
    return QStringLiteral("%1 ms").arg(double(ns) / kMs, 0, 'f', 1);
}

QString answerText(const ScanFinding &finding)
{
    switch (finding.kind) {
    case ScanFinding::Answered:
        return milliseconds(finding.responseNs);
    case ScanFinding::Exception:
        return QStringLiteral("exception 0x%1, %2")
            .arg(QString::number(finding.exceptionCode, 16).toUpper().rightJustified(2, QLatin1Char('0')),
                 milliseconds(finding.responseNs));
    case ScanFinding::Late:
        break;
    case ScanFinding::Garbled:
        return QStringLiteral("garbled: ") + finding.why;
    case ScanFinding::OtherStation:
        return QStringLiteral("answered as station %1 (a wrong station number, or the wiring)").arg(finding.answeredAs);
    }
    if (finding.latenessNs < 0)
        return QStringLiteral("late: answered after its request was given up; raise --timeout");
    const qint64 lateMs = (finding.latenessNs + kMs - 1) / kMs;
    const qint64 suggestedMs = (lateMs * 6 / 5 / kSuggestionStepMs + 1) * kSuggestionStepMs;
    return QStringLiteral("late: %1 ms, use --timeout %2").arg(lateMs).arg(suggestedMs);
}

QString countText(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

int stationsFound(const QList<ScanFinding> &findings)
{
    QSet<int> stations;
    for (const ScanFinding &finding : findings) {
        if (finding.isFound())
            stations.insert(finding.station);
    }
    return stations.size();
}

QStringList scanReport(const LineScanner &scanner, int stationsProbed, bool overTcp)
{
    const QList<ScanFinding> findings = scanner.findings();
    const QList<LineSettings> settings = scanner.settingsTried();
    int settingsWidth = 21;
    for (const LineSettings &tried : settings)
        settingsWidth = qMax(settingsWidth, int(tried.toString().size()));
    QStringList table;
    QStringList garbled;
    for (const ScanFinding &finding : findings) {
        // Over TCP the converter's own settings apply, which no probe checks.
        const QString settingsText = overTcp ? QString::fromLatin1(kConverterSettings)
                                             : settings[finding.settingsIndex].toString();
        if (finding.isFound()) {
            table.append(QStringLiteral("%1  %2  %3").arg(finding.station, 7).arg(settingsText, -settingsWidth).arg(answerText(finding)));
        } else {
            garbled.append(QStringLiteral("station %1 at %2: %3 (something is there, likely at "
                                          "other line settings)")
                               .arg(finding.station)
                               .arg(settingsText, answerText(finding)));
        }
    }
    QStringList lines;
    if (!table.isEmpty()) {
        lines.append(QStringLiteral("station  %1  answer").arg(QStringLiteral("line settings"), -settingsWidth));
        lines += table;
    }
    lines += garbled;
    const int found = stationsFound(findings);
    const QString garbledText = garbled.isEmpty()
                                    ? QString()
                                    : QStringLiteral(" (%1)").arg(countText(garbled.size(), "garbled answer", "garbled answers"));
    lines.append(QStringLiteral("%1 found%2 in %3 probed %4, %5 s")
                     .arg(found ? countText(found, "station", "stations") : QStringLiteral("no station"), garbledText)
                     .arg(stationsProbed)
                     .arg(overTcp ? QStringLiteral("over TCP")
                                  : QStringLiteral("at ") + countText(scanner.settingsProbed(), "line setting", "line settings"))
                     .arg(double(scanner.elapsedNs()) / 1e9, 0, 'f', 1));
    return lines;
}

namespace {

const char *findingName(int kind)
{
    switch (kind) {
    case ScanFinding::Answered:
        return "answered";
    case ScanFinding::Exception:
        return "exception";
    case ScanFinding::Late:
        return "late";
    case ScanFinding::Garbled:
        return "garbled";
    default:
        return "other station";
    }
}

} // namespace

QByteArray jsonFinding(const ScanFinding &finding, const LineSettings &settings, bool overTcp)
{
    QByteArray text = "{\"station\":" + QByteArray::number(finding.station)
                      + ",\"line\":" + (overTcp ? QByteArray("null") : jsonString(settings.toString()))
                      + ",\"found\":\"" + findingName(finding.kind) + '"';
    if (finding.kind == ScanFinding::Answered || finding.kind == ScanFinding::Exception)
        text += ",\"ms\":" + jsonMs(finding.responseNs);
    if (finding.kind == ScanFinding::Exception)
        text += ",\"exception\":" + QByteArray::number(finding.exceptionCode);
    if (finding.kind == ScanFinding::Late && finding.latenessNs >= 0)
        text += ",\"late_ms\":" + jsonMs(finding.latenessNs);
    if (finding.kind == ScanFinding::Garbled)
        text += ",\"why\":" + jsonString(finding.why);
    if (finding.kind == ScanFinding::OtherStation)
        text += ",\"answered_as\":" + QByteArray::number(finding.answeredAs);
    return text + ",\"ok\":" + (finding.isFound() ? "true" : "false") + "}\n";
}
