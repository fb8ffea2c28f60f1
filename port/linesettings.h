#ifndef LINESETTINGS_H
#define LINESETTINGS_H

#include <QString>

class DeviceSetting;

// Serial line parameters, from the runtime's settings text
// ("RS485,9600,NONE,8,2": mode, baud rate, parity, data bits, stop bits)
// or from a DeviceSetting record.
//
// DeviceSetting carries parity and stop bits as runtime codes; they are read
// as parity 0 none, 1 odd, 2 even and stop bits 0 one, 1 one and a half,
// 2 two. So the driver's default record (8 data bits, stop code 0, parity
// code 2) is 8E1, an 11-bit character like the 8N2 of its settings text.
// One and a half stop bits, mark and space parity are refused with a text.
struct LineSettings
{
    enum Mode { RS232, RS422, RS485 };
    enum Parity { NoParity, OddParity, EvenParity };

    Mode mode = RS485;
    int baudRate = 9600;
    Parity parity = NoParity;
    int dataBits = 8;
    int stopBits = 2;

    // Fields are separated by commas, case and surrounding blanks do not
    // matter. On failure settings is untouched and error says why.
    static bool parse(const QString &text, LineSettings *settings, QString *error);
    // The record names no mode; the caller passes it.
    static bool fromDeviceSetting(const DeviceSetting &record, Mode mode, LineSettings *settings, QString *error);

    QString toString() const;
    // Start bit, data bits, parity bit and stop bits of one character.
    int characterBits() const;
    qint64 characterTimeNs() const;
    // The Modbus RTU silent interval between frames: 3.5 character times,
    // fixed at 1.75 ms above 19200 baud.
    qint64 silentIntervalNs() const;
};

// Baud rates the POSIX termios interface can set. Defined beside the speed
// codes in termiosline.cpp, which hold the one list of them.
bool isStandardBaudRate(int baudRate);

#endif // LINESETTINGS_H
