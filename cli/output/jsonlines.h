#ifndef SERVOCTL_JSONLINES_H
#define SERVOCTL_JSONLINES_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "csvlog.h"
#include "itemvalues.h"

struct Options;
struct Step;

// --format json: JSON Lines on standard output, one object a line.
//   a reading:  {"time":"2026-12-06T06:10:01.123+01:00","station":1,"address":"HR12",
//                "kind":"read","type":"word","value":1500,"raw":[1500],"ok":true}
//   a failure:  {"time":...,"station":1,"address":"HR12","kind":"read","ok":false,
//                "error":"<the driver's text>"}
//   a write:    as a reading, kind "write" (or "broadcast"), the values
//               written; not acknowledged: "ok":false and its "error"
//   a finding of scan: scanreport.h
// value is the number as printed (a JSON number for dec, signed, int32 and
// float, null for a float that is no number; a string for hex and bits);
// raw the item's registers in address order (two for a dword), its byte,
// or its bit. "manual_address" follows "address" when the address was given
// with -0 or in hexadecimal: the item's address in that numbering.

QByteArray jsonReading(qint64 epochMs, const Step &item, int station, const ItemValue &value,
                       LogKind kind = LogKind::Read, const QString &error = QString());
QByteArray jsonFailure(qint64 epochMs, const Step &item, int station, const QString &text);
// A JSON string (quotes and escapes); a time in nanoseconds as milliseconds.
QByteArray jsonString(const QString &text);
QByteArray jsonMs(qint64 ns);

#endif // SERVOCTL_JSONLINES_H
