#ifndef SERVOCTL_HINTS_H
#define SERVOCTL_HINTS_H

#include <QString>

// What usually causes a driver error on a real line, and which servoctl
// command helps find out; empty when there is nothing to add. Keyed by the
// start of the driver's text, so the context it appends does not matter.
QString hintFor(const QString &driverErrorText);

#endif // SERVOCTL_HINTS_H
