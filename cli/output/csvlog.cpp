#include "csvlog.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <QDateTime>
#include <QFileInfo>

#include "newfile.h"
#include "options.h"
#include "systemerror.h"
#include "writeall.h"

const char kCsvLogHeader[] = "time,station,address,raw,value";

namespace {

const int kFieldCount = 5;
const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzz";
// Rows kept before append() hands them on by itself: a fast poll of many
// items must not grow the memory until the next flush().
const int kMaxPendingBytes = 64 * 1024;
const qint64 kSyncIntervalMs = 1000;

} // namespace

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    for (const char quotable : {',', '"', '\n', '\r'}) {
        if (bytes.contains(quotable))
            return '"' + bytes.replace("\"", "\"\"") + '"';
    }
    return bytes;
}

CsvLog::~CsvLog()
{
    if (m_file.isOpen() && flush())
        sync();
}

bool CsvLog::open(const QString &path, const QString &line, QString *error)
{
    m_path = path;
    const int fd = openLogFile(path, &m_stream, error);
    if (fd < 0)
        return false;
    m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    // A pipe's reader takes CSV and nothing else.
    if (!m_stream)
        m_pending = "# line: " + line.toUtf8() + '\n';
    m_pending += QByteArray(kCsvLogHeader) + '\n';
    if (flush())
        return true;
    *error = m_error;
    return false;
}

bool CsvLog::append(qint64 epochMs, int station, const QString &address, const QString &raw, const QString &value)
{
    if (!m_error.isEmpty())
        return false;
    const QString time = QDateTime::fromMSecsSinceEpoch(epochMs).toString(QLatin1String(kTimeFormat));
    m_pending += csvField(time) + ',' + QByteArray::number(station) + ',' + csvField(address) + ',' + csvField(raw)
                 + ',' + csvField(value) + '\n';
    return m_pending.size() < kMaxPendingBytes || flush();
}

bool CsvLog::flush()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_pending.isEmpty()) {
        if (const int error = writeAll(m_file.handle(), m_pending)) {
            m_error = QStringLiteral("cannot write %1: %2").arg(m_path, systemReason(error));
            return false;
        }
        m_pending.clear();
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (qAbs(now - m_lastSyncMs) < kSyncIntervalMs)
        return true;
    m_lastSyncMs = now;
    return sync();
}

bool CsvLog::sync()
{
    if (m_stream || fdatasync(m_file.handle()) == 0)
        return true;
    m_error = QStringLiteral("cannot write %1: %2").arg(m_path, systemReason());
    return false;
}

namespace {

// One record of a CSV text and the line it starts on.
struct CsvRecord
{
    int line = 0;
    QStringList fields;
};

// Splits CSV text into records; a quoted field may hold commas, doubled
// quotes and line breaks. Blank lines are skipped. False with *error as
// "LINE: what: WORD" at a stray quote or an unclosed one.
class CsvSplitter
{
public:
    bool split(const QString &text, QList<CsvRecord> *records, QString *error);

private:
    bool take(QChar c, QChar next, QString *error);
    void endField();
    void endRecord();

    QList<CsvRecord> m_records;
    CsvRecord m_record;
    QString m_field;
    int m_line = 1;
    bool m_quoted = false;   // the field began with a quote
    bool m_inQuotes = false; // inside it now
    bool m_skipNext = false; // the second quote of a doubled one
};

bool CsvSplitter::split(const QString &text, QList<CsvRecord> *records, QString *error)
{
    m_record.line = 1;
    for (int i = 0; i < text.size(); ++i) {
        if (m_skipNext) {
            m_skipNext = false;
            continue;
        }
        if (!take(text[i], i + 1 < text.size() ? text[i + 1] : QChar(), error))
            return false;
    }
    if (m_inQuotes) {
        *error = QStringLiteral("%1: a quoted field is never closed: %2").arg(m_record.line).arg(m_field.left(40));
        return false;
    }
    endRecord();
    *records = m_records;
    return true;
}

bool CsvSplitter::take(QChar c, QChar next, QString *error)
{
    if (c == QLatin1Char('\n'))
        ++m_line;
    if (m_inQuotes) {
        if (c != QLatin1Char('"')) {
            m_field += c;
        } else if (next == QLatin1Char('"')) {
            m_field += c;
            m_skipNext = true;
        } else {
            m_inQuotes = false;
        }
        return true;
    }
    if (c == QLatin1Char(',')) {
        endField();
    } else if (c == QLatin1Char('\n')) {
        endRecord();
        m_record.line = m_line;
    } else if (c == QLatin1Char('\r') && next == QLatin1Char('\n')) {
        // CRLF line ends, as RFC 4180 writes them
    } else if (c == QLatin1Char('"') && m_field.isEmpty() && !m_quoted) {
        m_quoted = m_inQuotes = true;
    } else if (c == QLatin1Char('"') || m_quoted) {
        const QString shown = m_quoted ? QLatin1Char('"') + m_field + QLatin1Char('"') : m_field;
        *error = QStringLiteral("%1: a quote in a field not quoted whole: %2").arg(m_line).arg(shown + c);
        return false;
    } else {
        m_field += c;
    }
    return true;
}

void CsvSplitter::endField()
{
    m_record.fields.append(m_field);
    m_field.clear();
    m_quoted = false;
}

void CsvSplitter::endRecord()
{
    const bool blank = m_record.fields.isEmpty() && m_field.isEmpty() && !m_quoted;
    endField();
    if (!blank)
        m_records.append(m_record);
    m_record.fields.clear();
}

bool parseRaw(const QString &text, quint64 *raw)
{
    const QString digits = text.mid(2);
    if (!text.startsWith(QLatin1String("0x")) || digits.isEmpty() || digits.size() > 16)
        return false;
    for (const QChar c : digits) {
        if (!c.isDigit() && !QStringLiteral("ABCDEFabcdef").contains(c))
            return false;
    }
    bool ok = false;
    *raw = digits.toULongLong(&ok, 16);
    return ok;
}

// Empty when the record is a good row, else "what: WORD".
QString parseRow(const CsvRecord &record, CsvLogRow *row)
{
    if (record.fields.size() != kFieldCount) {
        return QStringLiteral("a row has %1 fields, this one %2: %3")
            .arg(kFieldCount)
            .arg(record.fields.size())
            .arg(record.fields.join(QLatin1Char(',')));
    }
    const QStringList &f = record.fields;
    const QDateTime time = QDateTime::fromString(f[0], QLatin1String(kTimeFormat));
    if (!time.isValid())
        return QStringLiteral("not a time such as 2026-12-06T06:10:01.123: %1").arg(f[0]);
    quint64 station = 0;
    if (!parseDecimal(f[1], 0, kLastStation, &station))
        return QStringLiteral("not a station (0 to %1): %2").arg(kLastStation).arg(f[1]);
    if (f[2].isEmpty())
        return QStringLiteral("no address");
    if (!parseRaw(f[3], &row->raw))
        return QStringLiteral("not a raw value such as 0x03E8: %1").arg(f[3]);
    row->line = record.line;
    row->epochMs = time.toMSecsSinceEpoch();
    row->station = int(station);
    row->address = f[2];
    row->value = f[4];
    return QString();
}

} // namespace

bool readCsvLog(const QString &path, QList<CsvLogRow> *rows, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // The comments before the header become blank lines, which keeps the
    // line numbers.
    QString text = QString::fromUtf8(file.readAll());
    for (int at = 0; text.midRef(at).startsWith(QLatin1Char('#')); ++at) {
        const int end = text.indexOf(QLatin1Char('\n'), at);
        if (end < 0) {
            text.truncate(at);
            break;
        }
        text.remove(at, end - at);
    }
    QList<CsvRecord> records;
    QString why;
    if (!CsvSplitter().split(text, &records, &why)) {
        *error = QStringLiteral("%1:%2").arg(path, why);
        return false;
    }
    if (records.isEmpty() || records[0].fields.join(QLatin1Char(',')) != QLatin1String(kCsvLogHeader)) {
        *error = QStringLiteral("%1:1: not a servoctl log, whose first line is %2: %3")
                     .arg(path, QLatin1String(kCsvLogHeader),
                          records.isEmpty() ? QString() : records[0].fields.join(QLatin1Char(',')));
        return false;
    }
    QList<CsvLogRow> result;
    for (const CsvRecord &record : records.mid(1)) {
        CsvLogRow row;
        why = parseRow(record, &row);
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(record.line).arg(why);
            return false;
        }
        result.append(row);
    }
    *rows = result;
    return true;
}
