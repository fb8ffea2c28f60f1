#ifndef SERVOCTL_COMMANDS_H
#define SERVOCTL_COMMANDS_H

#include <QString>
#include <QStringList>

#include "commandentry.h"

// servoctl's commands: the table in commands.cpp lists the entries, each
// command's (its words' checks, its run, its help) in its folder.
// Every command, in --help's order.
const CommandTable &commandTable();
// Null when there is no such command.
const CommandEntry *commandByName(const QString &name);

// The command line checked against this table (plan.h).
bool parsePlan(const QStringList &args, Plan *plan, QString *error);

// --help's list of the commands, from the table.
QString commandsHelp();
// The commands that use no line, as a sentence names them: "a, b and c".
QString linelessCommands();

#endif // SERVOCTL_COMMANDS_H
