#include "stationlist.h"

#include <QSet>
#include <QStringList>

namespace {

// Decimal digits alone (no sign, blank or prefix), from min to max.
bool parseNumber(const QString &text, int min, int max, int *value)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= min && *value <= max;
}

bool parseItem(const QString &item, int min, int max, int *first, int *last)
{
    const QStringList ends = item.split(QLatin1Char('-'));
    return ends.size() <= 2 && parseNumber(ends.first(), min, max, first)
           && parseNumber(ends.last(), min, max, last) && *first <= *last;
}

} // namespace

bool parseStationList(const QString &text, int min, int max, QList<int> *stations, QString *error)
{
    QList<int> result;
    QSet<int> seen;
    for (const QString &item : text.split(QLatin1Char(','))) {
        int first = 0;
        int last = 0;
        if (!parseItem(item, min, max, &first, &last)) {
            *error = QStringLiteral("%1: stations are numbers from %2 to %3, or ranges such as 1-10, "
                                    "separated by commas")
                         .arg(item)
                         .arg(min)
                         .arg(max);
            return false;
        }
        for (int station = first; station <= last; ++station) {
            if (seen.contains(station)) {
                *error = QStringLiteral("%1: station %2 is listed twice").arg(item).arg(station);
                return false;
            }
            seen.insert(station);
            result.append(station);
        }
    }
    *stations = result;
    return true;
}

QString stationListText(const QList<int> &stations)
{
    QStringList items;
    for (int i = 0; i < stations.size();) {
        int j = i;
        while (j + 1 < stations.size() && stations[j + 1] == stations[j] + 1)
            ++j;
        items.append(j > i + 1 ? QStringLiteral("%1-%2").arg(stations[i]).arg(stations[j])
                               : QString::number(stations[i]));
        if (j == i + 1)
            items.append(QString::number(stations[j]));
        i = j + 1;
    }
    return items.join(QLatin1Char(','));
}
