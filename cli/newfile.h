#ifndef SERVOCTL_NEWFILE_H
#define SERVOCTL_NEWFILE_H

#include <QByteArray>
#include <QString>

// Files servoctl writes (a log, a backup, a plot) are always new ones:
// nothing the user already has is replaced, and no half-written file is
// left under the name asked for.

// Whether a new file could be made at path: it does not exist yet and its
// folder does. Checked with the rest of the command line, before anything
// is sent; false with a text naming the path.
bool checkNewFilePath(const QString &path, QString *error);

// Writes contents under a temporary name beside path and then links it to
// path, which fails if path has appeared meanwhile.
bool writeNewFile(const QString &path, const QByteArray &contents, QString *error);

// Opens path for writing only if it does not exist (a log written as it
// goes); -1 with a text on failure.
int createNewFile(const QString &path, QString *error);

// A log (--csv, --csv-wide) may also go to standard output ("-"; the
// options turn /dev/stdout into it) or into a file that exists but is no file of the user's to
// protect: a fifo, a terminal, a device. Such a file is written as it is and
// never truncated; a regular file or a folder that exists is refused as
// checkNewFilePath() refuses it.
bool checkLogPath(const QString &path, QString *error);
// Opens a log as checkLogPath() allows; *stream is true when it is no
// regular file (standard output included: nothing to sync to a disk, and
// no comment line before the data). -1 with a text on failure.
int openLogFile(const QString &path, bool *stream, QString *error);

#endif // SERVOCTL_NEWFILE_H
