#include "link.h"

#include <cerrno>

#include <termios.h>
#include <unistd.h>

#include "tcpline.h"

namespace {

long writeTerminal(int fd, const char *data, long length)
{
    return long(::write(fd, data, size_t(length)));
}

void drainTerminal(int fd)
{
    while (tcdrain(fd) != 0 && errno == EINTR) {
    }
}

// A socket's bytes are the network's once sent: nothing to wait for.
void drainNothing(int)
{
}

QString deviceHungUp()
{
    return QStringLiteral("the device hung up");
}
QString connectionClosed()
{
    return QStringLiteral("the connection was closed");
}

} // namespace

const Link terminalLink = {true, false, writeTerminal, drainTerminal, deviceHungUp};
const Link socketLink = {false, true, sendToSocket, drainNothing, connectionClosed};
