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

#endif // SERVOCTL_NEWFILE_H
