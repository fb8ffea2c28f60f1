#include "linedebt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

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
QString debtPath(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return QString();
    const QString folder = QFileInfo(QStringLiteral("/run/lock")).isWritable()
                               ? QStringLiteral("/run/lock") : QDir::tempPath();
    return QStringLiteral("%1/modbus-line-%2-%3.debt").arg(folder).arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

} // namespace

void leaveLineDebt(int fd, const LineDebt &debt)
{
    const QString path = debtPath(fd);
    if (path.isEmpty())
        return;
    if (debt.isEmpty()) {
        QFile::remove(path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    // Another user's program may hold the line next.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
                        | QFile::ReadOther | QFile::WriteOther);
    QTextStream out(&file);
    out << "line " << owner(fd) << '\n' << "quiet " << debt.quietUntilNs << '\n';
    for (const LineDebt::Owed &owed : debt.owed) {
        out << "owed " << owed.sentNs << ' ' << owed.holdUntilNs << ' ' << owed.carried << ' '
            << owed.request.toHex() << '\n';
    }
}

LineDebt takeLineDebt(int fd)
{
    LineDebt debt;
    const QString path = debtPath(fd);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return debt;
    // Anyone may have written the file: its size is bounded here, and the
    // port bounds the times it takes from it.
    const QList<QByteArray> lines = file.read(kMaxDebtBytes).split('\n');
    file.close();
    QFile::remove(path);
    if (lines.value(0) != "line " + owner(fd))
        return debt;
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.value(0) == "quiet" && fields.size() == 2) {
            debt.quietUntilNs = fields[1].toLongLong();
        } else if (fields.value(0) == "owed" && fields.size() == 5) {
            debt.owed.append(LineDebt::Owed{QByteArray::fromHex(fields[4]), fields[1].toLongLong(),
                                            fields[2].toLongLong(), fields[3].toInt()});
        }
    }
    return debt;
}
