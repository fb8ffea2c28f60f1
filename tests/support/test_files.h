#ifndef TEST_FILES_H
#define TEST_FILES_H

// Files a test puts in place and reads back.
#include <sys/stat.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Written whole, then given the mode; false when either failed.
inline bool writeFile(const QString &path, const QByteArray &contents, mode_t mode = 0644)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    return chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// The same for a file named in a test's folder: its path.
inline QString fileIn(const QTemporaryDir &dir, const QString &name, const QByteArray &contents, mode_t mode = 0644)
{
    const QString path = dir.filePath(name);
    return writeFile(path, contents, mode) ? path : QString();
}

// What the file holds, or "(unreadable)".
inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

#endif // TEST_FILES_H
