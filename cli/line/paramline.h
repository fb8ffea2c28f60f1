#ifndef SERVOCTL_PARAMLINE_H
#define SERVOCTL_PARAMLINE_H

#include <functional>

#include <QByteArray>
#include <QString>

struct CommunicatorCommand;
class SerialPort;
struct PortCounters;

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

#endif // SERVOCTL_PARAMLINE_H
