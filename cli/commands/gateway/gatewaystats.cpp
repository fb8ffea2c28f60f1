#include "gatewaystats.h"

#include <algorithm>

namespace {

// Enough for steady percentiles, bounded however long the gateway runs.
const int kKeptWaits = 1024;

} // namespace

void GatewayTally::add(End end, int code, qint64 queueWaitNs)
{
    ++m_requests;
    switch (end) {
    case Answered:
        ++m_answers;
        break;
    case Exception:
        ++m_exceptions[code];
        break;
    case TimedOut:
        ++m_timeouts;
        break;
    case Uncertain:
        ++m_uncertain;
        break;
    case Broadcast:
        ++m_broadcasts;
        break;
    }
    if (m_waits.size() < kKeptWaits) {
        m_waits.append(queueWaitNs);
    } else {
        m_waits[m_nextWait] = queueWaitNs;
        m_nextWait = (m_nextWait + 1) % kKeptWaits;
    }
}

double GatewayTally::waitPercentileMs(double fraction) const
{
    if (m_waits.isEmpty())
        return 0;
    QVector<qint64> sorted = m_waits;
    std::sort(sorted.begin(), sorted.end());
    const int at = qMin(sorted.size() - 1, int(fraction * sorted.size()));
    return double(sorted[at]) / 1e6;
}

QString GatewayTally::text() const
{
    QStringList exceptions;
    for (auto it = m_exceptions.begin(); it != m_exceptions.end(); ++it)
        exceptions.append(QStringLiteral("%1 of 0x%2")
                              .arg(it.value())
                              .arg(QString::number(it.key(), 16).rightJustified(2, QLatin1Char('0')).toUpper()));
    QString text = QStringLiteral("%1 %2, %3 %4, exceptions %5, %6 %7, %8 uncertain")
                       .arg(m_requests)
                       .arg(QLatin1String(m_requests == 1 ? "request" : "requests"))
                       .arg(m_answers)
                       .arg(QLatin1String(m_answers == 1 ? "answer" : "answers"))
                       .arg(exceptions.isEmpty() ? QStringLiteral("none") : exceptions.join(QStringLiteral(" and ")))
                       .arg(m_timeouts)
                       .arg(QLatin1String(m_timeouts == 1 ? "time-out" : "time-outs"))
                       .arg(m_uncertain);
    if (m_broadcasts > 0)
        text += QStringLiteral(", %1 broadcast").arg(m_broadcasts);
    return text
           + QStringLiteral(", queue wait p50 %1 ms p99 %2 ms")
                 .arg(waitPercentileMs(0.5), 0, 'f', 1)
                 .arg(waitPercentileMs(0.99), 0, 'f', 1);
}

QStringList GatewayStats::lines() const
{
    QStringList lines;
    for (auto it = m_stations.begin(); it != m_stations.end(); ++it)
        lines.append(QStringLiteral("station %1: %2").arg(it.key()).arg(it.value().text()));
    lines.append(QStringLiteral("all stations: %1").arg(m_total.text()));
    return lines;
}
