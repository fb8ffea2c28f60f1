#ifndef SERVOCTL_VALUES_H
#define SERVOCTL_VALUES_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The runtime's data types, their names on the command line and how their
// items are laid out in the driver's byte arrays (low byte first; bits
// packed, bit i in bit i mod 8 of byte i / 8).
struct DataType
{
    int code;         // CommunicatorCommand::dataType
    const char *name; // bit, byte, word, dword, qword, block, bit2
    int bits;         // width of one item: 1, 8, 16, 32 or 64
    const char *plural;
    const char *refusal; // why the driver serves no such item; null when it does
};

// Looks up a type by name; null when the name is none of them.
const DataType *dataTypeByName(const QString &name);
// The types the driver serves.
QStringList dataTypeNames();

// int32 and float view a dword's 32 bits as the drive means them: two's
// complement, or an IEEE-754 single.
enum class ValueFormat { Decimal, Hex, Signed, Bits, Int32, Float };
bool parseValueFormat(const QString &name, ValueFormat *format);
// The formats by name, as the user writes them.
QStringList valueFormatNames();
// Why the format does not go with the type ("float goes only with dword");
// empty when it does.
QString formatRefusal(ValueFormat format, const DataType &type);

// Item index of an array the driver returned; false when the array is too
// short to hold it.
bool itemAt(const QByteArray &data, const DataType &type, int index, quint64 *value);
QString formatValue(quint64 value, const DataType &type, ValueFormat format);

// Values given on the command line into the bytes the driver takes for a
// write. Decimal digits with an optional leading minus (two's complement),
// 0x hexadecimal or 0b binary digits, within the item width, nothing around
// them; bits also take on/off/true/false.
bool encodeValues(const QStringList &texts, const DataType &type, QByteArray *data, QString *error);

// Plain decimal digits (no sign, no blanks) within min to max; false for
// anything else, a number beyond the range included.
bool parseDecimal(const QString &text, quint64 min, quint64 max, quint64 *value);

#endif // SERVOCTL_VALUES_H
