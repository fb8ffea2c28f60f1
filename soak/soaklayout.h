#ifndef SOAKLAYOUT_H
#define SOAKLAYOUT_H

#include <QByteArray>

// Where the soak's commands go, shared by the commands and their checks.
// Ordinary commands stay below this register or bit; the broadcast word
// lives in register 1299 of the drives.
const int AREA_END = 1000;
const int BROADCAST_REGISTER = 1299;
const int STORE_BASE = 60000; // HR60000 is entry 0

// Low byte first, as the driver's arrays hold words.
inline void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

#endif // SOAKLAYOUT_H
