#ifndef SERVOCTL_CSVLOGSTREAM_H
#define SERVOCTL_CSVLOGSTREAM_H

#include <vector>

#include <QByteArray>
#include <QFile>
#include <QString>

#include "csvlog.h"

// A servoctl CSV log (csvlog.h) read row by row, for logs of any length:
// memory holds one read-ahead block and one row, whatever the file's size.
// readCsvLog reads a whole log through it.
struct CsvLogStreamRow
{
    int line = 0; // where the row starts in the file, from 1
    qint64 epochMs = 0;
    int offsetMinutes = 0; // the time's offset from UTC as logged
    bool offsetGiven = false;
    int station = 0;
    QByteArray address; // UTF-8, as logged
    quint64 raw = 0;    // 0 for a failed read
    QByteArray value;   // UTF-8, as logged
    LogKind kind = LogKind::Read;
    QByteArray error; // UTF-8; empty: read, or acknowledged
};

class CsvLogStream
{
public:
    // Opens the log and reads its comments and header; false with
    // "PATH:LINE: what: WORD" in *error.
    bool open(const QString &path, QString *error);
    // 1 with the next row in *row, 0 at the end (or at limit()), -1 with
    // *error set.
    int next(CsvLogStreamRow *row, QString *error);
    // The bytes read up to the end of the last row; a second reading given
    // it as its limit sees the same rows, should the log grow meanwhile.
    qint64 consumed() const { return m_consumed; }
    void setLimit(qint64 bytes) { m_limit = bytes; }

private:
    int peek(); // the next byte, -1 at the end
    void advance() { ++m_at; }
    // 1 with a record in m_fields, 0 at the end, -1 with *error.
    int record(QString *error);
    QString rowError(CsvLogStreamRow *row);
    bool parseTime(const QByteArray &text, CsvLogStreamRow *row);

    QString m_path;
    QFile m_file;
    QByteArray m_buffer;
    int m_at = 0;
    qint64 m_bufferStart = 0; // the file offset of m_buffer[0]
    qint64 m_limit = -1;
    qint64 m_consumed = 0;
    int m_line = 1;
    int m_recordLine = 1;
    std::vector<QByteArray> m_fields;
    int m_fieldCount = 0;
    int m_columns = 0; // of the header: older logs have five
    // The local time of the hour last seen, "yyyy-MM-ddTHH", and its start.
    QByteArray m_hourText;
    qint64 m_hourMs = 0;
    // The date last seen with an offset, "yyyy-MM-dd", and its days since 1970.
    QByteArray m_dayText;
    qint64 m_day = 0;
};

#endif // SERVOCTL_CSVLOGSTREAM_H
