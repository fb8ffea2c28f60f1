#ifndef TOOLS_H
#define TOOLS_H

#include <cstdarg>

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>

#include "toolkit_global.h"

struct CommunicatorCommand;

// ---- Byte order ---------------------------------------------------------
// Host arrays hold 16- and 32-bit values lowest byte first. The toBigEndian
// and fromBigEndian converters swap unconditionally, whatever the host.
// fromBigEndian: n <= 0, or n so large that the byte count overflows an int,
// gives an empty array and reads nothing. toLittleEndian: a trailing partial
// pair or group is left as it is.

// True when the host stores the most significant byte first.
TOOLKIT_EXPORT bool isBigEndian();
TOOLKIT_EXPORT QByteArray toBigEndianUShortArray(const QByteArray &a);
TOOLKIT_EXPORT QByteArray toBigEndianULongArray(const QByteArray &a);
TOOLKIT_EXPORT QByteArray fromBigEndianUShortArray(const unsigned char *p, int n);
TOOLKIT_EXPORT QByteArray fromBigEndianULongArray(const unsigned char *p, int n);
TOOLKIT_EXPORT void toLittleEndianUShortArray(QByteArray &a);
TOOLKIT_EXPORT void toLittleEndianULongArray(QByteArray &a);
TOOLKIT_EXPORT QByteArray reverseArray(const QByteArray &a);

// ReverseArray: n <= 1 or a null pointer changes nothing. RotateArray moves
// the m elements from k to the front, then the first k; a negative k or m or
// a null pointer changes nothing.
template <typename T>
TOOLKIT_EXPORT void ReverseArray(T *p, int n);
template <typename T>
TOOLKIT_EXPORT void RotateArray(T *p, int k, int m);

extern template TOOLKIT_EXPORT void ReverseArray<char>(char *, int);
extern template TOOLKIT_EXPORT void ReverseArray<unsigned char>(unsigned char *, int);
extern template TOOLKIT_EXPORT void RotateArray<unsigned char>(unsigned char *, int, int);

// ---- Counts (each rounds up, computed without wrapping) -------------------
TOOLKIT_EXPORT unsigned int NumOfBitsToNumOfWords(unsigned int startBit, unsigned int count);
TOOLKIT_EXPORT unsigned int NumOfBitsToNumOfDWords(unsigned int startBit, unsigned int count);
TOOLKIT_EXPORT unsigned int NumOfBitsToNumOfBytes(unsigned int startBit, unsigned int count);
TOOLKIT_EXPORT unsigned int NumOfBytesToNumOfWords(unsigned int n);
TOOLKIT_EXPORT unsigned int NumOfBytesToNumOfDWords(unsigned int n);
TOOLKIT_EXPORT unsigned int NumOfBytesToNumOfQuadWords(unsigned int n);

// ---- Bit arrays: bit i is bit (i mod 8) of byte i / 8 -------------------
// Out-of-range input touches nothing:
// - FitBitArray: a negative count is a no-op; bytes added when growing are 0.
// - clearUnnecessaryBits: a negative count, or one whose last byte lies past
//   the array, is a no-op.
// - RightShiftNBits: n <= 0 or n >= 8 * length is a no-op.
// - getBit on a bit outside the array is false; setBit there is a no-op.
//   The pointer overloads cannot see the end: they only refuse i < 0.
// - CopyBits skips every bit whose source or destination lies outside.
// - ExpandBitsToBytes gives an empty array when count <= 0 or the range
//   runs past the end of bits.
TOOLKIT_EXPORT void FitBitArray(QByteArray &a, int count);
TOOLKIT_EXPORT void clearUnnecessaryBits(QByteArray &a, int count);
TOOLKIT_EXPORT void RightShiftNBits(QByteArray &a, int n);
TOOLKIT_EXPORT bool getBit(const QByteArray &a, int i);
TOOLKIT_EXPORT bool getBit(const unsigned char *p, int i);
TOOLKIT_EXPORT void setBit(QByteArray &a, int i, bool on);
TOOLKIT_EXPORT void setBit(unsigned char *p, int i, bool on);
TOOLKIT_EXPORT void CopyBits(QByteArray &dst, QByteArray &src, int dstStart, int count);
TOOLKIT_EXPORT QByteArray ExpandBitsToBytes(const QByteArray &bits, unsigned short start, int count);

// ---- Bits in scalars: a bit number past the type's width has no effect --
TOOLKIT_EXPORT unsigned short setBit(unsigned short value, unsigned short bit);
TOOLKIT_EXPORT unsigned char setBit(unsigned char value, unsigned short bit);
TOOLKIT_EXPORT unsigned int setBit(unsigned int value, unsigned short bit);
TOOLKIT_EXPORT unsigned short clearBit(unsigned short value, unsigned short bit);
TOOLKIT_EXPORT unsigned char clearBit(unsigned char value, unsigned short bit);
TOOLKIT_EXPORT unsigned int clearBit(unsigned int value, unsigned short bit);
TOOLKIT_EXPORT bool getBit(unsigned short value, unsigned short bit);
TOOLKIT_EXPORT bool getBit(unsigned char value, unsigned short bit);
TOOLKIT_EXPORT bool getBit(unsigned int value, unsigned short bit);

// ---- Scalars in little-endian arrays --------------------------------------
TOOLKIT_EXPORT int QByteArrayToInt(const QByteArray &a);
TOOLKIT_EXPORT unsigned short QByteArrayToWord(const QByteArray &a);
TOOLKIT_EXPORT short QByteArrayToShort(const QByteArray &a);
TOOLKIT_EXPORT QByteArray wordToByteArray(unsigned short v);
TOOLKIT_EXPORT QByteArray shortToByteArray(short v);
TOOLKIT_EXPORT QByteArray intToByteArray(int v);

// ---- Fitting command data to its length ----------------------------------
// GetSafeDataLen is 0 for a negative count, an unknown data type, or a
// length that does not fit in an int.
TOOLKIT_EXPORT QByteArray To16bitsData(const QByteArray &a);
TOOLKIT_EXPORT QByteArray To32bitsData(const QByteArray &a);
TOOLKIT_EXPORT QByteArray To64bitsData(const QByteArray &a);
TOOLKIT_EXPORT int GetSafeDataLen(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT QByteArray ToSafeData(const CommunicatorCommand &cmd, const QByteArray &data);

// ---- Format-driven packing ---------------------------------------------
// A format is a string of directives, each a letter of "CcSsvnILilVNxX" with
// an optional decimal count. Errors: an unknown character makes VDataPack
// return 0; a count before S, s, I, L, i, l, a count at the end, a count of
// 0 before C, c, v, n, V, N, a count or running length beyond the int range,
// or a null buffer or array pointer make it return -1. VByteArrayPack gives a
// null array on any of these and also refuses counted x and X; VDataUnpack
// returns -1 on any of them. Each directive is checked before it touches
// memory, so what the valid directives before an error did stays and nothing
// further is read or written.
TOOLKIT_EXPORT int VDataPack(unsigned char *out, const char *fmt, va_list ap);
TOOLKIT_EXPORT int DataPack(unsigned char *out, const char *fmt, ...);
TOOLKIT_EXPORT QByteArray VByteArrayPack(const char *fmt, va_list ap);
TOOLKIT_EXPORT QByteArray ByteArrayPack(const char *fmt, ...);
TOOLKIT_EXPORT int VDataUnpack(const unsigned char *in, const char *fmt, va_list ap);
TOOLKIT_EXPORT int DataUnpack(const unsigned char *in, const char *fmt, ...);
// Up to len hexadecimal digits after an optional 0x; the last eight count.
// Any other character, a null s or len <= 0 gives 0.
TOOLKIT_EXPORT unsigned int HexToUInt(const char *s, int len);

// ---- PLC address and command helpers ------------------------------------
TOOLKIT_EXPORT bool isBitCommand(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT bool isByteCommand(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT bool isWordCommand(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT bool isDoubleWordCommand(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT bool isBlockCommand(const CommunicatorCommand &cmd);
TOOLKIT_EXPORT bool getBitData(const QByteArray &data);
TOOLKIT_EXPORT QByteArray ExtractPrefixSymbol(const QByteArray &address);
TOOLKIT_EXPORT QByteArray ExtractPrefixSymbol(const QString &address);
TOOLKIT_EXPORT int ExtractPLCDeviceAddress(const QByteArray &address, int base);
TOOLKIT_EXPORT int ExtractPLCDeviceAddress(const QString &address, int base);
TOOLKIT_EXPORT void appendBigEndianUShort(QByteArray &a, unsigned short v);

// ---- Project database lookups -------------------------------------------
// The lookups use the runtime's named QtSql connection, opening it when it
// is not open yet. An unknown connection, one that cannot be opened, or a
// failing query reads no row. The IP text is bound as a query value.
struct LinkIdStationId
{
    qint32 linkId;
    qint32 defaultStationId;
};

// The application's directory (there must be a QCoreApplication), or its
// "compile" subdirectory when that exists.
TOOLKIT_EXPORT QDir GetCompilePath();
TOOLKIT_EXPORT QString GetDatabaseName();
// HMI port number of a port name: 2000 for Ethernet, trailing number + 1001
// for serial ports. A name without both a prefix and trailing digits (empty,
// no digits, digits only) gives DEV_STR_INVALID_PORT.
enum { DEV_STR_INVALID_PORT = -1 };
TOOLKIT_EXPORT int DevStrToHmiPort(const QString &dev_str);
TOOLKIT_EXPORT bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, int &linkId, unsigned char &stationId);
TOOLKIT_EXPORT bool GetLinkIdAndDefaultStationId(const QString &connection, int linkId, QList<LinkIdStationId> &list);
TOOLKIT_EXPORT bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, const QString &ip,
                                                 unsigned short port, QList<LinkIdStationId> &list);

// ---- Timing and diagnostics ----------------------------------------------
// Sleeps the full time, resuming after signals; any other failure of the
// system call ends the sleep early, silently.
TOOLKIT_EXPORT void HRSleep(unsigned long ms);
TOOLKIT_EXPORT qint64 CurrentMSecsSinceBoot();
// False for ids of 0 or less (they would name process groups) and for ids
// that do not fit the platform's process-id type.
TOOLKIT_EXPORT bool ProcessIsRunning(long long pid);
// "(0X41 0Xa ) : " and the bytes up to the first zero as Latin-1 text; the
// text is also sent as one debug message.
TOOLKIT_EXPORT QString dumpByteArray(const QByteArray &a);

// ---- Block checksums -------------------------------------------------------
// A length of 0 or less gives 0 and reads nothing.
TOOLKIT_EXPORT unsigned char UInt8CheckSum(const unsigned char *data, int length);
TOOLKIT_EXPORT unsigned short UShortCheckSum(const unsigned char *data, int length);
TOOLKIT_EXPORT unsigned char XorUInt8CheckSum(const unsigned char *data, int length);
// CRC-16/ARC (polynomial 0x8005 reflected, start value 0; "123456789" gives
// 0xBB3D), not the Modbus RTU CRC, which starts at 0xFFFF: a frame's CRC is
// update_crc_16 folded from 0xFFFF, low byte sent first.
TOOLKIT_EXPORT unsigned short CRC16Calculate(const unsigned char *data, int length);

#endif // TOOLS_H
