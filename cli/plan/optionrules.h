#ifndef SERVOCTL_OPTIONRULES_H
#define SERVOCTL_OPTIONRULES_H

#include <QList>
#include <QString>

#include "plan.h"

// Which options go with which commands, checked on the whole plan before
// anything runs: each returns the refusal, one line naming the option (and
// the command where there is one), or an empty text. Pure.
QString paramOptionsRefusal(const Options &options, const QList<Step> &steps);
// An option that only commands absent from the plan use (--polls without
// poll).
QString unusedOptionRefusal(const Options &options, const QList<Step> &steps);
// --csv-wide: one read or poll a run.
QString wideCsvRefusal(const Options &options, const QList<Step> &steps);
// --format json: with a command that finds values.
QString jsonRefusal(const Options &options, const QList<Step> &steps);
// monitor alone, and the options that only it takes.
QString monitorOptionsRefusal(const Options &options, const QList<Step> &steps);
// --line auto: monitor or scan on a serial device.
QString lineAutoRefusal(const Options &options, const QList<Step> &steps);

#endif // SERVOCTL_OPTIONRULES_H
