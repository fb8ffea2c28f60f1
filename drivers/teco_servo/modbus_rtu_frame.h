#ifndef MODBUS_RTU_FRAME_H
#define MODBUS_RTU_FRAME_H

#include <QByteArray>
#include <QString>

#include "qt_compat.h"

// Modbus RTU frame layer of the driver: request builders, the CRC-16 and the
// address parser. Internal to the plug-in (hidden), never exported.
//
// 16-bit fields go on the wire high byte first, the CRC low byte first.
// The ModbusRTUSlave prefix is the runtime's naming for its drivers' frame
// layers (the driver is the master on the line), kept for that reason.

Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildReadDevicesRequest(unsigned char station, unsigned char function,
                                                               unsigned short address, unsigned short quantity);
// The byte count field carries the low 8 bits of data.size(); data follow unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn16Request(unsigned char station, unsigned short address,
                                                        unsigned short quantity, const QByteArray &data);
// The data (the register value, high byte first) follow the address unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn6Request(unsigned char station, unsigned short address, const QByteArray &data);
// packedBits: coil i in bit (i mod 8) of byte i / 8; byte count = packedBits.size().
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn15Request(unsigned char station, unsigned short address,
                                                        unsigned short quantity, const QByteArray &packedBits);
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn5Request(unsigned char station, unsigned short address, bool on);

// CRC-16/MODBUS of the first length bytes (length taken mod 65536); its low
// byte is the one sent first.
Q_DECL_HIDDEN unsigned short ModbusRTUSlaveCRC(const unsigned char *data, unsigned int length);
// True when the frame's last two bytes are the CRC of the bytes before them.
Q_DECL_HIDDEN bool ModbusRTUSlaveCheckCRC(unsigned char *frame, unsigned int length);
// Copies the bytes holding bitCount packed bits, unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveExpandBitsToBytes(const unsigned char *data, unsigned int bitCount);

// Splits an address such as HR100, FN6HR12.3 or DO5 into its letters (appended
// to area), the zero-based register (written number - 1, mod 65536; 65535
// when there is no number) and the bit after a full stop (mod 256; bit is left
// unchanged when there is no bit part). Never fails. An address starting with
// F or f takes its first three characters, whatever they are, as letters.
Q_DECL_HIDDEN void ModbusRTUSlaveParseAddress(const QString &text, QByteArray &area, unsigned short &reg, unsigned char &bit);

// The function codes the driver sends.
enum ModbusFunction : unsigned char {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    ReadInputRegisters = 4,
    WriteSingleCoil = 5,
    WriteSingleRegister = 6,
    WriteMultipleCoils = 15,
    WriteMultipleRegisters = 16
};

// What an address's letters name, by how they begin, letter case ignored:
// HR and FN6HR holding registers, DO and FN5DO coils, DI discrete inputs, any
// other letters (IR among them) input registers. FN6HR and FN5DO are written
// one item per request (functions 6 and 5).
struct ModbusArea
{
    enum Table : unsigned char { InputRegisters, HoldingRegisters, Coils, DiscreteInputs };
    Table table;
    bool singleWrites;

    // A register read of any table but holding registers reads input
    // registers; a bit read of any but coils reads inputs.
    ModbusFunction registerRead() const
    {
        return table == HoldingRegisters ? ReadHoldingRegisters : ReadInputRegisters;
    }
    ModbusFunction bitRead() const { return table == Coils ? ReadCoils : ReadDiscreteInputs; }
};

// The area of the letters ModbusRTUSlaveParseAddress gives (HR, hr, HRX and
// FN6HR all name holding registers).
Q_DECL_HIDDEN ModbusArea ModbusRTUSlaveArea(const QByteArray &letters);

#endif // MODBUS_RTU_FRAME_H
