#include "rtulength.h"

#include <QtGlobal>

namespace {

const int kSingleRequestLength = 8;     // station, function, address, value, CRC
const int kMultipleRequestOverhead = 9; // and quantity, byte count
const int kExceptionLength = 5;
const int kWriteAnswerLength = 8;
const int kReadAnswerOverhead = 5; // station, function, byte count, CRC

bool isRead(quint8 function)
{
    return function >= 1 && function <= 4;
}
bool isSingleWrite(quint8 function)
{
    return function == 5 || function == 6;
}
bool isMultipleWrite(quint8 function)
{
    return function == 15 || function == 16;
}

} // namespace

int rtuRequestLength(const char *data, int size)
{
    if (size < 2)
        return -1;
    const quint8 function = quint8(data[1]);
    if (isRead(function) || isSingleWrite(function))
        return kSingleRequestLength;
    if (isMultipleWrite(function))
        return size < 7 ? -1 : kMultipleRequestOverhead + quint8(data[6]);
    return 0;
}

int rtuAnswerLength(const char *data, int size)
{
    if (size < 2)
        return -1;
    const quint8 function = quint8(data[1]);
    if (function & 0x80)
        return kExceptionLength;
    if (isRead(function))
        return size < 3 ? -1 : kReadAnswerOverhead + quint8(data[2]);
    if (isSingleWrite(function) || isMultipleWrite(function))
        return kWriteAnswerLength;
    return 0;
}

int rtuAnswerLengthFor(const char *data, int size)
{
    const int length = rtuRequestLength(data, size);
    if (length <= 0 || length != size)
        return 0;
    const quint8 function = quint8(data[1]);
    if (!isRead(function))
        return kWriteAnswerLength;
    const int quantity = quint8(data[4]) << 8 | quint8(data[5]);
    const int byteCount = function <= 2 ? (quantity + 7) / 8 : 2 * quantity;
    return byteCount <= 255 ? kReadAnswerOverhead + byteCount : 0;
}
