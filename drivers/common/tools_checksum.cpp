#include "tools.h"

#include "lib_crc.h"

// ---- Block checksums ------------------------------------------------------------------

unsigned char UInt8CheckSum(const unsigned char *data, int length)
{
    return static_cast<unsigned char>(UShortCheckSum(data, length));
}

unsigned short UShortCheckSum(const unsigned char *data, int length)
{
    unsigned short sum = 0;
    for (int i = 0; data != nullptr && i < length; ++i)
        sum = static_cast<unsigned short>(sum + data[i]);
    return sum;
}

unsigned char XorUInt8CheckSum(const unsigned char *data, int length)
{
    unsigned char sum = 0;
    for (int i = 0; data != nullptr && i < length; ++i)
        sum ^= data[i];
    return sum;
}

unsigned short CRC16Calculate(const unsigned char *data, int length)
{
    unsigned short crc = 0;
    for (int i = 0; data != nullptr && i < length; ++i)
        crc = update_crc_16(crc, static_cast<char>(data[i]));
    return crc;
}
