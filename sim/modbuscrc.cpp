#include "modbuscrc.h"

quint16 modbusCrc(const char *data, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

void appendModbusCrc(QByteArray &frame)
{
    const quint16 crc = modbusCrc(frame.constData(), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

bool hasValidModbusCrc(const QByteArray &frame)
{
    const int n = frame.size();
    if (n < 4)
        return false;
    const quint16 crc = modbusCrc(frame.constData(), n - 2);
    return quint8(frame[n - 2]) == (crc & 0xFF) && quint8(frame[n - 1]) == (crc >> 8);
}
