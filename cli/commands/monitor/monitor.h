#ifndef SERVOCTL_MONITOR_H
#define SERVOCTL_MONITOR_H

#include <QList>
#include <QString>

// servoctl monitor: listens to a line through a device of its own (an
// adapter wired in parallel), never sending, and shows every transaction
// (runMonitor: until interrupted, --count or --duration).

// Opens a device to listen to, read-only, as its only reader (a second
// would take bytes from the first): the descriptor, or -1 with *error.
// Close it with closeListening().
int openListening(const QString &path, QString *error);
void closeListening(int fd);

#endif // SERVOCTL_MONITOR_H
