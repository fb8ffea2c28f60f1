#ifndef SERVOCTL_CSVLOG_H
#define SERVOCTL_CSVLOG_H
#include <QString>
#include <cstdio>
class CsvLog {
public:
    bool open(const QString &path, QString *error);
    bool append(qint64 epochMs, int station, const QString &address, const QString &raw, const QString &value);
    bool flush();
    QString errorString() const { return m_error; }
private:
    FILE *m_file = nullptr; QString m_error;
};
#endif
