#ifndef LINELOCK_H
#define LINELOCK_H

#include <QString>

// One master on a line at a time. A program that opens a serial device takes
// it for itself with claimLine() before it sends anything:
// - an advisory lock (flock) on the device, which every program of ours and
//   every other program that locks its devices respects, root included; it
//   goes away with its holder, however that ends;
// - on a real device also the kernel's exclusive mode (TIOCEXCL), which keeps
//   out programs that take no lock, unless they run as root. A
//   pseudo-terminal gets no exclusive mode: the simulated line keeps its
//   terminal open, so the mode would outlive a holder that was killed.

// False with a text that names the device and, where it can be known, the
// program that holds it ("/dev/ttyUSB0 is in use by servoctl (pid 4242)").
bool claimLine(int fd, const QString &path, QString *error);
// Ends the exclusive mode; the lock ends when the descriptor is closed.
void releaseLine(int fd);

// The text for a device that refused to open with EBUSY (held exclusively).
QString lineInUseText(const QString &path);
// A process as the texts name it: "servoctl (pid 4242)", or "process 4242";
// a servoctl gateway with where to connect instead (gatewayHint).
QString processText(qint64 pid);
// ", a Modbus TCP gateway: connect to it instead (-d
// modbus+tcp://127.0.0.1:502)" for a servoctl gateway; empty otherwise.
QString gatewayHint(qint64 pid);

// Whether a program has claimed the open device, without claiming it: its
// text ("/dev/ttyUSB0 is in use by servoctl (pid 4242)"), or empty when
// nobody has.
QString lineClaimedText(int fd, const QString &path);

#endif // LINELOCK_H
