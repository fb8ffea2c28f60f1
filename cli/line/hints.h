#ifndef SERVOCTL_HINTS_H
#define SERVOCTL_HINTS_H

#include <QString>

// What usually causes a driver error on a real line, and which servoctl
// command helps find out; empty when there is nothing to add. Keyed by the
// start of the driver's text, so the context it appends does not matter.
// modbusTcp: the text came over Modbus TCP, where a gateway answers.
QString hintFor(const QString &driverErrorText, bool modbusTcp);
// What a call that got no answer cost, callNs over its requests at
// --retries and --timeout, since a poll pays it every cycle; empty for
// other failures and for a call that was not retried.
QString costHint(const QString &driverErrorText, qint64 callNs, qint64 requests, int retries, int timeoutMs);

#endif // SERVOCTL_HINTS_H
