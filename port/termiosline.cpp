#include "termiosline.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

speed_t speedCode(int baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

// The process that has the terminal as its controlling terminal, as
// "bash, pid 4242"; empty when none has. Only the terminal's own session
// may ask the kernel, so /proc is read: field 7 of a process's stat is its
// terminal's number, minor bits 0-7 and 20-31, major bits 8-15.
QString sessionOf(unsigned int majorNumber, unsigned int minorNumber)
{
    const qint64 terminal = qint64(minorNumber & 0xFF) | qint64(majorNumber) << 8
                            | qint64(minorNumber & ~0xFFu) << 12;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid.at(0).isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.read(1024);
        const int nameStart = text.indexOf('(');
        const int nameEnd = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(nameEnd + 2).split(' ');
        if (nameStart < 0 || nameEnd < nameStart || fields.value(4).toLongLong() != terminal)
            continue;
        const QString name = QString::fromLocal8Bit(text.mid(nameStart + 1, nameEnd - nameStart - 1));
        return QStringLiteral("%1, pid %2").arg(name, pid);
    }
    return QString();
}

} // namespace

QString whyNotALine(int fd)
{
    struct stat st;
    if (!isatty(fd) || fstat(fd, &st) != 0)
        return QStringLiteral("is not a serial device");
    const unsigned int majorNumber = major(st.st_rdev);
    const unsigned int minorNumber = minor(st.st_rdev);
    // /dev/tty, /dev/console and the virtual consoles (serial ports share
    // major 4 from minor 64 on).
    if ((majorNumber == 5 && minorNumber < 2) || (majorNumber == 4 && minorNumber < 64))
        return QStringLiteral("is a console, not a line");
    int number = 0;
    if (ioctl(fd, TIOCGPTN, &number) == 0)
        return QStringLiteral("is the master side of a new pseudo-terminal, not a line");
    const QString session = sessionOf(majorNumber, minorNumber);
    if (!session.isEmpty())
        return QStringLiteral("is a login session's terminal (%1), not a line").arg(session);
    return QString();
}

bool configureTerminal(int fd, const LineSettings &settings, QString *error)
{
    const speed_t speed = speedCode(settings.baudRate);
    if (speed == B0) {
        *error = QStringLiteral("unsupported baud rate: %1").arg(settings.baudRate);
        return false;
    }
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        *error = systemError("cannot read the line settings");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[qBound(5, settings.dataBits, 8) - 5];
    if (settings.parity != LineSettings::NoParity) {
        tio.c_cflag |= PARENB;
        if (settings.parity == LineSettings::OddParity)
            tio.c_cflag |= PARODD;
        tio.c_iflag |= INPCK;
    }
    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = systemError("cannot apply the line settings");
        return false;
    }
    return true;
}

Rs485Support setKernelRs485(int fd, bool on, QString *error)
{
    serial_rs485 rs485;
    std::memset(&rs485, 0, sizeof rs485);
    if (on)
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (ioctl(fd, TIOCSRS485, &rs485) == 0)
        return on ? Rs485Support::Enabled : Rs485Support::NotAvailable;
    if (errno == ENOTTY || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
        return Rs485Support::NotAvailable;
    *error = systemError("cannot switch the line to RS-485");
    return Rs485Support::Failed;
}

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntilNs(qint64 deadlineNs)
{
    if (deadlineNs <= monotonicNs())
        return;
    timespec ts;
    ts.tv_sec = time_t(deadlineNs / 1000000000);
    ts.tv_nsec = long(deadlineNs % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}
