#ifndef SERVOCTL_COMMANDENTRY_H
#define SERVOCTL_COMMANDENTRY_H

#include <vector>

#include <QString>

#include "plan.h"
#include "storemodel.h"

class Session;

// The driver's station when none is given (its default DriverSetting).
const int kDriverDefaultStation = 1;

// What the commands before one leave for it.
struct Chain
{
    QList<int> stations = {kDriverDefaultStation}; // addressed from now on
    StoreModel store;
};

// One command of servoctl, whole: its word, what it asks of the line and of
// the options, how its words are checked, what it runs, and its --help lines.
struct CommandEntry
{
    const char *name;
    Step::Action action;
    bool usesLine;        // needs -d or --sim; the line opens before it runs
    bool severalStations; // may address more than one station at once
    bool writesOutput;    // -o names the file it writes
    bool readsValues;     // --csv logs the values it reads
    // Checks the words after the name into *step; *chain is what is in
    // effect before the command, and after it. False with a text naming the
    // offending word.
    bool (*build)(const Command &command, const Options &options, Chain *chain, Step *step, QString *error);
    int (*run)(Session &session, const Step &step); // 0 done, 1 failed
    const char *usage;                              // the command and its words in --help
    const char *help;                               // what it does, its lines joined by '\n'
};

using CommandTable = std::vector<CommandEntry>;

// Null when there is no such command in the table.
const CommandEntry *findCommand(const CommandTable &commands, const QString &name);

#endif // SERVOCTL_COMMANDENTRY_H
