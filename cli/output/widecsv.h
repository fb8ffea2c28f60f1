#ifndef SERVOCTL_WIDECSV_H
#define SERVOCTL_WIDECSV_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

struct Options;
struct Step;

// --csv-wide: a log for spreadsheets, one row a poll cycle (or the read),
// one column a signal, the first row their names:
//   time,HR1,IR1,IR2
//   2026-12-06T06:10:01.123,1500,1498,70000
// With several stations each name starts with its station ("station 2
// HR1"). A cell is the value as printed, empty when its read failed.
class WideCsv
{
public:
    WideCsv() = default;
    ~WideCsv();
    WideCsv(const WideCsv &) = delete;
    WideCsv &operator=(const WideCsv &) = delete;

    // A new file (or standard output, a fifo, as checkLogPath() allows)
    // with the step's columns; false with *error set.
    bool open(const QString &path, const Step &step, QString *error);
    void set(int station, const QString &label, const QString &value, qint64 epochMs);
    // Writes the row the cells since the last one make; false once a write
    // has failed (errorString() says why).
    bool endRow();
    QString errorString() const { return m_error; }

private:
    QString column(int station, const QString &label) const;

    QString m_path;
    int m_fd = -1;
    bool m_severalStations = false;
    QStringList m_columns;
    QMap<QString, QString> m_cells;
    qint64 m_rowMs = -1;
    QString m_error;
};

// The signals of a read or poll step, in the order typed, each station's
// in turn.
QStringList wideColumns(const Step &step);

#endif // SERVOCTL_WIDECSV_H
