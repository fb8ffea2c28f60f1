#ifndef DEVICEACCESS_H
#define DEVICEACCESS_H

#include <sys/types.h>

#include <QString>

// What lets a user open a serial device that refused them with EACCES.
// On Debian a serial device belongs to root and the dialout group (mode
// crw-rw----): a user joins the group, and the join takes effect at the
// next login only, which is the step most often missed.

// A device as the hint sees it, and where this user stands with its group.
struct DeviceAccess
{
    bool characterDevice = false;
    bool pseudoTerminal = false; // a terminal of another user: no group to join
    mode_t mode = 0;
    QString owner;
    QString group;
    bool groupIsRoot = false;
    bool userInGroup = false;    // in the group database
    bool sessionInGroup = false; // in this process's groups
};

// The hint for that device; empty when no group would help.
QString permissionHint(const QString &path, const DeviceAccess &access);

// The hint for a failure text of the form "cannot open PATH: <the text of
// EACCES>", from the device at PATH as it is now; empty for any other text.
QString openFailureHint(const QString &failureText);

#endif // DEVICEACCESS_H
