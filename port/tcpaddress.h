#ifndef TCPADDRESS_H
#define TCPADDRESS_H

#include <QString>

// A line reached over TCP: a host name or address and a port, and how the
// frames go. RTU over TCP (tcp://): an Ethernet-to-RS-485 converter, or
// servosim --tcp, passes RTU frames unchanged. Modbus TCP (modbus+tcp://):
// a gateway or a drive that speaks Modbus TCP, MBAP header and no CRC.
struct TcpAddress
{
    QString host; // as written, without the brackets of an IPv6 address
    int port = 0;
    bool modbusTcp = false;

    // "tcp://HOST:PORT" or "modbus+tcp://HOST:PORT", the forms servoctl's
    // -d takes and servosim and the gateway print.
    QString url() const;
};

// Modbus TCP's own port, where modbus+tcp:// names none.
const int kModbusTcpPort = 502;

// True when a device names a TCP line (either form) rather than a serial
// device.
bool isTcpUrl(const QString &device);
bool isModbusTcpUrl(const QString &device);

// "tcp://HOST:PORT" (an IPv6 address in brackets: tcp://[::1]:502), or
// "modbus+tcp://HOST[:PORT]", PORT 1 to 65535. False with a text naming
// the word otherwise.
bool parseTcpUrl(const QString &text, TcpAddress *address, QString *error);

// "[HOST:]PORT" to listen on, HOST defaulting to 127.0.0.1; PORT 0 takes
// any free one.
bool parseListenAddress(const QString &text, TcpAddress *address, QString *error);

#endif // TCPADDRESS_H
