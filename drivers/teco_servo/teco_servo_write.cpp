// Register writes (functions 16 and 6), bits inside registers by
// read-modify-write, and coil writes (functions 15 and 5).
#include "teco_servo.h"

#include "abstractdeviceinterface.h"
#include "tools.h"
#include "modbus_rtu_frame.h"
#include "qt_compat.h"
#include "teco_servo_limits.h"
#include "teco_servo_texts.h"

namespace {

const int MAX_WRITE_REGISTERS = TecoServoLimit::WriteRegisters;
const int MAX_WRITE_COILS = TecoServoLimit::WriteCoils;
const int ADDRESS_SPACE = TecoServoLimit::AddressSpace;
const int WRITE_ANSWER_LENGTH = 8;

// Register data in wire order. Words and double words are sent whole: a
// trailing partial item of the caller's data is not sent.
QByteArray wordsToWire(const QByteArray &data)
{
    return toBigEndianUShortArray(data.left(data.size() & ~1));
}

QByteArray dwordsToWire(const QByteArray &data, bool swapWords)
{
    const QByteArray whole = data.left(data.size() & ~3);
    return swapWords ? toBigEndianULongArray(whole) : toBigEndianUShortArray(whole);
}

// Two bytes to a register, low byte first; an odd last byte gets a zero high byte.
QByteArray bytesToWire(const QByteArray &data)
{
    return toBigEndianUShortArray(data);
}

} // namespace

bool DriverTecoServo::registersFit(unsigned short address, int registers, const char *rangeText)
{
    if (registers <= MAX_WRITE_REGISTERS && address + registers <= ADDRESS_SPACE)
        return true;
    setCommError(QtCompat::asprintf(rangeText, address + 1));
    return false;
}

bool DriverTecoServo::writeRegisterData(AbstractDeviceInterface *port, unsigned short address,
                                        const QByteArray &wire, int station, const char *rangeText, WriteMode mode)
{
    const int registers = wire.size() / 2;
    if (!registersFit(address, registers, rangeText))
        return false;
    if (mode == WriteMode::Block) {
        return exchange(
            port, station,
            [&](unsigned char s) {
                return ModbusRTUSlaveBuildFn16Request(s, address, static_cast<unsigned short>(registers), wire);
            },
            WRITE_ANSWER_LENGTH);
    }
    // The station is asked once before the run and its value not used: a
    // station out of range ends the command before anything is sent, and the
    // port sees the same calls, in the same order, as the runtime expects.
    int checked = station;
    if (station == StationFromPort && !queryStation(port, checked))
        return false;
    // Each single-register write asks the port for the station again.
    for (int i = 0; i < registers; ++i) {
        if (!writeSingleRegister(port, static_cast<unsigned short>(address + i), wire.mid(2 * i, 2), station))
            return false;
    }
    return true;
}

bool DriverTecoServo::writeSingleRegister(AbstractDeviceInterface *port, unsigned short address,
                                          const QByteArray &wire, int station)
{
    if (!registersFit(address, wire.size() / 2, TecoServoText::WriteWordRange))
        return false;
    return exchange(
        port, station, [&](unsigned char s) { return ModbusRTUSlaveBuildFn6Request(s, address, wire); },
        WRITE_ANSWER_LENGTH);
}

bool DriverTecoServo::writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeRegisterData(port, address, wordsToWire(data), StationFromPort, TecoServoText::WriteWordRange,
                             WriteMode::Block);
}

bool DriverTecoServo::writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data,
                                 unsigned char station)
{
    return writeRegisterData(port, address, wordsToWire(data), station, TecoServoText::WriteWordRange, WriteMode::Block);
}

bool DriverTecoServo::writeDWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, bool swapWords)
{
    return writeRegisterData(port, address, dwordsToWire(data, swapWords), StationFromPort,
                             TecoServoText::WriteDWordRange, WriteMode::Block);
}

bool DriverTecoServo::writeBytes(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeRegisterData(port, address, bytesToWire(data), StationFromPort, TecoServoText::WriteByteRange,
                             WriteMode::Block);
}

bool DriverTecoServo::writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeSingleRegister(port, address, data, StationFromPort);
}

bool DriverTecoServo::writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address,
                                       const QByteArray &data, unsigned char station)
{
    return writeSingleRegister(port, address, data, station);
}

bool DriverTecoServo::writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeRegisterData(port, address, wordsToWire(data), StationFromPort, TecoServoText::WriteWordRange,
                             WriteMode::Single);
}

bool DriverTecoServo::writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address,
                                        const QByteArray &data, unsigned char station)
{
    return writeRegisterData(port, address, wordsToWire(data), station, TecoServoText::WriteWordRange, WriteMode::Single);
}

bool DriverTecoServo::writeDWordsWithFN6(AbstractDeviceInterface *port, unsigned short address,
                                         const QByteArray &data, bool swapWords)
{
    return writeRegisterData(port, address, dwordsToWire(data, swapWords), StationFromPort,
                             TecoServoText::WriteDWordRange, WriteMode::Single);
}

bool DriverTecoServo::writeBytesWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeRegisterData(port, address, bytesToWire(data), StationFromPort, TecoServoText::WriteByteRange,
                             WriteMode::Single);
}

bool DriverTecoServo::writeRegisterBits(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                                        const QByteArray &data, int station, WriteMode mode)
{
    if (data.isEmpty())
        return true;
    const int registers = static_cast<int>(NumOfBitsToNumOfWords(bit, static_cast<unsigned int>(data.size())));
    const QByteArray area = QByteArrayLiteral("HR");
    QByteArray copy = station == StationFromPort
                          ? readWords(port, area, address, registers)
                          : readWords(port, area, address, registers, static_cast<unsigned char>(station));
    if (copy.isEmpty())
        return false;
    for (int j = 0; j < data.size(); ++j)
        setBit(copy, bit + j, data.at(j) != 0);
    waitFrameDelay(port);

    const QByteArray wire = toBigEndianUShortArray(copy);
    if (mode == WriteMode::Block)
        return writeRegisterData(port, address, wire, station, TecoServoText::WriteWordRange, WriteMode::Block);
    for (int i = 0; i < registers; ++i) {
        if (i > 0)
            waitFrameDelay(port);
        if (!writeSingleRegister(port, static_cast<unsigned short>(address + i), wire.mid(2 * i, 2), station))
            return false;
    }
    return true;
}

bool DriverTecoServo::writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                                 const QByteArray &data)
{
    return writeRegisterBits(port, address, bit, data, StationFromPort, WriteMode::Block);
}

bool DriverTecoServo::writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                                 const QByteArray &data, unsigned char station)
{
    return writeRegisterBits(port, address, bit, data, station, WriteMode::Block);
}

bool DriverTecoServo::writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                                        const QByteArray &data)
{
    return writeRegisterBits(port, address, bit, data, StationFromPort, WriteMode::Single);
}

bool DriverTecoServo::writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                                        const QByteArray &data, unsigned char station)
{
    return writeRegisterBits(port, address, bit, data, station, WriteMode::Single);
}

bool DriverTecoServo::writeCoilData(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, WriteMode mode)
{
    int station = StationFromPort;
    if (!queryStation(port, station))
        return false;
    const int coils = data.size();
    if (coils > MAX_WRITE_COILS || address + coils > ADDRESS_SPACE) {
        setCommError(QtCompat::asprintf(TecoServoText::WriteCoilRange, coils, address + 1));
        return false;
    }
    if (mode == WriteMode::Block) {
        QByteArray packed(coils / 8 + (coils % 8 ? 1 : 0), 0);
        for (int i = 0; i < coils; ++i) {
            if (data.at(i))
                packed[i / 8] = static_cast<char>(packed.at(i / 8) | (1 << (i % 8)));
        }
        return exchange(
            port, station,
            [&](unsigned char s) {
                return ModbusRTUSlaveBuildFn15Request(s, address, static_cast<unsigned short>(coils), packed);
            },
            WRITE_ANSWER_LENGTH);
    }
    for (int i = 0; i < coils; ++i) {
        const unsigned short coil = static_cast<unsigned short>(address + i);
        const bool on = data.at(i) != 0;
        if (!exchange(
                port, station, [&](unsigned char s) { return ModbusRTUSlaveBuildFn5Request(s, coil, on); },
                WRITE_ANSWER_LENGTH))
            return false;
    }
    return true;
}

bool DriverTecoServo::writeCoils(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeCoilData(port, address, data, WriteMode::Block);
}

bool DriverTecoServo::writeCoilsWithFN5(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data)
{
    return writeCoilData(port, address, data, WriteMode::Single);
}
