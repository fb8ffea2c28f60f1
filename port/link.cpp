#include "link.h"

#include <cerrno>

#include <termios.h>
#include <unistd.h>

#include "tcpline.h"

Link::~Link() = default;

QByteArray Link::rtuBytes(const char *data, long length)
{
    return QByteArray(data, int(length));
}

bool Link::matchesAnswers() const
{
    return false;
}

QList<JudgeEvent> Link::takeEvents()
{
    return {};
}

QString Link::fault() const
{
    return QString();
}

namespace {

class TerminalLink : public Link
{
public:
    bool keepsLineTime() const override { return true; }
    bool endOfInputIsLoss() const override { return false; }
    long write(int fd, const char *data, long length) override { return long(::write(fd, data, size_t(length))); }
    void drain(int fd) override
    {
        while (tcdrain(fd) != 0 && errno == EINTR) {
        }
    }
    QString hangUpText() const override { return QStringLiteral("the device hung up"); }
};

class SocketLink : public Link
{
public:
    bool keepsLineTime() const override { return false; }
    bool endOfInputIsLoss() const override { return true; }
    long write(int fd, const char *data, long length) override { return sendToSocket(fd, data, length); }
    // A socket's bytes are the network's once sent: nothing to wait for.
    void drain(int) override {}
    QString hangUpText() const override { return QStringLiteral("the connection was closed"); }
};

} // namespace

std::unique_ptr<Link> terminalLink()
{
    return std::make_unique<TerminalLink>();
}

std::unique_ptr<Link> socketLink()
{
    return std::make_unique<SocketLink>();
}
