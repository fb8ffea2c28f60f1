#ifndef SERVOCTL_CSVLOG_H
#define SERVOCTL_CSVLOG_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// servoctl's log of values read: a comment naming the line the values came
// from, then one CSV row an item read or written,
//   # line: /dev/ttyUSB0, RS485,9600,NONE,8,2
//   time,station,address,raw,value,kind,error
//   2026-12-06T06:10:01.123+01:00,1,HR100,0x03E8,1000,read,
//   2026-12-06T06:10:02.123+01:00,1,HR100,,,read,PLC no response (...)
//   2026-12-06T06:10:02.200+01:00,1,HR1,0x04B0,1200,write,
// time local with milliseconds and its offset from UTC, the address as
// servoctl labels the item (Address::itemLabel), raw its bits in hex at
// full width (formatValue(value, type, ValueFormat::Hex)), value as printed
// (a write's in its own format); a failed read has an error and neither; a
// write's error says it was not acknowledged. Fields holding a comma, a
// quote or a line break are quoted (RFC 4180). Lines starting with '#'
// before the header are comments (logs of older servoctl have none; a log to
// standard output or into a fifo has none either). Logs of older servoctl,
// with the first five columns and local times without an offset, are read
// as rows read.

// A field as a row holds it: quoted when it holds a comma, a quote or a
// line break.
QByteArray csvField(const QString &text);

// The header line, without its line break; and that of older logs.
extern const char kCsvLogHeader[];
extern const char kCsvLogHeaderBefore[];

// What a row records.
enum class LogKind { Read, Write, Broadcast };
const char *logKindName(LogKind kind);

// A time as logs and JSON lines write it: local, to the millisecond, with
// its offset from UTC (2026-12-06T06:10:01.123+01:00).
QString logTimeText(qint64 epochMs);
// "+01:00", "-03:30", "+00:00".
QString utcOffsetText(int minutes);

// Writes a log as it goes: a new file only (never replaces one), rows kept
// in memory until flush(), which the poller calls after every cycle.
class CsvLog
{
public:
    CsvLog() = default;
    ~CsvLog();
    CsvLog(const CsvLog &) = delete;
    CsvLog &operator=(const CsvLog &) = delete;

    // Creates path and writes the line's comment (lineText(), on one line)
    // and the header; false with *error set.
    bool open(const QString &path, const QString &line, QString *error);
    // False once a write has failed (a full disk): errorString() says why.
    // A failed read: no raw, no value, and the error.
    bool append(qint64 epochMs, int station, const QString &address, const QString &raw, const QString &value,
                LogKind kind = LogKind::Read, const QString &error = QString());
    // Hands the rows to the file, and to the disk at most once a second, so
    // a power cut loses at most the last second's rows.
    bool flush();
    QString errorString() const { return m_error; }

private:
    bool sync();

    QString m_path;
    QFile m_file;
    QByteArray m_pending;
    qint64 m_lastSyncMs = 0;
    QString m_error;
    bool m_stream = false; // standard output, a fifo, a terminal: no comment, no sync
};

// One row of a log as read back.
struct CsvLogRow
{
    int line = 0; // where the row starts in the file, from 1
    qint64 epochMs = 0;
    int station = 0;
    QString address;
    quint64 raw = 0;
    QString value;
    LogKind kind = LogKind::Read;
    QString error; // empty: read, or acknowledged
};

// Reads a whole log; false with "NAME:LINE: what is wrong: WORD" in *error.
bool readCsvLog(const QString &path, QList<CsvLogRow> *rows, QString *error);

#endif // SERVOCTL_CSVLOG_H
