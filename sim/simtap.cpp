#include "simtap.h"

#include <cerrno>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "systemerror.h"
#include "termiosline.h"

SimTap::~SimTap()
{
    close();
}

bool SimTap::open(const LineSettings &settings)
{
    close();
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        m_error = systemError("cannot open a pseudo-terminal for the tap");
        return false;
    }
    char name[128];
    if (!configureTerminal(m_slave, settings, &m_error) || ptsname_r(m_master, name, sizeof name) != 0) {
        if (m_error.isEmpty())
            m_error = systemError("cannot name the tap's pseudo-terminal");
        close();
        return false;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
    return true;
}

void SimTap::close()
{
    for (int *fd : {&m_master, &m_slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_path.clear();
}

void SimTap::hear(const char *data, int size)
{
    if (m_master < 0)
        return;
    drainListener();
    bool flushed = false;
    while (size > 0) {
        const ssize_t n = ::write(m_master, data, size_t(size));
        if (n > 0) {
            data += n;
            size -= int(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN && !flushed) {
            tcflush(m_slave, TCIFLUSH); // nobody listens: the old bytes go
            flushed = true;
        } else {
            return;
        }
    }
}

void SimTap::drainListener()
{
    char chunk[256];
    ssize_t n;
    while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
        m_fromListener += n;
}

qint64 SimTap::writtenByListener()
{
    drainListener();
    return m_fromListener;
}
