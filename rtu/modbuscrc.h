#ifndef MODBUSCRC_H
#define MODBUSCRC_H

#include <QByteArray>

// CRC-16/MODBUS (initial value FFFF, reflected polynomial A001), the
// checksum that ends every RTU frame, low byte first.
quint16 modbusCrc(const char *data, int length);
// Appends the CRC of frame to it, low byte first.
void appendModbusCrc(QByteArray &frame);
// True when frame is at least 4 bytes and ends in the CRC of its other bytes.
bool hasValidModbusCrc(const char *data, int length);
bool hasValidModbusCrc(const QByteArray &frame);

#endif // MODBUSCRC_H
