#ifndef TERMIOSLINE_H
#define TERMIOSLINE_H

#include <QString>

#include "linesettings.h"

// POSIX termios set-up shared by the port and the simulated line.

// Empty when the open descriptor can be a line; otherwise what it is
// instead: "is not a serial device", a console, a pseudo-terminal's master
// side, or a login session's terminal (taking that over would garble
// someone's screen; a pseudo-terminal number a simulator used may have gone
// to a session since).
QString whyNotALine(int fd);

// Raw mode, no flow control, receiver on, the given speed and character
// format; reads return at once (VMIN 0, VTIME 0). On a pseudo-terminal the
// parity is left out: it carries 8 data bits without parity whatever is
// asked (isPseudoTerminal tells a caller to say so).
bool isPseudoTerminal(int fd);
bool configureTerminal(int fd, const LineSettings &settings, QString *error);

// The baud rate a terminal is set to, 0 when unknown. On a pseudo-terminal's
// master side: the rate the program on its slave side has set.
int terminalBaudRate(int fd);

enum class Rs485Support {
    Enabled,      // the kernel drives the transmitter (TIOCSRS485)
    NotAvailable, // the device has no RS-485 mode: a pseudo-terminal, or an
                  // adapter that switches direction itself
    Failed        // the device refused otherwise; error says why
};

// Switches the kernel's RS-485 mode (RTS high while sending) on or off.
Rs485Support setKernelRs485(int fd, bool on, QString *error);

// Monotonic clock in nanoseconds.
qint64 monotonicNs();
// Sleeps until the monotonic time deadlineNs; returns at once if it passed.
void sleepUntilNs(qint64 deadlineNs);

#endif // TERMIOSLINE_H
