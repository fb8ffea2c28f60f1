#ifndef SERVOCTL_TYPEDVALUES_H
#define SERVOCTL_TYPEDVALUES_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "values.h"

// Values of the types a drive means, written as a read of the same format
// shows them: int16 (a word, two's complement), int32 (a dword, two's
// complement) and float (a dword holding an IEEE-754 single). A dword's
// words go in the order reads decode them: low word first, high first at
// an SW address (the driver swaps both alike).
struct TypedValue
{
    const char *name;   // int16, int32, float
    const char *type;   // the driver's item: word or dword
    ValueFormat format; // how a read shows it
};

// Null when name is none of them.
const TypedValue *typedValueByName(const QString &name);
// int16, int32, float.
QStringList typedValueNames();

// The values into the bytes the driver takes, as encodeValues() does:
// int16 and int32 decimal within their range, with an optional leading
// minus; float a finite decimal number (-3.14, 1.5e3). False with a text
// naming the value.
bool encodeTypedValues(const QStringList &texts, const TypedValue &typed, QByteArray *data, QString *error);

#endif // SERVOCTL_TYPEDVALUES_H
