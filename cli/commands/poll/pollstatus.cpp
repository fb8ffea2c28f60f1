#include "pollstatus.h"

#include <QStringList>

#include "linestats.h"

namespace {

// A cycle this much past its interval is a slow one: scheduling alone
// never makes that.
const qint64 kSlackNs = 10000000;

QString counted(qint64 count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

PollTrouble PollTrouble::of(const LineStats &stats, const QList<int> &stations)
{
    PollTrouble sum;
    for (const int station : stations) {
        if (const StationStats *counts = stats.station(station)) {
            sum.retries += counts->retries;
            sum.timeouts += counts->timeouts;
            sum.crcErrors += counts->crcErrors;
        }
    }
    return sum;
}

PollTrouble PollTrouble::operator-(const PollTrouble &before) const
{
    PollTrouble difference;
    difference.retries = retries - before.retries;
    difference.timeouts = timeouts - before.timeouts;
    difference.crcErrors = crcErrors - before.crcErrors;
    return difference;
}

QString pollStatus(qint64 cycleNs, int intervalMs, const PollTrouble &trouble, const QString &since)
{
    const qint64 intervalNs = qint64(intervalMs) * 1000000;
    const bool slow = cycleNs > intervalNs + qMax(kSlackNs, intervalNs / 10);
    QStringList why;
    if (trouble.retries)
        why.append(counted(trouble.retries, "retry", "retries"));
    if (trouble.timeouts)
        why.append(counted(trouble.timeouts, "time-out", "time-outs"));
    if (trouble.crcErrors)
        why.append(counted(trouble.crcErrors, "CRC error", "CRC errors"));
    if (!slow && why.isEmpty())
        return QString();
    QString text = QStringLiteral("cycle %1 ms").arg(double(cycleNs) / 1e6, 0, 'f', 0);
    if (slow)
        text += QStringLiteral(" (every %1 ms asked)").arg(intervalMs);
    if (why.isEmpty())
        return text;
    return text + (since.isEmpty() ? QStringLiteral(": ") : QStringLiteral("; since %1: ").arg(since))
           + why.join(QStringLiteral(", "));
}
