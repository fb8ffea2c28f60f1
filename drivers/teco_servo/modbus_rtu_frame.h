#ifndef MODBUS_RTU_FRAME_H
#define MODBUS_RTU_FRAME_H

#include <QByteArray>
#include <QString>

// Modbus RTU frame layer of the driver: request builders, the CRC-16 and the
// address parser. Internal to the plug-in (hidden), never exported.
//
// 16-bit fields go on the wire high byte first, the CRC low byte first.
// The ModbusRTUSlave prefix is the runtime's naming for its drivers' frame
// layers (the driver is the master on the line), kept for that reason.

Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildReadDevicesRequest(unsigned char station,
                                                               unsigned char function,
                                                               unsigned short address,
                                                               unsigned short quantity);
// The byte count field carries the low 8 bits of data.size(); data follow unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn16Request(unsigned char station,
                                                        unsigned short address,
                                                        unsigned short quantity,
                                                        const QByteArray &data);
// The data (the register value, high byte first) follow the address unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn6Request(unsigned char station,
                                                       unsigned short address,
                                                       const QByteArray &data);
// packedBits: coil i in bit (i mod 8) of byte i / 8; byte count = packedBits.size().
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn15Request(unsigned char station,
                                                        unsigned short address,
                                                        unsigned short quantity,
                                                        const QByteArray &packedBits);
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveBuildFn5Request(unsigned char station,
                                                       unsigned short address, bool on);

// CRC-16/MODBUS of the first length bytes (length taken mod 65536); its low
// byte is the one sent first.
Q_DECL_HIDDEN unsigned short ModbusRTUSlaveCRC(const unsigned char *data, unsigned int length);
// True when the frame's last two bytes are the CRC of the bytes before them.
Q_DECL_HIDDEN bool ModbusRTUSlaveCheckCRC(unsigned char *frame, unsigned int length);
// Copies the bytes holding bitCount packed bits, unchanged.
Q_DECL_HIDDEN QByteArray ModbusRTUSlaveExpandBitsToBytes(const unsigned char *data,
                                                         unsigned int bitCount);

// Splits an address such as HR100, FN6HR12.3 or DO5 into its letters (appended
// to area), the zero-based register (written number - 1, mod 65536; 65535
// when there is no number) and the bit after a full stop (mod 256; bit is left
// unchanged when there is no bit part). Never fails. An address starting with
// F or f takes its first three characters, whatever they are, as letters.
Q_DECL_HIDDEN void ModbusRTUSlaveParseAddress(const QString &text, QByteArray &area,
                                              unsigned short &reg, unsigned char &bit);

// Whether an area name begins with prefix, letter case ignored (HR, hr and
// HRX all begin with HR).
Q_DECL_HIDDEN bool ModbusRTUSlaveAreaStartsWith(const QByteArray &area, const char *prefix);
// Holding registers (HR, FN6HR: functions 3, 16, 6) and coils (DO, FN5DO:
// functions 1, 15, 5).
Q_DECL_HIDDEN bool ModbusRTUSlaveIsHoldingArea(const QByteArray &area);
Q_DECL_HIDDEN bool ModbusRTUSlaveIsCoilArea(const QByteArray &area);

#endif // MODBUS_RTU_FRAME_H
