#ifndef SERVOCTL_BACKUP_H
#define SERVOCTL_BACKUP_H

#include <QList>
#include <QString>

#include "paramline.h"
#include "plan.h"

// backup and restore: a map's parameters read from a drive into a new file,
// and such a file written back, each value read back and compared.

// Checks backup (with --map and -o) and restore FILE into a step, reading
// the map or the file whole, and a backup taken on the other kind of line
// (simulated or a device) is refused without --any-line; false with a text
// naming the word.
bool parseParamCommand(const Command &command, const Options &options, Step *step, QString *error);

// restore's exit status when it was not confirmed (no "yes" on the
// terminal, or no terminal and no --yes): nothing was written.
const int kRestoreNotConfirmed = 3;

#endif // SERVOCTL_BACKUP_H
