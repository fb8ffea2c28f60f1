#ifndef SERVOCTL_PATHCHECKS_H
#define SERVOCTL_PATHCHECKS_H

#include <QString>

// What the command line names as files, checked with the rest of it before
// anything is sent (newfile.h and dataout.h write them).

// Whether path names standard output. Decided before divertTextToStderr().
bool isStandardOutput(const QString &path);

// Whether a new file could be made at path: it does not exist yet and its
// folder does. Checked with the rest of the command line, before anything
// is sent; false with a text naming the path.
bool checkNewFilePath(const QString &path, QString *error);

// A log (--csv, --csv-wide) or a capture (--pcap) may also go to standard
// output ("-"; the options turn /dev/stdout into it) or into a file that
// exists but is no file of the user's to protect: a fifo, a terminal, a
// device. Such a file is written as it is and never truncated; a regular
// file or a folder that exists is refused as checkNewFilePath() refuses it.
bool checkLogPath(const QString &path, QString *error);

// Why a path cannot be written: it exists, and servoctl never replaces a file.
QString existsText(const QString &path);
// An existing file a log may be written into: a fifo, a terminal, a device;
// in a folder anyone may write (/tmp), not through a symbolic link, which
// another user may have put there.
bool isStreamFile(const QString &path);
// Whether path's folder is one anyone may write.
bool inFolderAnyoneWrites(const QString &path);

#endif // SERVOCTL_PATHCHECKS_H
