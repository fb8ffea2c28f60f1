#ifndef SERVOCTL_INTERRUPT_H
#define SERVOCTL_INTERRUPT_H

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end servoctl in order: the handler
// only records the signal and makes interruptWakeFd() readable, which ends
// every wait of the port and of servoctl within milliseconds; the program
// then closes its line (which restores the device's settings) and exits:
// with 0 when it stopped a command that runs until stopped, else with
// 128 + the signal. A second SIGINT, SIGTERM or SIGHUP ends the program at
// once, as if no handler were there, after restoring the line's settings
// (SIGPIPE repeats with every write to a reader that is gone, so it never
// does).

#include <termios.h>

// False when the wake-up pipe cannot be made.
bool installInterruptHandlers();
// Readable once a signal came; -1 before installInterruptHandlers().
int interruptWakeFd();
// The signal that came, 0 while none did.
int interruptSignal();
// "SIGINT", "SIGTERM", "SIGHUP" or "SIGPIPE".
const char *interruptSignalName();

// The open line and its settings from before servoctl set it up: a second
// signal, which ends servoctl at once, puts them back on its way out.
void setLineToRestore(int fd, const termios &settings);
void clearLineToRestore();

// A child's process group (gnuplot's) that a second signal kills on its
// way out, so that nothing servoctl started outlives it.
void setChildGroupToKill(int processGroup);
void clearChildGroupToKill();

#endif // SERVOCTL_INTERRUPT_H
