#include "linedebtfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "sharedfile.h"
#include "writeall.h"

namespace {

const qint64 kMaxDebtBytes = 4096;

QByteArray bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// This boot, and this device: when its node was made.
QByteArray owner(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return QByteArray();
    return bootId() + ' ' + QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.'
           + QByteArray::number(qint64(st.st_ctim.tv_nsec));
}

// Empty when fd is no device.
QString debtPath(int fd, const QString &folder)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return QString();
    return QStringLiteral("%1/modbus-line-%2-%3.debt").arg(folder).arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

} // namespace

QString lineDebtFolder()
{
    const QString lockFolder = QStringLiteral("/run/lock");
    return QFileInfo(lockFolder).isWritable() ? lockFolder : QDir::tempPath();
}

void leaveLineDebt(int fd, const LineDebt &debt, const QString &folder, QString *warning)
{
    warning->clear();
    const QByteArray path = QFile::encodeName(debtPath(fd, folder));
    if (path.isEmpty())
        return;
    if (debt.isEmpty()) {
        removeSharedFile(path, warning);
        return;
    }
    const int file = openSharedFileToWrite(path, warning);
    if (file < 0)
        return;
    // Another user's program may hold the line next: it reads the file, but
    // only we may change it.
    fchmod(file, 0644);
    const QByteArray text = lineDebtText(debt, owner(fd));
    // No half a debt: an empty file is none; one that cannot even be
    // emptied goes.
    if ((ftruncate(file, 0) != 0 || writeAll(file, text) != 0) && ftruncate(file, 0) != 0)
        removeSharedFile(path, warning);
    ::close(file);
}

LineDebt takeLineDebt(int fd, const QString &folder, QString *warning)
{
    warning->clear();
    LineDebt debt;
    const QByteArray path = QFile::encodeName(debtPath(fd, folder));
    if (path.isEmpty())
        return debt;
    const int file = openSharedFileToRead(path, warning);
    if (file < 0)
        return debt;
    // Anyone may have written the file: its size is bounded here, and the
    // port bounds the times it takes from it.
    QByteArray text(int(kMaxDebtBytes), Qt::Uninitialized);
    const ssize_t n = ::read(file, text.data(), size_t(text.size()));
    text.truncate(n > 0 ? int(n) : 0);
    if (isOwnFile(file))
        removeSharedFile(path, warning);
    else
        *warning = QStringLiteral("%1 belongs to another user").arg(QFile::decodeName(path));
    ::close(file);
    return lineDebtFromText(text, owner(fd));
}
