#include "linelock.h"

#include <cerrno>
#include <cstring>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <QFile>
#include <QStringList>

#include "systemerror.h"

namespace {

// Pseudo-terminal slaves have majors 136 to 143 on Linux.
bool isPseudoTerminal(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

QString readTrimmed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

// The program holding a lock on the file: /proc/locks names it by process
// and by device and inode ("1: FLOCK ADVISORY WRITE 4242 00:1a:3 0 EOF").
QString lockHolder(const struct stat &st)
{
    const QString inode = QString::asprintf("%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                                            static_cast<unsigned long long>(st.st_ino));
    const QStringList lines = readTrimmed(QStringLiteral("/proc/locks")).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        // Waiting lockers are listed with "->" in front of their fields.
        const int at = fields.value(1) == QLatin1String("->") ? 2 : 1;
        if (fields.size() < at + 5 || fields[at] != QLatin1String("FLOCK") || fields[at + 4] != inode)
            continue;
        return processText(fields[at + 3].toLongLong());
    }
    return QString();
}

} // namespace

QString processText(qint64 pid)
{
    const QString name = readTrimmed(QStringLiteral("/proc/%1/comm").arg(pid));
    if (name.isEmpty())
        return QStringLiteral("process %1").arg(pid);
    return QStringLiteral("%1 (pid %2)").arg(name).arg(pid) + gatewayHint(pid);
}

// A servoctl gateway holding the line serves it over Modbus TCP: where to
// connect instead, as its command line says. The command line, not the
// process's name, which is the emulator's where one runs servoctl.
QString gatewayHint(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> args = file.read(64 * 1024).split('\0');
    int program = -1;
    for (int i = 0; i < args.size() && program < 0; ++i) {
        if (args[i] == "servoctl" || args[i].endsWith("/servoctl"))
            program = i;
    }
    const int gateway = program < 0 ? -1 : args.indexOf("gateway", program);
    if (gateway < 0)
        return QString();
    QString listen = QStringLiteral("127.0.0.1:502");
    const int at = args.indexOf("listen", gateway);
    if (at > 0 && at + 1 < args.size())
        listen = QString::fromLocal8Bit(args[at + 1]);
    if (!listen.contains(QLatin1Char(':')))
        listen = QStringLiteral("127.0.0.1:") + listen;
    if (listen.endsWith(QLatin1String(":0")))
        return QStringLiteral(", a Modbus TCP gateway: connect to it instead (-d modbus+tcp://, at the address it "
                              "printed)");
    return QStringLiteral(", a Modbus TCP gateway: connect to it instead (-d modbus+tcp://%1)").arg(listen);
}

QString lineInUseText(const QString &path)
{
    return QStringLiteral("%1 is in use by another program").arg(path);
}

QString lineClaimedText(int fd, const QString &path)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        st = {};
    // A shared lock is refused only while someone holds the line's
    // exclusive one; it is let go at once.
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
        flock(fd, LOCK_UN);
        return QString();
    }
    if (errno != EWOULDBLOCK)
        return QString();
    const QString holder = lockHolder(st);
    return holder.isEmpty() ? lineInUseText(path) : QStringLiteral("%1 is in use by %2").arg(path, holder);
}

bool claimLine(int fd, const QString &path, QString *error)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        st = {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            *error = systemError("cannot lock %1", path);
            return false;
        }
        const QString holder = lockHolder(st);
        *error = holder.isEmpty() ? lineInUseText(path) : QStringLiteral("%1 is in use by %2").arg(path, holder);
        return false;
    }
    if (!isPseudoTerminal(st))
        ioctl(fd, TIOCEXCL);
    return true;
}

void releaseLine(int fd)
{
    ioctl(fd, TIOCNXCL);
}
