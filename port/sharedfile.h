#ifndef SHAREDFILE_H
#define SHAREDFILE_H

#include <cstdio>

#include <QByteArray>
#include <QString>

// Files in folders other users can write (/run/lock, the temporary folder,
// wherever a user points an output): another user may have put a symbolic
// link, a hard link, a named pipe or a file of their own under the name we
// want. Each is opened without following a link and checked on the opened
// descriptor; what is not a regular file with one link is left alone, and
// so is another user's file where we would change or remove it. In a
// sticky folder (/tmp, /run/lock) nobody else can remove or rename a file
// of ours, so a name checked on the descriptor stays ours.
//
// Each function returns -1 (or false) with *refusal saying what is there,
// such as "/run/lock/x is a symbolic link", when it leaves the name alone;
// *refusal stays empty when nothing is there or the folder cannot be
// written (errno says why).

// A regular file with one link, anyone's: readable.
int openSharedFileToRead(const QByteArray &path, QString *refusal);

// A new file (mode 0644 but for the umask), or an existing one of ours,
// opened to write without truncating it.
int openSharedFileToWrite(const QByteArray &path, QString *refusal);

// For a program's own output (a trace, figures) at a path the user gave:
// a new file, or one of ours written anew from the start; null otherwise.
FILE *rewriteOwnFile(const QByteArray &path, QString *refusal);

// Removes path if it is a file of ours; true when nothing is there now.
bool removeSharedFile(const QByteArray &path, QString *refusal);

// After openSharedFileToRead: whether the file is ours to remove.
bool isOwnFile(int fd);

#endif // SHAREDFILE_H
