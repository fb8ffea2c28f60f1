#ifndef SERIALPORT_P_H
#define SERIALPORT_P_H

#include <QtGlobal>

#include "systemerror.h"

// Inside the port only: what SerialPort's files share.

inline constexpr qint64 kMs = 1000000;

#endif // SERIALPORT_P_H
