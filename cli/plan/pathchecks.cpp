#include "pathchecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

QString existsText(const QString &path)
{
    return QStringLiteral("%1 exists: servoctl never replaces a file; give a new name").arg(path);
}

bool inFolderAnyoneWrites(const QString &path)
{
    struct stat folder = {};
    return stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) == 0
           && (folder.st_mode & S_IWOTH);
}

bool isStreamFile(const QString &path)
{
    struct stat info = {};
    const QByteArray name = QFile::encodeName(path);
    const int found = inFolderAnyoneWrites(path) ? lstat(name.constData(), &info) : stat(name.constData(), &info);
    return found == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode);
}

bool isStandardOutput(const QString &path)
{
    if (path == QLatin1String("-"))
        return true;
    struct stat named = {};
    struct stat out = {};
    return stat(QFile::encodeName(path).constData(), &named) == 0 && fstat(STDOUT_FILENO, &out) == 0
           && named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

bool checkNewFilePath(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        *error = existsText(path);
        return false;
    }
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir()) {
        *error = QStringLiteral("%1: no folder %2").arg(path, info.absolutePath());
        return false;
    }
    return true;
}

bool checkLogPath(const QString &path, QString *error)
{
    return path == QLatin1String("-") || isStreamFile(path) || checkNewFilePath(path, error);
}
