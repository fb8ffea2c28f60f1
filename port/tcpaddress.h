#ifndef TCPADDRESS_H
#define TCPADDRESS_H

#include <QString>

// Where an Ethernet-to-RS-485 converter (or servosim --tcp) passes RTU
// frames over TCP: a host name or address and a port.
struct TcpAddress
{
    QString host; // as written, without the brackets of an IPv6 address
    int port = 0;

    // "tcp://HOST:PORT", the form servoctl's -d takes and servosim prints.
    QString url() const;
};

// True when a device names a TCP line rather than a serial device.
bool isTcpUrl(const QString &device);

// "tcp://HOST:PORT" (an IPv6 address in brackets: tcp://[::1]:502), PORT
// 1 to 65535. False with a text naming the word otherwise.
bool parseTcpUrl(const QString &text, TcpAddress *address, QString *error);

// "[HOST:]PORT" to listen on, HOST defaulting to 127.0.0.1; PORT 0 takes
// any free one.
bool parseListenAddress(const QString &text, TcpAddress *address, QString *error);

#endif // TCPADDRESS_H
