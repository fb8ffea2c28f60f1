// Read and write dispatch: address parsing, choice of transaction, retries
// and the description appended to a final error.
#include "teco_servo.h"

#include "abstractdeviceinterface.h"
#include "communicatorcommand.h"
#include "modbus_rtu_frame.h"
#include "qt_compat.h"
#include "teco_servo_texts.h"

namespace {

bool isSpecialRegister(ModbusArea area, unsigned short reg)
{
    return area.table == ModbusArea::HoldingRegisters && reg >= SPECIAL_FIRST_REGISTER && reg <= SPECIAL_LAST_REGISTER;
}

bool swapsWords(const CommunicatorCommand &cmd)
{
    return cmd.address.indexOf(QLatin1String("SW"), 0, Qt::CaseInsensitive) >= 0;
}

QString describe(const char *format, unsigned char station, const CommunicatorCommand &cmd)
{
    return QtCompat::asprintf(format, cmd.count, int(station)) + cmd.address + QLatin1Char(')');
}

} // namespace

bool DriverTecoServo::acceptCommand(AbstractDeviceInterface *port, const CommunicatorCommand &cmd)
{
    if (!port) {
        setCommError(QLatin1String(TecoServoText::NoResponse));
        return false;
    }
    const unsigned int type = static_cast<unsigned int>(cmd.dataType);
    if (type > CommunicatorCommand::Bit2 || type == CommunicatorCommand::QuadWord) {
        waitFrameDelay(port);
        setCommError(QLatin1String(TecoServoText::UnsupportedType) + cmd.address);
        return false;
    }
    return true;
}

QByteArray DriverTecoServo::read(AbstractDeviceInterface *port, const CommunicatorCommand &cmd)
{
    if (!acceptCommand(port, cmd))
        return QByteArray();
    QByteArray area;
    unsigned short reg = 0;
    unsigned char bit = 0;
    ModbusRTUSlaveParseAddress(cmd.address, area, reg, bit);

    QByteArray result;
    if (!repeatAttempts(port, [&] { result = readOnce(port, cmd, area, reg, bit); }))
        appendCmdToReadCommError(static_cast<unsigned char>(port->stationId() & 0xFF), cmd);
    return result;
}

QByteArray DriverTecoServo::readOnce(AbstractDeviceInterface *port, const CommunicatorCommand &cmd,
                                     const QByteArray &area, unsigned short reg, unsigned char bit)
{
    const ModbusArea kind = ModbusRTUSlaveArea(area);
    switch (cmd.dataType) {
    case CommunicatorCommand::Bit:
    case CommunicatorCommand::Bit2:
        if (kind.table == ModbusArea::Coils || kind.table == ModbusArea::DiscreteInputs)
            return readDIDOs(port, area, reg, cmd.count);
        return readIRHRbits(port, area, reg, bit, cmd.count);
    case CommunicatorCommand::Byte:
    case CommunicatorCommand::Block:
        return readBytes(port, area, reg, cmd.count);
    case CommunicatorCommand::Word:
        if (isSpecialRegister(kind, reg))
            return readSpecialHRWords(port, reg, cmd.count);
        return readWords(port, area, reg, cmd.count);
    default: // DoubleWord; the others never get here
        return readDWords(port, area, reg, cmd.count, swapsWords(cmd));
    }
}

bool DriverTecoServo::write(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &data)
{
    if (!acceptCommand(port, cmd))
        return false;
    QByteArray area;
    unsigned short reg = 0;
    unsigned char bit = 0;
    ModbusRTUSlaveParseAddress(cmd.address, area, reg, bit);

    // Stations of a broadcast that have acknowledged; kept across retries.
    int progress = 0;
    bool result = false;
    if (!repeatAttempts(port, [&] { result = writeOnce(port, cmd, data, area, reg, bit, progress); }))
        appendCmdToWriteCommError(static_cast<unsigned char>(port->stationId() & 0xFF), cmd);
    return result;
}

bool DriverTecoServo::writeOnce(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &data,
                                const QByteArray &area, unsigned short reg, unsigned char bit, int &progress)
{
    const ModbusArea kind = ModbusRTUSlaveArea(area);
    const bool holding = kind.table == ModbusArea::HoldingRegisters;
    const bool single = kind.singleWrites;
    const bool special = isSpecialRegister(kind, reg);
    const char *refusal = nullptr;
    switch (cmd.dataType) {
    case CommunicatorCommand::Bit:
    case CommunicatorCommand::Bit2:
        if (kind.table == ModbusArea::Coils)
            return single ? writeCoilsWithFN5(port, reg, data) : writeCoils(port, reg, data);
        if (special)
            return single ? writeSpecialFN6HRbit(port, reg, bit, data, progress)
                          : writeSpecialHRbit(port, reg, bit, data, progress);
        if (holding)
            return single ? writeHRbitWithFN6(port, reg, bit, data) : writeHRbit(port, reg, bit, data);
        refusal = TecoServoText::WriteNoBit;
        break;
    case CommunicatorCommand::Byte:
    case CommunicatorCommand::Block:
        if (holding)
            return single ? writeBytesWithFN6(port, reg, data) : writeBytes(port, reg, data);
        refusal = TecoServoText::WriteNoByte;
        break;
    case CommunicatorCommand::Word:
        if (special)
            return single ? writeSpecialFN6HRWords(port, reg, data, progress)
                          : writeSpecialHRWords(port, reg, data, progress);
        if (holding)
            return single ? writeWordsWithFN6(port, reg, data) : writeWords(port, reg, data);
        refusal = TecoServoText::WriteNoWord;
        break;
    default: // DoubleWord; the others never get here
        if (holding)
            return single ? writeDWordsWithFN6(port, reg, data, swapsWords(cmd))
                          : writeDWords(port, reg, data, swapsWords(cmd));
        refusal = TecoServoText::WriteNoDWord;
        break;
    }
    setCommError(QLatin1String(refusal) + cmd.address);
    return false;
}

void DriverTecoServo::appendCmdToReadCommError(unsigned char station, const CommunicatorCommand &cmd)
{
    const unsigned int type = static_cast<unsigned int>(cmd.dataType);
    if (type < 4)
        lastError += describe(TecoServoText::ReadDescription[type], station, cmd);
}

void DriverTecoServo::appendCmdToWriteCommError(unsigned char station, const CommunicatorCommand &cmd)
{
    const unsigned int type = static_cast<unsigned int>(cmd.dataType);
    if (type < 4)
        lastError += describe(TecoServoText::WriteDescription[type], station, cmd);
}
