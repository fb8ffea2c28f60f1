#ifndef SERVOCTL_BACKUP_H
#define SERVOCTL_BACKUP_H

#include <functional>

#include <QList>
#include <QString>

#include "plan.h"

struct CommunicatorCommand;
class DriverInterface;
class SerialPort;
struct PortCounters;

// backup and restore: a map's parameters read from a drive into a new file,
// and such a file written back, each value read back and compared.

// Checks backup (with --map and -o) and restore FILE into a step, reading
// the map or the file whole, and a backup taken on the other kind of line
// (simulated or a device) is refused without --any-line; false with a text
// naming the word.
bool parseParamCommand(const Command &command, const Options &options, Step *step, QString *error);

// The line values come from, as backups, logs and statistics name it:
// "built-in simulated line, SETTINGS" or "DEVICE, SETTINGS", the device's
// control characters spelled out.
QString lineText(const Options &options, const LineSettings &settings);

// restore's exit status when it was not confirmed (no "yes" on the
// terminal, or no terminal and no --yes): nothing was written.
const int kRestoreNotConfirmed = 3;

// The hook's answer when the call went through.
const int kParamCallDone = -1;

// The session's open line, and its checks after each call of the driver:
// kParamCallDone, or the status to return with the failure already said.
struct ParamLine
{
    std::function<QByteArray(const CommunicatorCommand &)> read; // the driver's, counted
    std::function<bool(const CommunicatorCommand &, const QByteArray &)> write;
    SerialPort *port;
    std::function<int(const QString &context, const PortCounters &before, bool done)> check;
};

#endif // SERVOCTL_BACKUP_H
