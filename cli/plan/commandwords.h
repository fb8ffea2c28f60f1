#ifndef SERVOCTL_COMMANDWORDS_H
#define SERVOCTL_COMMANDWORDS_H

#include <QString>
#include <QStringList>

#include "commandentry.h"

// Words several commands share, checked the same way for each: the
// stations in effect, and an address with what follows it.

// The stations in effect become the step's; more than one only where the
// command reads several (severalStations), and never the broadcast address
// among others.
bool takeStations(const Command &command, const Chain &chain, bool severalStations, Step *step, QString *error);

// A command that needs an address and was given none.
bool needsAddress(const Command &command, QString *error);

// ADDRESS and the words after it of read, write and poll, checked against
// the chain's store, which then holds what a write leaves in it. The text
// names the command and the address.
bool buildTarget(const QString &command, const QStringList &args, const Options &options, Chain *chain, Step *step,
                 QString *error);

#endif // SERVOCTL_COMMANDWORDS_H
