#include "tcpport.h"

#include <unistd.h>

#include "tcpline.h"

namespace {

// The far end of a converter on the local network answers a connection at
// once; a host that does not is taken for absent well before a person
// wonders.
const int kConnectTimeoutMs = 3000;

} // namespace

TcpPort::~TcpPort()
{
    close();
}

bool TcpPort::open(const TcpAddress &address, const LineSettings &settings)
{
    close();
    m_address = address;
    m_settings = settings;
    m_absent = false;
    QString error;
    // A Modbus TCP server takes several masters and keeps them apart itself.
    if (m_locking && !address.modbusTcp && (m_lockFd = claimTcpLine(address, &error)) < 0)
        return fail(error);
    const int fd = connectTcp(address, kConnectTimeoutMs, interruptFd(), &error);
    if (fd < 0) {
        m_absent = error != QLatin1String("interrupted");
        close();
        return fail(error);
    }
    adopt(fd, address.modbusTcp ? mbapLink() : socketLink(), address.url(), settings);
    return true;
}

bool TcpPort::reopen()
{
    if (m_address.port == 0)
        return fail(QStringLiteral("the port was never open"));
    const bool wasShownSilent = shownSilent(); // the same converter
    if (!open(m_address, m_settings))
        return false;
    setShownSilent(wasShownSilent);
    return true;
}

void TcpPort::close()
{
    SerialPort::close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}
