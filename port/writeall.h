#ifndef WRITEALL_H
#define WRITEALL_H

#include <QByteArray>

// Writes all of data to fd, again after a signal or a short write; 0, or
// the errno of the write that failed. A short write (a disk filling up)
// sets no errno, so the rest is written again and the write that fails
// says why; one that writes nothing counts as ENOSPC.
int writeAll(int fd, const QByteArray &data);

#endif // WRITEALL_H
