// Register and bit reads: functions 1, 2, 3 and 4.
#include "teco_servo.h"

#include "abstractdeviceinterface.h"
#include "communicatorcommand.h"
#include "tools.h"
#include "modbus_rtu_frame.h"
#include "qt_compat.h"
#include "teco_servo_limits.h"
#include "teco_servo_texts.h"

namespace {

const qint64 MAX_READ_REGISTERS = TecoServoLimit::ReadRegisters;
const qint64 MAX_READ_BITS = TecoServoLimit::ReadBits;
const qint64 ADDRESS_SPACE = TecoServoLimit::AddressSpace;

qint64 bytesForBits(qint64 bits)
{
    return bits / 8 + (bits % 8 ? 1 : 0);
}

} // namespace

// How one member of the register-read family counts registers and turns the
// answer's data (count items) into host order.
struct RegisterReadShape
{
    const char *rangeText; // printf with the area name and address + 1
    qint64 (*registers)(qint64 count);
    QByteArray (*convert)(const unsigned char *data, int count);
};

namespace {

const RegisterReadShape WORDS = {
    TecoServoText::ReadWordRange, [](qint64 count) { return count; },
    [](const unsigned char *data, int count) { return fromBigEndianUShortArray(data, count); }};

const RegisterReadShape DWORDS = {
    TecoServoText::ReadDWordRange, [](qint64 count) { return 2 * count; },
    [](const unsigned char *data, int count) { return fromBigEndianUShortArray(data, 2 * count); }};

const RegisterReadShape SWAPPED_DWORDS = {DWORDS.rangeText, DWORDS.registers, [](const unsigned char *data, int count) {
                                              return fromBigEndianULongArray(data, count);
                                          }};

const RegisterReadShape BYTES = {TecoServoText::ReadByteRange, [](qint64 count) { return count / 2 + count % 2; },
                                 [](const unsigned char *data, int count) {
                                     return fromBigEndianUShortArray(data, count / 2 + count % 2).left(count);
                                 }};

} // namespace

QByteArray DriverTecoServo::readRegisters(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address,
                                          int count, int station, const RegisterReadShape &shape)
{
    // A negative count is refused in every member (also for bytes, where
    // rounding would otherwise turn -1 into one register).
    const qint64 n = count < 0 ? -1 : shape.registers(count);
    if (n < 0 || n > MAX_READ_REGISTERS || address + n > ADDRESS_SPACE) {
        setCommError(QtCompat::asprintf(shape.rangeText, area.constData(), address + 1));
        return QByteArray();
    }
    const ModbusFunction function = ModbusRTUSlaveArea(area).registerRead();
    const unsigned short quantity = static_cast<unsigned short>(n);
    QByteArray result;
    exchange(
        port, station,
        [&](unsigned char s) { return ModbusRTUSlaveBuildReadDevicesRequest(s, function, address, quantity); },
        static_cast<int>(2 * n + 5), [&](const unsigned char *data) { result = shape.convert(data, count); });
    return result;
}

QByteArray DriverTecoServo::readWords(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count)
{
    return readRegisters(port, area, address, count, StationFromPort, WORDS);
}

QByteArray DriverTecoServo::readWords(AbstractDeviceInterface *port, const QByteArray &area,
                                      unsigned short address, int count, unsigned char station)
{
    return readRegisters(port, area, address, count, station, WORDS);
}

QByteArray DriverTecoServo::readDWords(AbstractDeviceInterface *port, const QByteArray &area,
                                       unsigned short address, int count, bool swapWords)
{
    return readRegisters(port, area, address, count, StationFromPort, swapWords ? SWAPPED_DWORDS : DWORDS);
}

QByteArray DriverTecoServo::readBytes(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count)
{
    return readRegisters(port, area, address, count, StationFromPort, BYTES);
}

QByteArray DriverTecoServo::readCoilsOrInputs(AbstractDeviceInterface *port, unsigned char function,
                                              unsigned short address, int count, bool clearTail)
{
    const unsigned short quantity = static_cast<unsigned short>(count);
    QByteArray result;
    exchange(
        port, StationFromPort,
        [&](unsigned char s) { return ModbusRTUSlaveBuildReadDevicesRequest(s, function, address, quantity); },
        static_cast<int>(bytesForBits(count) + 5),
        [&](const unsigned char *data) {
            result = ModbusRTUSlaveExpandBitsToBytes(data, static_cast<unsigned int>(count));
            if (clearTail)
                clearUnnecessaryBits(result, count);
        });
    return result;
}

QByteArray DriverTecoServo::readDIDOs(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count)
{
    if (static_cast<unsigned int>(count) > MAX_READ_BITS || address + qint64(count) > ADDRESS_SPACE) {
        setCommError(QtCompat::asprintf(TecoServoText::ReadBitRange, count, area.constData(), unsigned(address) + 1));
        return QByteArray();
    }
    return readCoilsOrInputs(port, ModbusRTUSlaveArea(area).bitRead(), address, count, true);
}

QByteArray DriverTecoServo::readBits(AbstractDeviceInterface *port, const CommunicatorCommand &command)
{
    // The letters as every address has them, only DO and DI as written; the
    // number this member's own way, from all the digits of the text.
    QByteArray area;
    unsigned short reg = 0;
    unsigned char bit = 0;
    ModbusRTUSlaveParseAddress(command.address, area, reg, bit);
    quint32 number = 0;
    for (const char c : command.address.toLatin1()) {
        if (c >= '0' && c <= '9')
            number = number * 10u + static_cast<quint32>(c - '0');
    }
    if (area != "DO" && area != "DI") {
        setCommError(QLatin1String(TecoServoText::ReadNoBit) + command.address);
        return QByteArray();
    }
    const unsigned short address = static_cast<unsigned short>(number - 1u);
    const int count = command.count;
    if (static_cast<unsigned int>(count) > MAX_READ_BITS || address + qint64(count) > ADDRESS_SPACE) {
        setCommError(QtCompat::asprintf(TecoServoText::ReadBitCount, count) + command.address);
        return QByteArray();
    }
    return readCoilsOrInputs(port, ModbusRTUSlaveArea(area).bitRead(), address, count, false);
}

QByteArray DriverTecoServo::readIRHRbits(AbstractDeviceInterface *port, const QByteArray &area,
                                         unsigned short address, unsigned char bitOffset, int count)
{
    if (count < 0) {
        setCommError(QtCompat::asprintf(WORDS.rangeText, area.constData(), address + 1));
        return QByteArray();
    }
    const unsigned int registers = NumOfBitsToNumOfWords(bitOffset, static_cast<unsigned int>(count));
    QByteArray bits = readWords(port, area, address, static_cast<int>(registers));
    if (bits.isEmpty() || count == 0)
        return QByteArray();
    RightShiftNBits(bits, bitOffset);
    FitBitArray(bits, count);
    clearUnnecessaryBits(bits, count);
    return bits;
}
