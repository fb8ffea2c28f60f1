#ifndef SERVOCTL_PLAN_H
#define SERVOCTL_PLAN_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "address.h"
#include "options.h"
#include "scanplan.h"
#include "values.h"

// One command of the chain, checked: everything the Session needs to run it.
struct Step
{
    enum Action { Info, Station, Read, Write, Poll, Scan };

    Action action = Info;
    QString text;                 // the command as typed, echoed before it in a chain
    int station = 0;              // addressed by this command (Station: from now on)
    Address address;              // Read, Write, Poll
    const DataType *type = nullptr;
    int count = 0;                // items; a write's number of values
    ValueFormat format = ValueFormat::Decimal;
    QByteArray data;              // a write's values, as the driver takes them
    bool broadcast = false;       // a write to station 0 the driver sends as one request
    ScanRequest scan;             // Scan: the stations and line settings to try
};

// The whole command line, checked before the line opens or anything is sent.
struct Plan
{
    Options options;
    QList<Step> steps;
};

// False with a text naming the offending word.
bool parsePlan(const QStringList &args, Plan *plan, QString *error);

#endif // SERVOCTL_PLAN_H
