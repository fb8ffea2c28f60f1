#include "tools.h"

#include <climits>
#include <cstring>

#include "tools_p.h"

using ToolsPrivate::byteCount;
using ToolsPrivate::padded;

namespace {

// Reverses every complete group of `width` bytes; a partial tail stays.
void reverseGroups(char *p, int length, int width)
{
    for (int i = 0; i + width <= length; i += width)
        ReverseArray(p + i, width);
}

unsigned int roundedUp(quint64 value, unsigned int unit)
{
    return static_cast<unsigned int>((value + unit - 1) / unit);
}

template <typename T>
T withBit(T value, unsigned short bit, bool on)
{
    if (bit >= sizeof(T) * 8)
        return value;
    const T mask = static_cast<T>(T(1) << bit);
    return static_cast<T>(on ? (value | mask) : (value & ~mask));
}

template <typename T>
bool bitOf(T value, unsigned short bit)
{
    return bit < sizeof(T) * 8 && ((value >> bit) & 1u) != 0;
}

bool bitInside(const QByteArray &a, qint64 i)
{
    return i >= 0 && i < qint64(a.size()) * 8;
}

} // namespace

// ---- Byte order ---------------------------------------------------------

bool isBigEndian()
{
    return Q_BYTE_ORDER == Q_BIG_ENDIAN;
}

QByteArray toBigEndianUShortArray(const QByteArray &a)
{
    QByteArray out = padded(a, 2);
    reverseGroups(out.data(), out.size(), 2);
    return out;
}

QByteArray toBigEndianULongArray(const QByteArray &a)
{
    QByteArray out = padded(a, 4);
    reverseGroups(out.data(), out.size(), 4);
    return out;
}

static QByteArray fromBigEndian(const unsigned char *p, int n, int width)
{
    const int length = byteCount(n, width);
    if (length < 0 || p == nullptr)
        return QByteArray();
    QByteArray out(reinterpret_cast<const char *>(p), length);
    reverseGroups(out.data(), length, width);
    return out;
}

QByteArray fromBigEndianUShortArray(const unsigned char *p, int n)
{
    return fromBigEndian(p, n, 2);
}

QByteArray fromBigEndianULongArray(const unsigned char *p, int n)
{
    return fromBigEndian(p, n, 4);
}

void toLittleEndianUShortArray(QByteArray &a)
{
    reverseGroups(a.data(), a.size(), 2);
}

void toLittleEndianULongArray(QByteArray &a)
{
    reverseGroups(a.data(), a.size(), 4);
}

QByteArray reverseArray(const QByteArray &a)
{
    QByteArray out(a);
    ReverseArray(out.data(), out.size());
    return out;
}

template <typename T>
void ReverseArray(T *p, int n)
{
    if (p == nullptr)
        return;
    for (int i = 0, j = n - 1; i < j; ++i, --j)
        qSwap(p[i], p[j]);
}

template <typename T>
void RotateArray(T *p, int k, int m)
{
    if (p == nullptr || k < 0 || m < 0 || k > INT_MAX - m)
        return;
    ReverseArray(p, k);
    ReverseArray(p + k, m);
    ReverseArray(p, k + m);
}

template TOOLKIT_EXPORT void ReverseArray<char>(char *, int);
template TOOLKIT_EXPORT void ReverseArray<unsigned char>(unsigned char *, int);
template TOOLKIT_EXPORT void RotateArray<unsigned char>(unsigned char *, int, int);

// ---- Counts ----------------------------------------------------------------

unsigned int NumOfBitsToNumOfWords(unsigned int startBit, unsigned int count)
{
    return roundedUp(quint64(startBit) + count, 16);
}

unsigned int NumOfBitsToNumOfDWords(unsigned int startBit, unsigned int count)
{
    return roundedUp(quint64(startBit) + count, 32);
}

unsigned int NumOfBitsToNumOfBytes(unsigned int startBit, unsigned int count)
{
    return roundedUp(quint64(startBit) + count, 8);
}

unsigned int NumOfBytesToNumOfWords(unsigned int n)
{
    return roundedUp(n, 2);
}

unsigned int NumOfBytesToNumOfDWords(unsigned int n)
{
    return roundedUp(n, 4);
}

unsigned int NumOfBytesToNumOfQuadWords(unsigned int n)
{
    return roundedUp(n, 8);
}

// ---- Bit arrays ------------------------------------------------------------

void FitBitArray(QByteArray &a, int count)
{
    if (count < 0)
        return;
    const int oldSize = a.size();
    const int newSize = count / 8 + (count % 8 != 0 ? 1 : 0);
    a.resize(newSize);
    if (newSize > oldSize)
        std::memset(a.data() + oldSize, 0, size_t(newSize - oldSize));
}

void clearUnnecessaryBits(QByteArray &a, int count)
{
    const int kept = count % 8;
    if (count < 0 || kept == 0 || count / 8 >= a.size())
        return;
    a[count / 8] = char(static_cast<unsigned char>(a.at(count / 8)) & ((1u << kept) - 1));
}

void RightShiftNBits(QByteArray &a, int n)
{
    const int length = a.size();
    if (n <= 0 || qint64(n) >= qint64(length) * 8)
        return;
    unsigned char *p = reinterpret_cast<unsigned char *>(a.data()); // detaches
    int m = length;
    if (n >= 8) {
        m = length - n / 8;
        RotateArray(p, n / 8, m);
    }
    const int r = n % 8;
    if (r == 0)
        return;
    p[0] = static_cast<unsigned char>(p[0] >> r);
    for (int i = 1; i < m; ++i) {
        p[i - 1] = static_cast<unsigned char>(p[i - 1] | ((p[i] << (8 - r)) & 0xFF));
        p[i] = static_cast<unsigned char>(p[i] >> r);
    }
}

bool getBit(const QByteArray &a, int i)
{
    return bitInside(a, i) && getBit(reinterpret_cast<const unsigned char *>(a.constData()), i);
}

bool getBit(const unsigned char *p, int i)
{
    return p != nullptr && i >= 0 && ((p[i / 8] >> (i % 8)) & 1u) != 0;
}

void setBit(QByteArray &a, int i, bool on)
{
    if (bitInside(a, i))
        setBit(reinterpret_cast<unsigned char *>(a.data()), i, on);
}

void setBit(unsigned char *p, int i, bool on)
{
    if (p != nullptr && i >= 0)
        p[i / 8] = withBit(p[i / 8], static_cast<unsigned short>(i % 8), on);
}

void CopyBits(QByteArray &dst, QByteArray &src, int dstStart, int count)
{
    for (int i = 0; i < count; ++i) {
        const qint64 to = qint64(dstStart) + i;
        if (bitInside(src, i) && bitInside(dst, to))
            setBit(dst, int(to), getBit(src, i));
    }
}

QByteArray ExpandBitsToBytes(const QByteArray &bits, unsigned short start, int count)
{
    if (count <= 0 || qint64(start) + count > qint64(bits.size()) * 8)
        return QByteArray();
    QByteArray out(count, '\0');
    for (int j = 0; j < count; ++j)
        out[j] = getBit(bits, start + j) ? 1 : 0;
    return out;
}

// ---- Bits in scalars --------------------------------------------------------

unsigned short setBit(unsigned short value, unsigned short bit)
{
    return withBit(value, bit, true);
}
unsigned char setBit(unsigned char value, unsigned short bit)
{
    return withBit(value, bit, true);
}
unsigned int setBit(unsigned int value, unsigned short bit)
{
    return withBit(value, bit, true);
}
unsigned short clearBit(unsigned short value, unsigned short bit)
{
    return withBit(value, bit, false);
}
unsigned char clearBit(unsigned char value, unsigned short bit)
{
    return withBit(value, bit, false);
}
unsigned int clearBit(unsigned int value, unsigned short bit)
{
    return withBit(value, bit, false);
}
bool getBit(unsigned short value, unsigned short bit)
{
    return bitOf(value, bit);
}
bool getBit(unsigned char value, unsigned short bit)
{
    return bitOf(value, bit);
}
bool getBit(unsigned int value, unsigned short bit)
{
    return bitOf(value, bit);
}

// ---- Scalars in little-endian arrays ----------------------------------------

static quint32 littleEndianValue(const QByteArray &a, int width)
{
    quint32 value = 0;
    for (int i = qMin(a.size(), width) - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(a.at(i));
    return value;
}

static QByteArray littleEndianBytes(quint32 value, int width)
{
    QByteArray out(width, '\0');
    for (int i = 0; i < width; ++i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

int QByteArrayToInt(const QByteArray &a)
{
    return static_cast<int>(littleEndianValue(a, 4));
}

unsigned short QByteArrayToWord(const QByteArray &a)
{
    return static_cast<unsigned short>(littleEndianValue(a, 2));
}

short QByteArrayToShort(const QByteArray &a)
{
    return static_cast<short>(littleEndianValue(a, 2));
}

QByteArray wordToByteArray(unsigned short v)
{
    return littleEndianBytes(v, 2);
}

QByteArray shortToByteArray(short v)
{
    return littleEndianBytes(static_cast<unsigned short>(v), 2);
}

QByteArray intToByteArray(int v)
{
    return littleEndianBytes(static_cast<quint32>(v), 4);
}
