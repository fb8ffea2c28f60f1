#include "modbuscrc.h"

#include <array>

namespace {

// The host side's own table (the port and the simulated line), built from
// the polynomial at compile time rather than shared with the driver, so that
// a fault in one cannot hide in both.
constexpr std::array<quint16, 256> makeTable()
{
    std::array<quint16, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        quint16 crc = quint16(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        table[size_t(byte)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> TABLE = makeTable();
static_assert(TABLE[1] == 0xC0C1 && TABLE[128] == 0xA001 && TABLE[255] == 0x4040, "CRC-16/MODBUS table");

} // namespace

quint16 modbusCrc(const char *data, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i)
        crc = quint16((crc >> 8) ^ TABLE[(crc ^ quint8(data[i])) & 0xFF]);
    return crc;
}

void appendModbusCrc(QByteArray &frame)
{
    const quint16 crc = modbusCrc(frame.constData(), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

bool hasValidModbusCrc(const char *data, int length)
{
    if (length < 4)
        return false;
    const quint16 crc = modbusCrc(data, length - 2);
    return quint8(data[length - 2]) == (crc & 0xFF) && quint8(data[length - 1]) == (crc >> 8);
}

bool hasValidModbusCrc(const QByteArray &frame)
{
    return hasValidModbusCrc(frame.constData(), frame.size());
}
