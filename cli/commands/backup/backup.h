#ifndef SERVOCTL_BACKUP_H
#define SERVOCTL_BACKUP_H

#include <QList>
#include <QString>

#include "paramline.h"
#include "plan.h"

// backup and restore: a map's parameters read from a drive into a new file,
// and such a file written back, each value read back and compared.

// restore's exit status when it was not confirmed (no "yes" on the
// terminal, or no terminal and no --yes): nothing was written.
const int kRestoreNotConfirmed = 3;

#endif // SERVOCTL_BACKUP_H
