#ifndef SERVOCTL_NEWFILE_H
#define SERVOCTL_NEWFILE_H

#include <QByteArray>
#include <QString>

// Files servoctl writes (a log, a backup, a plot) are always new ones:
// nothing the user already has is replaced, and no half-written file is
// left under the name asked for.

// Writes contents under a temporary name beside path and then links it to
// path, which fails if path has appeared meanwhile.
bool writeNewFile(const QString &path, const QByteArray &contents, QString *error);

// Opens path for writing only if it does not exist (a log written as it
// goes); -1 with a text on failure.
int createNewFile(const QString &path, QString *error);

// Opens a log as checkLogPath() allows; *stream is true when it is no
// regular file (standard output included: nothing to sync to a disk, and
// no comment line before the data). -1 with a text on failure.
int openLogFile(const QString &path, bool *stream, QString *error);

#endif // SERVOCTL_NEWFILE_H
