#ifndef SERVOCTL_PLAN_H
#define SERVOCTL_PLAN_H

#include <memory>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

#include "address.h"
#include "options.h"
#include "parammap.h"
#include "scanplan.h"
#include "values.h"

struct CommandEntry;

// What a command checks its words into, where Step's fields do not serve:
// each command its own type.
struct StepData
{
    virtual ~StepData();
};

// One command of the chain, checked: everything the Session needs to run it.
struct Step
{
    // The commands the plan's rules name; Other: one that no rule names,
    // which its entry and its data say everything about.
    enum Action { Info, Station, Read, Write, Poll, Backup, Restore, Plot, Scan, Monitor, Gateway, Other };

    Action action = Info;
    const CommandEntry *entry = nullptr; // in the table the plan was checked against
    QString text;                        // the command as typed, echoed before it in a chain
    int station = 0;                     // addressed by this command (Station: from now on)
    QList<int> stations;                 // Poll: every station polled, station the first
    Address address;                     // Read, Write, Poll
    const DataType *type = nullptr;
    int count = 0; // items; a write's number of values
    ValueFormat format = ValueFormat::Decimal;
    QByteArray data;                     // a write's values, as the driver takes them
    bool broadcast = false;              // a write to station 0 the driver sends as one request
    std::vector<Step> items;             // Poll: every address polled, each checked as a read
    QString paramPath;                   // Backup: the map; Restore: the backup file
    ParamFile params;                    // and what it holds, checked
    QString path;                        // Plot: the CSV log it draws
    ScanRequest scan;                    // Scan: the stations and line settings to try
    std::shared_ptr<const StepData> own; // the command's own data, as its build made it
};

// The whole command line, checked before the line opens or anything is sent.
struct Plan
{
    Options options;
    QList<Step> steps;
};

// The command line checked against the commands a table holds (commands.h
// has servoctl's): false with a text naming the offending word.
bool parsePlan(const QStringList &args, const std::vector<CommandEntry> &commands, Plan *plan, QString *error);

// A command that ends only when stopped (poll without --polls, monitor
// without --count or --duration, gateway): a signal or a reader gone is
// its end, not a failure.
bool runsUntilStopped(const Step &step, const Options &options);

// A refusal, or a backup header's line, is one line: control characters
// and line separators the user typed (a carriage return pasted along), a
// path or a file held show as escapes.
QString visibleText(const QString &text);

// The line values come from, as backups, logs and statistics name it:
// "built-in simulated line, SETTINGS" or "DEVICE, SETTINGS", the device's
// control characters spelled out.
QString lineText(const Options &options, const LineSettings &settings);

#endif // SERVOCTL_PLAN_H
