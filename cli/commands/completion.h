#ifndef SERVOCTL_COMPLETION_H
#define SERVOCTL_COMPLETION_H

#include <QString>

// servoctl --completion bash: the bash completion script, from the command
// table and the option tables, written at build time and installed.
QString bashCompletion();

#endif // SERVOCTL_COMPLETION_H
