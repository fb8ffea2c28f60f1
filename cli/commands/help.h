#ifndef SERVOCTL_HELP_H
#define SERVOCTL_HELP_H

#include <QString>

// What servoctl --help prints: the commands from their table, the options'
// ranges from theirs.
QString helpText();

#endif // SERVOCTL_HELP_H
