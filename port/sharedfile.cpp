#include "sharedfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace {

// O_NONBLOCK: a named pipe would otherwise hold the open until a peer came.
const int kSharedFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Empty when st is a regular file with one link (and ours, if asked).
QString refusalFor(const QByteArray &path, const struct stat &st, bool mustBeOurs)
{
    const QString name = QFile::decodeName(path);
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is a symbolic link").arg(name);
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is a folder").arg(name);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(name);
    if (st.st_nlink != 1)
        return QStringLiteral("%1 has %2 links").arg(name).arg(qulonglong(st.st_nlink));
    if (mustBeOurs && st.st_uid != geteuid())
        return QStringLiteral("%1 belongs to another user").arg(name);
    return QString();
}

// The open failed: what is at path, if that is why.
void explainFailedOpen(const QByteArray &path, bool mustBeOurs, QString *refusal)
{
    const int error = errno;
    struct stat st;
    if (error != ENOENT && lstat(path.constData(), &st) == 0)
        *refusal = refusalFor(path, st, mustBeOurs);
    errno = error;
}

// Keeps fd when what it opened passes; -1 with *refusal otherwise.
int checked(int fd, const QByteArray &path, bool mustBeOurs, QString *refusal)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    *refusal = refusalFor(path, st, mustBeOurs);
    if (refusal->isEmpty())
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

int openSharedFileToRead(const QByteArray &path, QString *refusal)
{
    refusal->clear();
    const int fd = ::open(path.constData(), O_RDONLY | kSharedFlags);
    if (fd < 0) {
        explainFailedOpen(path, false, refusal);
        return -1;
    }
    return checked(fd, path, false, refusal);
}

int openSharedFileToWrite(const QByteArray &path, QString *refusal)
{
    refusal->clear();
    // O_EXCL: a name that appears meanwhile (a link) fails the create.
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | kSharedFlags, 0644);
    if (fd >= 0)
        return fd;
    if (errno != EEXIST)
        return -1;
    fd = ::open(path.constData(), O_WRONLY | kSharedFlags);
    if (fd < 0) {
        explainFailedOpen(path, true, refusal);
        return -1;
    }
    return checked(fd, path, true, refusal);
}

FILE *rewriteOwnFile(const QByteArray &path, QString *refusal)
{
    const int fd = openSharedFileToWrite(path, refusal);
    if (fd < 0)
        return nullptr;
    FILE *file = ftruncate(fd, 0) == 0 ? fdopen(fd, "w") : nullptr;
    if (!file)
        ::close(fd);
    return file;
}

bool removeSharedFile(const QByteArray &path, QString *refusal)
{
    refusal->clear();
    const int fd = ::open(path.constData(), O_RDONLY | kSharedFlags);
    if (fd < 0) {
        explainFailedOpen(path, true, refusal);
        return errno == ENOENT;
    }
    if (checked(fd, path, true, refusal) < 0)
        return false;
    ::close(fd);
    return unlink(path.constData()) == 0 || errno == ENOENT;
}

bool isOwnFile(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_uid == geteuid();
}
