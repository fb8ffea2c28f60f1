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
const int kBroadcastStation = 0;

// Everything the options set, each value checked.
struct Options
{
    QString device;                             // empty: the built-in simulated line, if --sim asks for it
    bool sim = false;                           // the built-in simulated line is asked for (--sim or any --sim-*)
    std::optional<LineSettings> line;           // none: the driver's default settings
    std::optional<int> baud;                    // --baud (-b), over --line's or the driver's
    std::optional<LineSettings::Parity> parity; // --parity (-P), likewise
    std::optional<int> stopBits;                // --stop-bits (-s), likewise
    bool lineAuto = false;                      // --line auto: the settings heard on the line (monitor, scan)
    QList<int> stations;                        // empty: the driver's default station
    int timeout = -1;
    int retries = -1;
    int delay = -1;
    int interCharMs = -1; // -1: the port's default floor
    ValueFormat format = ValueFormat::Decimal;
    int intervalMs = 1000;
    int polls = 0; // 0: poll until interrupted
    bool trace = false;
    bool localEcho = false;   // the adapter hands every request back
    bool noLock = false;      // a TCP line used without its one-master lock
    bool stats = false;       // per-station statistics of the line
    bool dryRun = false;      // restore: show what would be written
    bool yes = false;         // restore: write without asking
    bool anyLine = false;     // restore: a backup of the other kind of line too
    QString csvPath;          // a log of every value read; empty: none; "-": standard output
    QString wideCsvPath;      // a log of a row a cycle, a column a signal; as csvPath
    bool json = false;        // --format json: JSON Lines on standard output
    bool zeroBased = false;   // -0: register numbers count from 0, as some manuals do
    bool allSettings = false; // scan: every setting listed, not only to the first that answers
    QString outputPath;       // what backup and plot write; empty: none given
    QString mapPath;          // backup: the parameter map; monitor: names and types
    QString timelinePath;     // monitor: a new PNG of the traffic against time; empty: none
    QString pcapPath;         // monitor: a capture of every frame heard; empty: none; "-": standard output
    int count = 0;            // monitor: stop after this many requests; 0: none
    int durationS = 0;        // monitor: stop after this many seconds; 0: none
    DriverLoader::Entry entry = DriverLoader::QtPlugin;
    QString pluginPath;
    QList<int> simStations = {1, 2, 3};
    FaultPlan simFaults;
    quint64 simSeed = 1;
    DriveModel simModel = DriveModel::Static;
    bool simPace = false;
    bool simEcho = false;
    std::optional<LineSettings> simLine; // none: the settings the line is opened with

    QStringList given; // every option given, by its long name

    // The line's settings: --line's, or base when it is not given, with
    // --baud, --parity and --stop-bits over them.
    LineSettings lineSettings(const LineSettings &base) const
    {
        LineSettings settings = line.value_or(base);
        settings.baudRate = baud.value_or(settings.baudRate);
        settings.parity = parity.value_or(settings.parity);
        settings.stopBits = stopBits.value_or(settings.stopBits);
        return settings;
    }

    // Data for another program goes to standard output: the person's text
    // then goes to standard error.
    bool dataOnStdout() const
    {
        return json || csvPath == QLatin1String("-") || wideCsvPath == QLatin1String("-")
               || pcapPath == QLatin1String("-");
    }
};

// One command of the chain as typed: its name and the words after it.
struct Command
{
    QString name;
    QStringList args;
};

// Splits the command line into checked options and the commands joined by
// "then". False with a text naming the offending word.
bool parseCommandLine(const QStringList &args, Options *options, QList<Command> *commands, QString *error);

// "MIN to MAX" that option NAME (a whole number, or --station's) takes;
// empty for any other name.
QString optionRange(const QString &name);
// The options that take a whole number.
QStringList numberOptionNames();

// An option as shell completion offers it, from the option tables: its
// long name, its short word ("-d"; empty when none), whether it takes a
// value, and what completes that value: "FILE", "DEVICE", "FORMAT" (the
// formats), the words it takes ("plugin create"), or empty for nothing.
struct OptionWord
{
    QString name;
    QString shortWord;
    bool takesValue = false;
    QString values;
};
QList<OptionWord> optionWords();

// What -h (--help), --version or --completion bash (the script, hidden
// from --help) ask for: nothing else is checked or done.
enum class InfoRequest { None, Help, Version, Completion };
InfoRequest infoRequest(const QStringList &args);

#endif // SERVOCTL_OPTIONS_H
