#ifndef SERVOCTL_SESSION_H
#define SERVOCTL_SESSION_H

#include <memory>

#include <QString>
#include <QStringList>

#include "driverloader.h"
#include "values.h"

class DriverInterface;
class FrameTrace;
class SerialPort;
class SimLine;
class SimServer;

// Everything the command line sets.
struct Options
{
    QString device;            // empty: the built-in simulated line
    QString line;              // empty: the driver's default settings text
    int station = -1;          // -1: the driver's default
    int timeout = -1;
    int retries = -1;
    int delay = -1;
    int interCharMs = -1;      // -1: the port's default floor
    ValueFormat format = ValueFormat::Decimal;
    int intervalMs = 1000;
    int polls = 0;             // 0: poll until interrupted
    bool trace = false;
    DriverLoader::Entry entry = DriverLoader::QtPlugin;
    QString pluginPath;
    QString simStations = QStringLiteral("1,2,3");
    QString simFaults;
    quint64 simSeed = 1;
    bool simPace = false;
};

struct Command
{
    QString name;
    QStringList args;
};

// The driver, and once a command needs it, the line: a serial device or the
// built-in simulated line on a pseudo-terminal served by a thread of ours.
class Session
{
public:
    explicit Session(const Options &options);
    ~Session();

    // Each returns the program's exit status: 0 done, 1 failed, 2 misused.
    int loadDriver(const QString &programDir);
    int run(const Command &command);

private:
    int openLine();
    int info();
    int read(const QStringList &args);
    int write(const QStringList &args);
    int poll(const QStringList &args);

    Options m_options;
    DriverLoader m_loader;
    DriverInterface *m_driver = nullptr;
    std::unique_ptr<FrameTrace> m_trace;
    std::unique_ptr<SimLine> m_simLine;
    std::unique_ptr<SimServer> m_simServer;
    std::unique_ptr<SerialPort> m_port;
};

#endif // SERVOCTL_SESSION_H
