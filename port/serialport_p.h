#ifndef SERIALPORT_P_H
#define SERIALPORT_P_H

#include <cerrno>
#include <cstring>

#include <QString>

// Inside the port only: what SerialPort's files share.

inline constexpr qint64 kMs = 1000000;

inline QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno)));
}

#endif // SERIALPORT_P_H
