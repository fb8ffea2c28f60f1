#ifndef TCPPORT_H
#define TCPPORT_H

#include "serialport.h"
#include "tcpaddress.h"

// An RS-485 line reached through an Ethernet converter that passes RTU
// frames unchanged over a TCP connection (CRC included, no header), or
// through a Modbus TCP gateway (the frames as MBAP, each answer matched to
// its request by transaction: mbaplink.cpp): the serial port's judgement
// and counters on a socket (serialport.h). The far end keeps the line's
// time, so no silence is kept or read here and an answer is framed by its
// length within the answer time-out.
//
// One master per converter line within this machine: open() takes the
// host:port lock (claimTcpLine) before it connects, and fails without it
// unless locking is off. A Modbus TCP gateway serves several masters, and
// takes no lock. A refused, unreachable
// or timed-out connection leaves the port absent (isAbsent()): the line is
// not there, as an unplugged adapter is not; a connection that closes is a
// lost line, and reopen() connects again.
class TcpPort : public SerialPort
{
public:
    ~TcpPort() override;

    // The settings are the converter's line's, for what the driver asks of
    // them; nothing is set on the converter.
    bool open(const TcpAddress &address, const LineSettings &settings);
    bool reopen() override;
    void close() override;

    // Off: no lock is taken, and another master on this machine may share
    // the converter's line (on by default).
    void setLocking(bool on) { m_locking = on; }

    TcpAddress address() const { return m_address; }
    bool isAbsent() const { return m_absent; }

private:
    TcpAddress m_address;
    LineSettings m_settings;
    int m_lockFd = -1;
    bool m_locking = true;
    bool m_absent = false;
};

#endif // TCPPORT_H
