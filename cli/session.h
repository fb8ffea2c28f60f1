#ifndef SERVOCTL_SESSION_H
#define SERVOCTL_SESSION_H

#include <memory>

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include "driverloader.h"
#include "plan.h"

class DriverInterface;
class FrameTrace;
class SerialPort;
struct PortCounters;
class SimLine;
class SimServer;

// Runs a checked plan: the driver, and once a step needs it, the line: a
// serial device or the built-in simulated line on a pseudo-terminal served by
// a thread of ours.
class Session
{
public:
    explicit Session(const Options &options);
    ~Session();

    // Each returns the program's exit status: 0 done, 1 failed. After a
    // signal (interruptSignal()) a step returns at once, its status aside.
    int loadDriver(const QString &programDir);
    int run(const Step &step);
    // Closes the line, restoring the device's settings, and stops the
    // simulated line.
    void closeLine();

private:
    // Opens the line once, and addresses the step's station on it.
    int openLine(const Step &step);
    int startLine();
    void lineOpened();
    int startSimulatedLine(const LineSettings &settings);
    int info();
    int read(const Step &step);
    int write(const Step &step);
    int broadcast(const Step &step);
    int afterDriverCall(const QString &context, const PortCounters &before);
    QString echoFaultText() const;
    QString garbledWarning(const PortCounters &before) const;
    QString failureText() const;
    int reportWritten(const Step &step, const char *what);
    int poll(const Step &step);
    int scan(const Step &step);
    bool waitForLineBack();
    QStringList lateAnswerWarnings();

    Options m_options;
    DriverLoader m_loader;
    DriverInterface *m_driver = nullptr;
    std::unique_ptr<FrameTrace> m_trace;
    std::unique_ptr<SimLine> m_simLine;
    std::unique_ptr<SimServer> m_simServer;
    std::unique_ptr<SerialPort> m_port;
    QHash<int, qint64> m_reportedLateMs; // by station, the latest answer reported
    QSet<int> m_reportedUnasked;         // stations that sent answers nothing awaited
};

#endif // SERVOCTL_SESSION_H
