#include "csvlog.h"

#include <unistd.h>

#include <QDateTime>

#include "csvlogstream.h"
#include "newfile.h"
#include "systemerror.h"
#include "writeall.h"

const char kCsvLogHeader[] = "time,station,address,raw,value,kind,error";
const char kCsvLogHeaderBefore[] = "time,station,address,raw,value";

namespace {

const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzz";
// Rows kept before append() hands them on by itself: a fast poll of many
// items must not grow the memory until the next flush().
const int kMaxPendingBytes = 64 * 1024;
const qint64 kSyncIntervalMs = 1000;

} // namespace

const char *logKindName(LogKind kind)
{
    return kind == LogKind::Write ? "write" : kind == LogKind::Broadcast ? "broadcast" : "read";
}

// A local time alone is ambiguous in the hour a clock goes back, and
// across machines: the offset says which instant it was.
QString logTimeText(qint64 epochMs)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(epochMs);
    return time.toString(QLatin1String(kTimeFormat)) + utcOffsetText(time.offsetFromUtc() / 60);
}

QString utcOffsetText(int minutes)
{
    return QStringLiteral("%1%2:%3")
        .arg(QLatin1Char(minutes < 0 ? '-' : '+'))
        .arg(qAbs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(qAbs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

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

bool CsvLog::append(qint64 epochMs, int station, const QString &address, const QString &raw, const QString &value,
                    LogKind kind, const QString &error)
{
    if (!m_error.isEmpty())
        return false;
    m_pending += csvField(logTimeText(epochMs)) + ',' + QByteArray::number(station) + ',' + csvField(address) + ','
                 + csvField(raw) + ',' + csvField(value) + ',' + logKindName(kind) + ',' + csvField(error) + '\n';
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

bool readCsvLog(const QString &path, QList<CsvLogRow> *rows, QString *error)
{
    CsvLogStream log;
    if (!log.open(path, error))
        return false;
    QList<CsvLogRow> result;
    CsvLogStreamRow row;
    int got;
    while ((got = log.next(&row, error)) > 0) {
        result.append(CsvLogRow{row.line, row.epochMs, row.station, QString::fromUtf8(row.address), row.raw,
                                QString::fromUtf8(row.value), row.kind, QString::fromUtf8(row.error)});
    }
    if (got < 0)
        return false;
    *rows = result;
    return true;
}
