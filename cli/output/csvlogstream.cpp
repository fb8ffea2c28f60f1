#include "csvlogstream.h"

#include <QDateTime>
#include <QStringList>

#include "csvlog.h"
#include "options.h"
#include "values.h"

namespace {

const int kBlockBytes = 1 << 20;
const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzz";

QString joined(const std::vector<QByteArray> &fields, int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts.append(QString::fromUtf8(fields[size_t(i)]));
    return texts.join(QLatin1Char(','));
}

bool parseRaw(const QByteArray &text, quint64 *raw)
{
    if (!text.startsWith("0x") || text.size() < 3 || text.size() > 18)
        return false;
    quint64 value = 0;
    for (int i = 2; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        value = value << 4 | quint64(digit);
    }
    *raw = value;
    return true;
}

// digits of text[at, at + count) as a number, -1 when one is not a digit.
int digitsAt(const QByteArray &text, int at, int count)
{
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "HH:mm:ss.zzz" at text[11], added to dayMs.
bool parseClock(const QByteArray &text, qint64 dayMs, qint64 *epochMs)
{
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    const int ms = digitsAt(text, 20, 3);
    if (text[13] != ':' || text[16] != ':' || text[19] != '.' || hour < 0 || hour > 23 || minute < 0 || minute > 59
        || second < 0 || second > 59 || ms < 0)
        return false;
    *epochMs = dayMs + hour * 3600000 + minute * 60000 + second * 1000 + ms;
    return true;
}

} // namespace

bool CsvLogStream::open(const QString &path, QString *error)
{
    m_path = path;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, m_file.errorString());
        return false;
    }
    // Comments before the header, kept out of the records and counted as lines.
    while (peek() == '#') {
        for (int c = peek(); c >= 0 && c != '\n'; c = peek())
            advance();
    }
    const int got = record(error);
    if (got < 0)
        return false;
    const QString header = got ? joined(m_fields, m_fieldCount) : QString();
    m_columns = m_fieldCount;
    if (header != QLatin1String(kCsvLogHeader) && header != QLatin1String(kCsvLogHeaderBefore)) {
        *error = QStringLiteral("%1:1: not a servoctl log, whose first line is %2: %3")
                     .arg(path, QLatin1String(kCsvLogHeader), header);
        return false;
    }
    m_consumed = m_bufferStart + m_at;
    return true;
}

int CsvLogStream::peek()
{
    if (m_at < m_buffer.size())
        return static_cast<unsigned char>(m_buffer[m_at]);
    m_bufferStart += m_buffer.size();
    m_at = 0;
    qint64 want = kBlockBytes;
    if (m_limit >= 0)
        want = qMin(want, m_limit - m_bufferStart);
    m_buffer = want > 0 ? m_file.read(want) : QByteArray();
    return m_buffer.isEmpty() ? -1 : static_cast<unsigned char>(m_buffer[0]);
}

// As CsvSplitter (csvlog.cpp) splits a whole text: quoted fields may hold
// commas, doubled quotes and line breaks; blank lines are skipped.
int CsvLogStream::record(QString *error)
{
    for (;;) {
        m_recordLine = m_line;
        m_fieldCount = 0;
        bool blank = true;
        int c = peek();
        if (c < 0)
            return 0;
        for (;;) {
            if (size_t(m_fieldCount) == m_fields.size())
                m_fields.emplace_back();
            QByteArray &field = m_fields[size_t(m_fieldCount++)];
            field.clear();
            bool quoted = false;
            c = peek();
            if (c == '"') {
                quoted = true;
                blank = false;
                advance();
                for (;;) {
                    c = peek();
                    if (c < 0) {
                        *error = QStringLiteral("%1:%2: a quoted field is never closed: %3")
                                     .arg(m_path)
                                     .arg(m_recordLine)
                                     .arg(QString::fromUtf8(field).left(40));
                        return -1;
                    }
                    advance();
                    if (c == '\n')
                        ++m_line;
                    if (c != '"') {
                        field += char(c);
                    } else if (peek() == '"') {
                        field += '"';
                        advance();
                    } else {
                        break;
                    }
                }
            }
            for (c = peek(); c >= 0 && c != ',' && c != '\n'; c = peek()) {
                advance();
                if (c == '\r' && peek() == '\n')
                    continue;
                if (c == '"' || quoted) {
                    const QString shown = quoted ? QLatin1Char('"') + QString::fromUtf8(field) + QLatin1Char('"')
                                                 : QString::fromUtf8(field);
                    *error = QStringLiteral("%1:%2: a quote in a field not quoted whole: %3")
                                 .arg(m_path)
                                 .arg(m_line)
                                 .arg(shown + QChar(c));
                    return -1;
                }
                field += char(c);
                blank = false;
            }
            if (c != ',')
                break;
            advance();
            blank = false;
        }
        if (c == '\n') {
            advance();
            ++m_line;
        }
        if (!blank)
            return 1;
    }
}

bool CsvLogStream::parseTime(const QByteArray &text, CsvLogStreamRow *row)
{
    row->offsetGiven = text.size() == 29 && (text[23] == '+' || text[23] == '-') && text[26] == ':';
    if (row->offsetGiven) {
        // An instant: the date's days, the clock and the offset, no time zone asked.
        const int hours = digitsAt(text, 24, 2), minutes = digitsAt(text, 27, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
            return false;
        row->offsetMinutes = (text[23] == '-' ? -1 : 1) * (hours * 60 + minutes);
        if (!m_dayText.isEmpty() && text.startsWith(m_dayText) && text[10] == 'T')
            return parseClock(text, m_day * 86400000 - row->offsetMinutes * 60000, &row->epochMs);
        const QDate day = QDate::fromString(QString::fromLatin1(text.left(10)), QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid() || text[10] != 'T')
            return false;
        m_dayText = text.left(10);
        m_day = day.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
        return parseClock(text, m_day * 86400000 - row->offsetMinutes * 60000, &row->epochMs);
    }
    // Older logs: local time. The local time of each hour once; minutes,
    // seconds and milliseconds added on, as QDateTime would (the hour's start
    // tells its offset).
    if (text.size() == 23 && text[13] == ':' && text[16] == ':' && text[19] == '.') {
        const int minute = digitsAt(text, 14, 2);
        const int second = digitsAt(text, 17, 2);
        const int ms = digitsAt(text, 20, 3);
        if (minute >= 0 && minute < 60 && second >= 0 && second < 60 && ms >= 0) {
            if (!text.startsWith(m_hourText) || m_hourText.isEmpty()) {
                const QDateTime hour = QDateTime::fromString(QString::fromLatin1(text.left(13) + ":00:00.000"),
                                                             QLatin1String(kTimeFormat));
                if (hour.isValid()
                    && hour.toString(QLatin1String(kTimeFormat)).toLatin1() == text.left(13) + ":00:00.000") {
                    m_hourText = text.left(13);
                    m_hourMs = hour.toMSecsSinceEpoch();
                }
            }
            if (!m_hourText.isEmpty() && text.startsWith(m_hourText)) {
                row->epochMs = m_hourMs + minute * 60000 + second * 1000 + ms;
                return true;
            }
        }
    }
    const QDateTime time = QDateTime::fromString(QString::fromUtf8(text), QLatin1String(kTimeFormat));
    row->epochMs = time.toMSecsSinceEpoch();
    return time.isValid();
}

// What is wrong with the record as a row, else empty with *row filled in.
QString CsvLogStream::rowError(CsvLogStreamRow *row)
{
    const std::vector<QByteArray> &f = m_fields;
    quint64 station = 0;
    if (m_fieldCount != m_columns) {
        return QStringLiteral("a row has %1 fields, this one %2: %3").arg(m_columns).arg(m_fieldCount).arg(joined(m_fields, m_fieldCount));
    }
    if (!parseTime(f[0], row))
        return QStringLiteral("not a time such as 2026-12-06T06:10:01.123+01:00: %1").arg(QString::fromUtf8(f[0]));
    if (!parseDecimal(QString::fromUtf8(f[1]), 0, kLastStation, &station))
        return QStringLiteral("not a station (0 to %1): %2").arg(kLastStation).arg(QString::fromUtf8(f[1]));
    if (f[2].isEmpty())
        return QStringLiteral("no address");
    row->kind = LogKind::Read;
    row->error.clear();
    if (m_columns > 5) {
        const QByteArray &kind = f[5];
        if (kind == logKindName(LogKind::Write))
            row->kind = LogKind::Write;
        else if (kind == logKindName(LogKind::Broadcast))
            row->kind = LogKind::Broadcast;
        else if (kind != logKindName(LogKind::Read))
            return QStringLiteral("not a kind (read, write or broadcast): %1").arg(QString::fromUtf8(kind));
        row->error = f[6];
    }
    // A failed read has neither raw bits nor a value: nothing came.
    row->raw = 0;
    const bool failedRead = row->kind == LogKind::Read && !row->error.isEmpty();
    if (failedRead && (!f[3].isEmpty() || !f[4].isEmpty()))
        return QStringLiteral("a failed read with a value: %1").arg(QString::fromUtf8(f[3] + ',' + f[4]));
    if (!failedRead && !parseRaw(f[3], &row->raw))
        return QStringLiteral("not a raw value such as 0x03E8: %1").arg(QString::fromUtf8(f[3]));
    row->station = int(station);
    row->address = f[2];
    row->value = f[4];
    return QString();
}

int CsvLogStream::next(CsvLogStreamRow *row, QString *error)
{
    const int got = record(error);
    if (got <= 0)
        return got;
    m_consumed = m_bufferStart + m_at;
    row->line = m_recordLine;
    const QString why = rowError(row);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1:%2: %3").arg(m_path).arg(m_recordLine).arg(why);
        return -1;
    }
    return 1;
}
