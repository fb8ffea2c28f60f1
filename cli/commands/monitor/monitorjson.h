#ifndef SERVOCTL_MONITORJSON_H
#define SERVOCTL_MONITORJSON_H

#include <QByteArray>

#include "monitorreport.h"

// monitor --format json: a transaction as one JSON object on a line.
//   {"time":"2026-12-06T06:10:01.123","kind":"exchange","station":1,
//    "function":3,"address":"HR7","quantity":1,
//    "values":[{"address":"HR7","value":1500,"raw":1500,"read":true}],
//    "response_ms":1.234,"silence_ms":5.678,"flags":[],
//    "request":"010300060001640b","answer":"01030205dc..."}
// kind is exchange, late, unasked or noise; what a kind has not is null
// (station and function of noise, the answer of an unanswered request).
// flags name what was wrong: late, broadcast, no_answer, crc_error,
// exception (with "exception" the code and "exception_name"),
// gap_in_request, gap_in_answer, short_silence, other_station.
QByteArray jsonTransaction(qint64 epochMs, const Transaction &t, const MonitorJudging &judging,
                           const ParamFile *map, ValueFormat format);

#endif // SERVOCTL_MONITORJSON_H
