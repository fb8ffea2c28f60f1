#ifndef SERVOCTL_OPTIONS_H
#define SERVOCTL_OPTIONS_H

#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

#include "drivemodel.h"
#include "driverloader.h"
#include "faultplan.h"
#include "linesettings.h"
#include "values.h"

// Modbus stations run to 247; station 0 is the broadcast address.
const int kLastStation = 247;

// Everything the options set, each value checked.
struct Options
{
    QString device;            // empty: the built-in simulated line
    std::optional<LineSettings> line; // none: the driver's default settings
    int station = -1;          // -1: the driver's default
    int timeout = -1;
    int retries = -1;
    int delay = -1;
    int interCharMs = -1;      // -1: the port's default floor
    ValueFormat format = ValueFormat::Decimal;
    int intervalMs = 1000;
    int polls = 0;             // 0: poll until interrupted
    bool trace = false;
    bool localEcho = false;    // the adapter hands every request back
    DriverLoader::Entry entry = DriverLoader::QtPlugin;
    QString pluginPath;
    QList<int> simStations = {1, 2, 3};
    FaultPlan simFaults;
    quint64 simSeed = 1;
    DriveModel simModel = DriveModel::Static;
    bool simPace = false;
    bool simEcho = false;
};

// One command of the chain as typed: its name and the words after it.
struct Command
{
    QString name;
    QStringList args;
};

// Splits the command line into checked options and the commands joined by
// "then". False with a text naming the offending word; help is set, and
// nothing else checked after it, when -h or --help is seen.
bool parseCommandLine(const QStringList &args, Options *options, QList<Command> *commands,
                      bool *help, QString *error);

#endif // SERVOCTL_OPTIONS_H
