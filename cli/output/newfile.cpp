#include "newfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>

#include "dataout.h"
#include "pathchecks.h"
#include "systemerror.h"
#include "writeall.h"

namespace {

QString errnoText(const QString &what, const QString &path, int error)
{
    return QStringLiteral("cannot %1 %2: %3").arg(what, path, systemReason(error));
}

} // namespace

bool writeNewFile(const QString &path, const QByteArray &contents, QString *error)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    // Made new (O_EXCL, mode 0600 until written); link() never follows a
    // link at path, so a name another user planted in a shared folder is
    // refused, not written through.
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = errnoText(QStringLiteral("write beside"), path, errno);
        return false;
    }
    fchmod(fd, 0644);
    int writeError = writeAll(fd, contents);
    if (writeError == 0 && fsync(fd) != 0)
        writeError = errno;
    const bool written = writeError == 0;
    ::close(fd);
    bool done = false;
    if (!written)
        *error = errnoText(QStringLiteral("write"), path, writeError);
    else if (link(temporary.constData(), target.constData()) != 0)
        *error = errno == EEXIST ? existsText(path) : errnoText(QStringLiteral("write"), path, errno);
    else
        done = true;
    unlink(temporary.constData());
    return done;
}

int createNewFile(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        *error = errno == EEXIST ? existsText(path) : errnoText(QStringLiteral("create"), path, errno);
    return fd;
}

int openLogFile(const QString &path, bool *stream, QString *error)
{
    *stream = true;
    if (path == QLatin1String("-")) {
        const int fd = fcntl(dataOutputFd(), F_DUPFD_CLOEXEC, 3);
        if (fd < 0)
            *error = errnoText(QStringLiteral("write to"), QStringLiteral("standard output"), errno);
        return fd;
    }
    if (!isStreamFile(path)) {
        *stream = false;
        return createNewFile(path, error);
    }
    // No O_TRUNC, and a regular file found after all is the user's: left
    // alone; nor a link put in a shared folder since the check.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CLOEXEC | O_NOCTTY | (inFolderAnyoneWrites(path) ? O_NOFOLLOW : 0));
    if (fd < 0) {
        *error = errnoText(QStringLiteral("open"), path, errno);
        return -1;
    }
    struct stat info = {};
    if (fstat(fd, &info) != 0 || S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = existsText(path);
        return -1;
    }
    return fd;
}
