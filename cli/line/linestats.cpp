#include "linestats.h"

#include <cmath>

#include "failuretexts.h"
#include "teco_servo_texts.h"

namespace {

const double kBucketRatio = 1.01;

int bucketOf(qint64 ns)
{
    return int(std::floor(std::log(double(qMax<qint64>(ns, 1))) / std::log(kBucketRatio)));
}

// The middle of a bucket, on the log scale.
qint64 bucketMiddle(int bucket)
{
    return qint64(std::pow(kBucketRatio, bucket + 0.5));
}

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', ns < 10000000 ? 2 : 1);
}

// The outcome of a request by the driver's text for it.
enum class Outcome { Good, Timeout, Crc, Exception, Other };

Outcome outcomeOf(const QString &text, int *exceptionCode)
{
    if (text.isEmpty())
        return Outcome::Good;
    if (text.startsWith(QLatin1String(TecoServoText::NoResponse)))
        return Outcome::Timeout;
    if (text.startsWith(QLatin1String(TecoServoText::CrcError)))
        return Outcome::Crc;
    *exceptionCode = driverExceptionCode(text);
    return *exceptionCode >= 0 ? Outcome::Exception : Outcome::Other;
}

const char kHeader[] = "station  requests     good  time-outs  CRC errors  exceptions  other  late  retries"
                       "  min ms  median ms  p99 ms  max ms";

} // namespace

// A colon would read as a time of day.
QString exceptionText(const QMap<int, qint64> &exceptions)
{
    if (exceptions.isEmpty())
        return QStringLiteral("0");
    QStringList parts;
    for (auto it = exceptions.begin(); it != exceptions.end(); ++it)
        parts.append(QStringLiteral("%1x%2")
                         .arg(QString::number(it.key(), 16).toUpper().rightJustified(2, QLatin1Char('0')))
                         .arg(it.value()));
    return parts.join(QLatin1Char(' '));
}

void appendOtherDrives(QStringList *lines, int station, const QMap<int, qint64> &answeredBy)
{
    for (auto it = answeredBy.begin(); it != answeredBy.end(); ++it) {
        lines->append(QStringLiteral("station %1: %2 %3 from station %4 (another drive answered)")
                          .arg(station)
                          .arg(it.value())
                          .arg(QLatin1String(it.value() == 1 ? "answer" : "answers"))
                          .arg(it.key()));
    }
}

QString ResponseTimes::columns() const
{
    if (m_count == 0)
        return QStringLiteral("      -          -       -       -");
    return QStringLiteral("%1  %2  %3  %4")
        .arg(milliseconds(minNs()), 6)
        .arg(milliseconds(quantileNs(0.5)), 9)
        .arg(milliseconds(quantileNs(0.99)), 6)
        .arg(milliseconds(maxNs()), 6);
}

void ResponseTimes::add(qint64 ns)
{
    ++m_buckets[bucketOf(ns)];
    m_min = m_count ? qMin(m_min, ns) : ns;
    m_max = m_count ? qMax(m_max, ns) : ns;
    ++m_count;
}

qint64 ResponseTimes::quantileNs(double q) const
{
    const qint64 rank = qint64(std::ceil(q * double(m_count)));
    qint64 seen = 0;
    for (auto it = m_buckets.begin(); it != m_buckets.end(); ++it) {
        seen += it.value();
        if (seen >= rank)
            return qBound(m_min, bucketMiddle(it.key()), m_max);
    }
    return m_max;
}

qint64 StationStats::exceptionCount() const
{
    qint64 total = 0;
    for (const qint64 count : exceptions)
        total += count;
    return total;
}

void LineStats::addRequest(int station, const QString &driverError, qint64 responseNs, bool retry)
{
    StationStats &stats = m_stations[station];
    ++stats.requests;
    stats.retries += retry ? 1 : 0;
    if (station == 0)
        return; // a broadcast: no drive answers it
    int code = 0;
    switch (outcomeOf(driverError, &code)) {
    case Outcome::Good:
        ++stats.good;
        stats.responseTimes.add(responseNs);
        break;
    case Outcome::Timeout:
        ++stats.timeouts;
        break;
    case Outcome::Crc:
        ++stats.crcErrors;
        break;
    case Outcome::Exception:
        ++stats.exceptions[code];
        break;
    case Outcome::Other:
        ++stats.other;
        break;
    }
}

void LineStats::addLate(int station)
{
    ++m_stations[station].late;
}

void LineStats::addOtherStation(int asked, int station)
{
    ++m_stations[asked].answeredBy[station];
}

const StationStats *LineStats::station(int station) const
{
    const auto it = m_stations.find(station);
    return it == m_stations.end() ? nullptr : &it->second;
}

QStringList LineStats::table() const
{
    QStringList lines{QLatin1String(kHeader)};
    for (const auto &entry : m_stations) {
        const StationStats &s = entry.second;
        lines.append(QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8  %9  ")
                         .arg(entry.first, 7)
                         .arg(s.requests, 8)
                         .arg(s.good, 7)
                         .arg(s.timeouts, 9)
                         .arg(s.crcErrors, 10)
                         .arg(exceptionText(s.exceptions), 10)
                         .arg(s.other, 5)
                         .arg(s.late, 4)
                         .arg(s.retries, 7)
                     + s.responseTimes.columns());
    }
    for (const auto &entry : m_stations)
        appendOtherDrives(&lines, entry.first, entry.second.answeredBy);
    return lines;
}
