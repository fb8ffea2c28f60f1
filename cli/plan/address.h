#ifndef SERVOCTL_ADDRESS_H
#define SERVOCTL_ADDRESS_H

#include <QString>

#include "teco_servo_limits.h"

struct DataType;

// A memory area of the drives as the driver names it.
struct Area
{
    const char *name;     // HR, FN6HR, IR, DO, FN5DO, DI
    const char *itemNoun; // what its numbers count: register, coil or input
    bool registers;       // 16-bit registers, which also hold bits, bytes and dwords
    bool writable;
    bool requestPerItem; // written one request per register or coil (functions 6 and 5)
};

// The first number of every area and the last one the driver can address.
const int kFirstItem = 1;
const int kLastItem = TecoServoLimit::AddressSpace;

// An address in servoctl's strict grammar, AREA NUMBER [.BIT] [SW]. The
// driver's own parser never fails (it wraps numbers and takes unknown letters
// for input registers), so servoctl checks the text itself and then passes
// it on exactly as written.
struct Address
{
    QString text;
    const Area *area = nullptr;
    int number = 0;       // kFirstItem to kLastItem
    int bit = -1;         // 0 to 255; -1 when the text has none
    bool swapped = false; // SW: the high word of a dword first
    int manualForm = 0;   // ManualForm flags: how the user wrote the number (manualaddress.h)

    bool hasBit() const { return bit >= 0; }
    // Label of item index of a command of type here, as the user would write
    // its own address: HR100 word 1 is HR101, HR100.15 bit 1 is HR101.0, DO5
    // bit 2 is DO7, HR100 byte 1 is "HR100 high".
    QString itemLabel(const DataType &type, int index) const;
};

// False with a text saying what is wrong (the caller names the address).
bool parseAddress(const QString &text, Address *address, QString *error);

// "HR, FN6HR, IR" for the register areas, or all six.
QString areaNames(bool registersOnly = false);

#endif // SERVOCTL_ADDRESS_H
