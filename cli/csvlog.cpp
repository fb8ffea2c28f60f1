#include "csvlog.h"
#include "newfile.h"
bool CsvLog::open(const QString &path, QString *error) { int fd = createNewFile(path, error); if (fd < 0) return false; m_file = fdopen(fd, "w"); fputs("time,station,address,raw,value\n", m_file); return true; }
bool CsvLog::append(qint64 ms, int station, const QString &a, const QString &r, const QString &v) { fprintf(m_file, "%lld,%d,%s,%s,%s\n", ms, station, qPrintable(a), qPrintable(r), qPrintable(v)); return true; }
bool CsvLog::flush() { return fflush(m_file) == 0; }
