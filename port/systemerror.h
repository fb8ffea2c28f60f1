#ifndef SYSTEMERROR_H
#define SYSTEMERROR_H

#include <cerrno>
#include <cstring>

#include <QString>

// Why the system call that just failed failed; error is errno, read when
// the call is made.
inline QString systemReason(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// "what: reason" for the system call that just failed; subject fills what's
// %1. errno is read first: building the text allocates, which may change it.
inline QString systemError(const char *what, const QString &subject = QString())
{
    const int error = errno;
    QString text = QString::fromLatin1(what);
    if (!subject.isNull())
        text = text.arg(subject);
    return QStringLiteral("%1: %2").arg(text, systemReason(error));
}

#endif // SYSTEMERROR_H
