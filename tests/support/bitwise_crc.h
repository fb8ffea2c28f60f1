#ifndef BITWISE_CRC_H
#define BITWISE_CRC_H

#include <QByteArray>

// The tests' and fuzz targets' Modbus CRC: bitwise, from the polynomial,
// independent of the driver's and the host side's tables it checks.
inline QByteArray withCrc(QByteArray frame)
{
    unsigned int crc = 0xFFFF;
    for (const char c : frame) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

// Bytes written in hex digits, spaces allowed: "01 03 00 64".
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// The same for a frame written in hex digits ("01 03 00 00 00 01").
inline QByteArray hexWithCrc(const char *hex)
{
    return withCrc(QByteArray::fromHex(hex));
}

#endif // BITWISE_CRC_H
