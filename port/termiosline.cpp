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

#include "systemerror.h"

namespace {

struct Speed
{
    int baud;
    speed_t code;
};

const Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

speed_t speedCode(int baud)
{
    for (const Speed &speed : kSpeeds) {
        if (speed.baud == baud)
            return speed.code;
    }
    return B0;
}

} // namespace

bool isStandardBaudRate(int baudRate)
{
    return speedCode(baudRate) != B0;
}

namespace {

// The process that has the terminal as its controlling terminal, as
// "bash, pid 4242"; empty when none has. Only the terminal's own session
// may ask the kernel, so /proc is read: field 7 of a process's stat is its
// terminal's number, minor bits 0-7 and 20-31, major bits 8-15.
QString sessionOf(unsigned int majorNumber, unsigned int minorNumber)
{
    const qint64 terminal = qint64(minorNumber & 0xFF) | qint64(majorNumber) << 8 | qint64(minorNumber & ~0xFFu) << 12;
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

bool isPseudoTerminal(int fd)
{
    struct stat st;
    // Unix 98 pseudo-terminal slaves: majors 136 to 143.
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int terminalBaudRate(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return 0;
    const speed_t code = cfgetospeed(&tio);
    for (const Speed &speed : kSpeeds) {
        if (speed.code == code)
            return speed.baud;
    }
    return 0;
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
    // A pseudo-terminal carries no parity: the kernel refuses it there.
    if (settings.parity != LineSettings::NoParity && !isPseudoTerminal(fd)) {
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
