#ifndef LIB_CRC_H
#define LIB_CRC_H

#include "toolkit_global.h"

// Byte-at-a-time CRC updaters. The caller owns the running value, its start
// value and any final complement. Exported unmangled for drivers in C.
extern "C" {
TOOLKIT_EXPORT unsigned short update_crc_16(unsigned short crc, char c);
TOOLKIT_EXPORT unsigned short update_crc_kermit(unsigned short crc, char c);
TOOLKIT_EXPORT unsigned short update_crc_dnp(unsigned short crc, char c);
TOOLKIT_EXPORT unsigned short update_crc_ccitt(unsigned short crc, char c);
TOOLKIT_EXPORT unsigned int update_crc_32(unsigned int crc, char c);
TOOLKIT_EXPORT unsigned short update_crc_sick(unsigned short crc, char c, char prev);
}

#endif // LIB_CRC_H
