#include "modbus_rtu_frame.h"

#include <array>

namespace {

// The table pair of the Modbus serial line guide, built at compile time:
// auchCRCHi[i] is the low byte and auchCRCLo[i] the high byte of the
// reflected CRC-16 (0xA001) of byte i.
constexpr unsigned short crcTableValue(unsigned int i)
{
    unsigned int crc = i;
    for (int k = 0; k < 8; ++k)
        crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    return static_cast<unsigned short>(crc);
}

template <bool High>
constexpr std::array<unsigned char, 256> crcTable()
{
    std::array<unsigned char, 256> t{};
    for (unsigned int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(High ? crcTableValue(i) & 0xFF : crcTableValue(i) >> 8);
    return t;
}

constexpr std::array<unsigned char, 256> auchCRCHi = crcTable<true>();
constexpr std::array<unsigned char, 256> auchCRCLo = crcTable<false>();

static_assert(auchCRCHi[1] == 0xC1 && auchCRCHi[2] == 0x81 && auchCRCHi[3] == 0x40,
              "CRC table pair differs from the published one");
static_assert(auchCRCLo[1] == 0xC0 && auchCRCLo[2] == 0xC1 && auchCRCLo[3] == 0x01,
              "CRC table pair differs from the published one");

void appendWord(QByteArray &frame, unsigned short value)
{
    frame.append(static_cast<char>(value >> 8));
    frame.append(static_cast<char>(value & 0xFF));
}

void appendCrc(QByteArray &frame)
{
    const unsigned short crc = ModbusRTUSlaveCRC(reinterpret_cast<const unsigned char *>(frame.constData()),
                                                 static_cast<unsigned int>(frame.size()));
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
}

// Station, function and address, with room for bodyLength more bytes and
// the CRC: a request is built in one allocation.
QByteArray header(unsigned char station, unsigned char function, unsigned short address, int bodyLength)
{
    QByteArray frame;
    frame.reserve(4 + bodyLength + 2);
    frame.append(static_cast<char>(station));
    frame.append(static_cast<char>(function));
    appendWord(frame, address);
    return frame;
}

// Functions 15 and 16: address, quantity, byte count (low 8 bits) and data.
QByteArray multipleWriteRequest(unsigned char station, unsigned char function, unsigned short address,
                                unsigned short quantity, const QByteArray &data)
{
    QByteArray frame = header(station, function, address, 3 + data.size());
    appendWord(frame, quantity);
    frame.append(static_cast<char>(data.size() & 0xFF));
    frame.append(data);
    appendCrc(frame);
    return frame;
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

unsigned short ModbusRTUSlaveCRC(const unsigned char *data, unsigned int length)
{
    unsigned char hi = 0xFF;
    unsigned char lo = 0xFF;
    for (unsigned int i = 0; i < (length & 0xFFFF); ++i) {
        const unsigned char index = hi ^ data[i];
        hi = lo ^ auchCRCHi[index];
        lo = auchCRCLo[index];
    }
    return static_cast<unsigned short>(hi | (lo << 8));
}

bool ModbusRTUSlaveCheckCRC(unsigned char *frame, unsigned int length)
{
    const unsigned int n = length & 0xFFFF;
    if (n < 2)
        return false;
    const unsigned short crc = ModbusRTUSlaveCRC(frame, n - 2);
    return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

QByteArray ModbusRTUSlaveBuildReadDevicesRequest(unsigned char station, unsigned char function,
                                                 unsigned short address, unsigned short quantity)
{
    QByteArray frame = header(station, function, address, 2);
    appendWord(frame, quantity);
    appendCrc(frame);
    return frame;
}

QByteArray ModbusRTUSlaveBuildFn16Request(unsigned char station, unsigned short address, unsigned short quantity,
                                          const QByteArray &data)
{
    return multipleWriteRequest(station, WriteMultipleRegisters, address, quantity, data);
}

QByteArray ModbusRTUSlaveBuildFn6Request(unsigned char station, unsigned short address, const QByteArray &data)
{
    QByteArray frame = header(station, WriteSingleRegister, address, data.size());
    frame.append(data);
    appendCrc(frame);
    return frame;
}

QByteArray ModbusRTUSlaveBuildFn15Request(unsigned char station, unsigned short address, unsigned short quantity,
                                          const QByteArray &packedBits)
{
    return multipleWriteRequest(station, WriteMultipleCoils, address, quantity, packedBits);
}

QByteArray ModbusRTUSlaveBuildFn5Request(unsigned char station, unsigned short address, bool on)
{
    QByteArray frame = header(station, WriteSingleCoil, address, 2);
    appendWord(frame, on ? 0xFF00 : 0x0000);
    appendCrc(frame);
    return frame;
}

QByteArray ModbusRTUSlaveExpandBitsToBytes(const unsigned char *data, unsigned int bitCount)
{
    const unsigned int bytes = bitCount / 8 + (bitCount % 8 ? 1 : 0);
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(bytes));
}

void ModbusRTUSlaveParseAddress(const QString &text, QByteArray &area, unsigned short &reg, unsigned char &bit)
{
    const QByteArray t = text.toLatin1();
    const int n = t.size();
    int pos = 0;

    if (n > 0 && (t.at(0) == 'F' || t.at(0) == 'f')) {
        area.append(t.left(3));
        pos = 3;
    }
    if (pos >= n) {
        reg = 0xFFFF;
        return;
    }
    while (isLetter(t.at(pos))) {
        area.append(t.at(pos));
        if (++pos >= n) {
            reg = 0xFFFF;
            return;
        }
    }
    if (isDigit(t.at(pos))) {
        quint32 value = 0;
        while (pos < n && isDigit(t.at(pos)))
            value = value * 10u + static_cast<quint32>(t.at(pos++) - '0');
        reg = static_cast<unsigned short>(value - 1u);
        if (pos >= n)
            return;
    } else {
        reg = 0xFFFF;
    }
    if (t.at(pos) != '.')
        return;
    unsigned char b = 0;
    for (++pos; pos < n && isDigit(t.at(pos)); ++pos)
        b = static_cast<unsigned char>(b * 10 + (t.at(pos) - '0'));
    bit = b;
}

ModbusArea ModbusRTUSlaveArea(const QByteArray &letters)
{
    static const struct
    {
        const char *prefix;
        ModbusArea area;
    } prefixes[] = {
        {"HR", {ModbusArea::HoldingRegisters, false}},
        {"FN6HR", {ModbusArea::HoldingRegisters, true}},
        {"DO", {ModbusArea::Coils, false}},
        {"FN5DO", {ModbusArea::Coils, true}},
        {"DI", {ModbusArea::DiscreteInputs, false}},
    };
    for (const auto &p : prefixes) {
        if (qstrnicmp(letters.constData(), p.prefix, qstrlen(p.prefix)) == 0)
            return p.area;
    }
    return {ModbusArea::InputRegisters, false};
}
