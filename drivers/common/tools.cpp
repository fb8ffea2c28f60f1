#include "tools.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <signal.h>
#include <sys/types.h>

#include <QCoreApplication>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "communicatorcommand.h"
#include "lib_crc.h"
#include "tools_p.h"

namespace {

// Byte count of n elements of the given width, or -1 when it overflows.
int byteCount(int n, int width)
{
    if (n <= 0 || n > INT_MAX / width)
        return -1;
    return n * width;
}

// Reverses every complete group of `width` bytes; a partial tail stays.
void reverseGroups(char *p, int length, int width)
{
    for (int i = 0; i + width <= length; i += width)
        ReverseArray(p + i, width);
}

QByteArray padded(const QByteArray &a, int width)
{
    QByteArray out(a);
    const int rest = out.size() % width;
    if (rest != 0)
        out.append(width - rest, '\0');
    return out;
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

unsigned short setBit(unsigned short value, unsigned short bit) { return withBit(value, bit, true); }
unsigned char setBit(unsigned char value, unsigned short bit) { return withBit(value, bit, true); }
unsigned int setBit(unsigned int value, unsigned short bit) { return withBit(value, bit, true); }
unsigned short clearBit(unsigned short value, unsigned short bit) { return withBit(value, bit, false); }
unsigned char clearBit(unsigned char value, unsigned short bit) { return withBit(value, bit, false); }
unsigned int clearBit(unsigned int value, unsigned short bit) { return withBit(value, bit, false); }
bool getBit(unsigned short value, unsigned short bit) { return bitOf(value, bit); }
bool getBit(unsigned char value, unsigned short bit) { return bitOf(value, bit); }
bool getBit(unsigned int value, unsigned short bit) { return bitOf(value, bit); }

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

// ---- Fitting command data to its length ---------------------------------------

QByteArray To16bitsData(const QByteArray &a)
{
    return padded(a, 2);
}

QByteArray To32bitsData(const QByteArray &a)
{
    return padded(a, 4);
}

QByteArray To64bitsData(const QByteArray &a)
{
    return padded(a, 8);
}

int GetSafeDataLen(const CommunicatorCommand &cmd)
{
    const int count = cmd.count;
    if (count < 0)
        return 0;
    switch (cmd.dataType) {
    case CommunicatorCommand::Bit:
    case CommunicatorCommand::Bit2:
        return count / 8 + (count % 8 != 0 ? 1 : 0);
    case CommunicatorCommand::Byte:
    case CommunicatorCommand::Block:
        return count;
    case CommunicatorCommand::Word:
        return qMax(byteCount(count, 2), 0);
    case CommunicatorCommand::DoubleWord:
        return qMax(byteCount(count, 4), 0);
    case CommunicatorCommand::QuadWord:
        return qMax(byteCount(count, 8), 0);
    default:
        return 0;
    }
}

QByteArray ToSafeData(const CommunicatorCommand &cmd, const QByteArray &data)
{
    const int length = GetSafeDataLen(cmd);
    if (data.size() == length)
        return data;
    QByteArray out = data.left(length);
    out.append(length - out.size(), '\0');
    return out;
}

// ---- Timing and diagnostics ------------------------------------------------------

void HRSleep(unsigned long ms)
{
    timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

qint64 CurrentMSecsSinceBoot()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + qint64(now.tv_nsec) / 1000000;
}

bool ProcessIsRunning(long long pid)
{
    const pid_t id = static_cast<pid_t>(pid);
    if (id != pid || id <= 0)
        return false; // 0 and negatives would name process groups
    return kill(id, 0) == 0 || errno == EPERM;
}

QString bytesAsHexAndText(const QByteArray &a)
{
    // Written straight into one buffer: a package trace runs on every frame.
    static const char digits[] = "0123456789abcdef";
    const int hexLength = 1 + 5 * a.size();
    QString text;
    text.reserve(hexLength + 4 + a.size());
    text.resize(hexLength);
    QChar *out = text.data();
    *out++ = QLatin1Char('(');
    for (const char c : a) {
        const unsigned int value = static_cast<unsigned char>(c);
        *out++ = QLatin1Char('0');
        *out++ = QLatin1Char('X');
        if (value >= 16)
            *out++ = QLatin1Char(digits[value >> 4]);
        *out++ = QLatin1Char(digits[value & 15]);
        *out++ = QLatin1Char(' ');
    }
    text.truncate(int(out - text.constData()));
    // The text part ends at the first NUL, as a C string does.
    text += QLatin1String(") : ");
    text += QLatin1String(a.constData());
    return text;
}

QString dumpByteArray(const QByteArray &a)
{
    const QString text = bytesAsHexAndText(a);
    qDebug().nospace().noquote() << text;
    return text;
}

// ---- Format-driven packing ----------------------------------------------------

namespace {

enum class FormatStatus { Ok, BadCharacter, BadCount };

// One directive of a pack format: a letter with an optional count.
struct Directive
{
    char letter = 0;
    bool counted = false;
    int count = 0;

    bool isSkip() const { return letter == 'x' || letter == 'X'; }
    bool bigEndian() const { return letter == 'n' || letter == 'N'; }
    bool countable() const { return std::strchr("CcvnVNxX", letter) != nullptr; }
    int width() const
    {
        if (std::strchr("Ssvn", letter) != nullptr)
            return 2;
        return std::strchr("ILilVN", letter) != nullptr ? 4 : 1;
    }
};

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Reads the directive at fmt and moves fmt past it. A count is limited to
// the int range so that no length derived from it can wrap.
FormatStatus readDirective(const char *&fmt, Directive &d)
{
    d = Directive();
    if (isDigit(static_cast<unsigned char>(*fmt))) {
        qint64 count = 0;
        for (; isDigit(static_cast<unsigned char>(*fmt)); ++fmt) {
            count = count * 10 + (*fmt - '0');
            if (count > INT_MAX)
                return FormatStatus::BadCount;
        }
        d.counted = true;
        d.count = int(count);
        if (*fmt == '\0')
            return FormatStatus::BadCount;
    }
    const unsigned char c = static_cast<unsigned char>(*fmt);
    if (c == '\0' || c > 0x7F || std::strchr("CcSsvnILilVNxX", c) == nullptr)
        return FormatStatus::BadCharacter;
    d.letter = char(c);
    ++fmt;
    if (d.counted && !d.isSkip() && (!d.countable() || d.count == 0))
        return FormatStatus::BadCount;
    return FormatStatus::Ok;
}

// Bytes a directive covers, or -1 when that is not representable.
qint64 coveredBytes(const Directive &d)
{
    if (!d.counted)
        return d.width();
    return d.isSkip() ? d.count : qint64(d.count) * d.width();
}

quint32 nativeValue(const unsigned char *p, int width)
{
    quint16 v16;
    quint32 v32;
    if (width == 2) {
        std::memcpy(&v16, p, 2);
        return v16;
    }
    std::memcpy(&v32, p, 4);
    return v32;
}

// Stores exactly width bytes: an uncounted C or c unpacks into one unsigned
// char, and the bytes after it belong to the caller.
void storeNative(unsigned char *p, quint32 value, int width)
{
    const quint16 v16 = quint16(value);
    if (width == 1)
        *p = static_cast<unsigned char>(value);
    else if (width == 2)
        std::memcpy(p, &v16, 2);
    else
        std::memcpy(p, &value, 4);
}

void putOrdered(unsigned char *p, quint32 value, int width, bool bigEndian)
{
    for (int i = 0; i < width; ++i)
        p[bigEndian ? width - 1 - i : i] = static_cast<unsigned char>(value >> (8 * i));
}

quint32 getOrdered(const unsigned char *p, int width, bool bigEndian)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value |= quint32(p[bigEndian ? width - 1 - i : i]) << (8 * i);
    return value;
}

// Where packed bytes go: a caller's buffer (skips leave bytes alone) or a
// growing array (skips are refused or written as zeros).
class PackTarget
{
public:
    explicit PackTarget(unsigned char *buffer) : m_buffer(buffer) {}
    explicit PackTarget(QByteArray *array) : m_array(array) {}

    bool growable() const { return m_array != nullptr; }
    int position() const { return int(m_position); }
    bool fits(qint64 n) const { return m_position + n <= INT_MAX; }

    // Room for n more bytes, valid until the next call.
    unsigned char *take(qint64 n)
    {
        unsigned char *p;
        if (m_array) {
            m_array->resize(int(m_position + n));
            p = reinterpret_cast<unsigned char *>(m_array->data()) + m_position;
        } else {
            p = m_buffer + m_position;
        }
        m_position += n;
        return p;
    }
    void skip(qint64 n) { m_position += n; }

private:
    unsigned char *m_buffer = nullptr;
    QByteArray *m_array = nullptr;
    qint64 m_position = 0;
};

FormatStatus packDirective(PackTarget &target, const Directive &d, va_list *ap)
{
    if (d.counted && d.isSkip() && target.growable())
        return FormatStatus::BadCount;
    const qint64 length = coveredBytes(d);
    if (!target.fits(length))
        return FormatStatus::BadCount;
    if (d.isSkip()) {
        if (d.letter == 'X' && !target.growable())
            target.skip(length);
        else
            std::memset(target.take(length), 0, size_t(length));
        return FormatStatus::Ok;
    }
    const int width = d.width();
    if (!d.counted) {
        putOrdered(target.take(width), quint32(va_arg(*ap, int)), width, d.bigEndian());
        return FormatStatus::Ok;
    }
    const unsigned char *source = va_arg(*ap, const unsigned char *);
    if (source == nullptr)
        return FormatStatus::BadCount;
    unsigned char *p = target.take(length);
    if (!d.bigEndian()) {
        std::memcpy(p, source, size_t(length));
        return FormatStatus::Ok;
    }
    for (qint64 i = 0; i < length; i += width)
        putOrdered(p + i, nativeValue(source + i, width), width, true);
    return FormatStatus::Ok;
}

FormatStatus packFormat(PackTarget &target, const char *fmt, va_list ap)
{
    va_list args;
    va_copy(args, ap);
    FormatStatus status = FormatStatus::Ok;
    Directive d;
    while (fmt != nullptr && *fmt != '\0' && status == FormatStatus::Ok) {
        status = readDirective(fmt, d);
        if (status == FormatStatus::Ok)
            status = packDirective(target, d, &args);
    }
    va_end(args);
    return status;
}

FormatStatus unpackDirective(const unsigned char *in, qint64 &position, const Directive &d,
                             va_list *ap)
{
    const qint64 length = coveredBytes(d);
    if (position + length > INT_MAX)
        return FormatStatus::BadCount;
    const unsigned char *p = in + position;
    if (d.isSkip()) {
        position += length;
        return FormatStatus::Ok;
    }
    unsigned char *out = va_arg(*ap, unsigned char *);
    if (out == nullptr)
        return FormatStatus::BadCount;
    const int width = d.width();
    if (!d.counted)
        storeNative(out, getOrdered(p, width, d.bigEndian()), width);
    else if (!d.bigEndian())
        std::memcpy(out, p, size_t(length));
    else
        for (qint64 i = 0; i < length; i += width)
            storeNative(out + i, getOrdered(p + i, width, true), width);
    position += length;
    return FormatStatus::Ok;
}

} // namespace

int VDataPack(unsigned char *out, const char *fmt, va_list ap)
{
    if (out == nullptr)
        return -1;
    PackTarget target(out);
    switch (packFormat(target, fmt, ap)) {
    case FormatStatus::Ok:
        return target.position();
    case FormatStatus::BadCharacter:
        return 0;
    default:
        return -1;
    }
}

int DataPack(unsigned char *out, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int result = VDataPack(out, fmt, ap);
    va_end(ap);
    return result;
}

QByteArray VByteArrayPack(const char *fmt, va_list ap)
{
    QByteArray bytes;
    PackTarget target(&bytes);
    if (packFormat(target, fmt, ap) != FormatStatus::Ok)
        return QByteArray();
    return bytes;
}

QByteArray ByteArrayPack(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const QByteArray result = VByteArrayPack(fmt, ap);
    va_end(ap);
    return result;
}

int VDataUnpack(const unsigned char *in, const char *fmt, va_list ap)
{
    if (in == nullptr)
        return -1;
    va_list args;
    va_copy(args, ap);
    qint64 position = 0;
    FormatStatus status = FormatStatus::Ok;
    Directive d;
    while (fmt != nullptr && *fmt != '\0' && status == FormatStatus::Ok) {
        status = readDirective(fmt, d);
        if (status == FormatStatus::Ok)
            status = unpackDirective(in, position, d, &args);
    }
    va_end(args);
    return status == FormatStatus::Ok ? int(position) : -1;
}

int DataUnpack(const unsigned char *in, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int result = VDataUnpack(in, fmt, ap);
    va_end(ap);
    return result;
}

unsigned int HexToUInt(const char *s, int len)
{
    if (s == nullptr || len <= 0)
        return 0;
    if (*s == '0') {
        ++s;
        if (--len == 0)
            return 0;
        if (*s == 'x' || *s == 'X') {
            ++s;
            if (--len == 0)
                return 0;
        }
    }
    quint32 value = 0;
    for (; len > 0 && *s != '\0'; --len, ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        int digit;
        if (isDigit(c))
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return 0;
        value = (value << 4) | quint32(digit);
    }
    return value;
}

// ---- PLC address and command helpers --------------------------------------------

bool isBitCommand(const CommunicatorCommand &cmd) { return cmd.dataType == CommunicatorCommand::Bit; }
bool isByteCommand(const CommunicatorCommand &cmd) { return cmd.dataType == CommunicatorCommand::Byte; }
bool isWordCommand(const CommunicatorCommand &cmd) { return cmd.dataType == CommunicatorCommand::Word; }
bool isDoubleWordCommand(const CommunicatorCommand &cmd) { return cmd.dataType == CommunicatorCommand::DoubleWord; }
bool isBlockCommand(const CommunicatorCommand &cmd) { return cmd.dataType == CommunicatorCommand::Block; }

bool getBitData(const QByteArray &data)
{
    return !data.isEmpty() && (data.at(0) & 1) != 0;
}

QByteArray ExtractPrefixSymbol(const QByteArray &address)
{
    int i = 0;
    for (; i < address.size(); ++i) {
        const char c = address.at(i);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'))
            break;
    }
    return address.left(i);
}

QByteArray ExtractPrefixSymbol(const QString &address)
{
    return ExtractPrefixSymbol(address.toLatin1());
}

int ExtractPLCDeviceAddress(const QByteArray &address, int base)
{
    if (base != 8 && base != 10 && base != 16)
        return -1;
    const auto isBaseDigit = [base](char c) {
        if (base == 16)
            return isDigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')
                   || (c >= 'a' && c <= 'f');
        return c >= '0' && c < '0' + base;
    };
    int i = 0;
    while (i < address.size() && !isBaseDigit(address.at(i)))
        ++i;
    return address.mid(i).toInt(nullptr, base);
}

int ExtractPLCDeviceAddress(const QString &address, int base)
{
    return ExtractPLCDeviceAddress(address.toLatin1(), base);
}

void appendBigEndianUShort(QByteArray &a, unsigned short v)
{
    a.append(char(v >> 8));
    a.append(char(v & 0xFF));
}

// ---- Project database lookups ------------------------------------------------------

static const QString COMPILE_PATH = QStringLiteral("compile");
static const QString DATABASE_PATH = QStringLiteral("database");

QDir GetCompilePath()
{
    QDir dir(QCoreApplication::applicationDirPath());
    if (dir.exists(COMPILE_PATH))
        dir.cd(COMPILE_PATH);
    return dir;
}

QString GetDatabaseName()
{
    QDir dir = GetCompilePath();
    if (dir.exists(DATABASE_PATH))
        dir.cd(DATABASE_PATH);
    return dir.absoluteFilePath(DATABASE_PATH);
}

int DevStrToHmiPort(const QString &dev_str)
{
    if (dev_str.startsWith(QLatin1String("ETHERNET"), Qt::CaseInsensitive))
        return 2000;
    int i = dev_str.size() - 1;
    while (i >= 0 && dev_str.at(i).unicode() >= '0' && dev_str.at(i).unicode() <= '9')
        --i;
    if (i < 0 || i + 1 >= dev_str.size())
        return DEV_STR_INVALID_PORT;
    return dev_str.mid(i + 1).toInt() + 1001;
}

namespace {

// Runs a lookup on the runtime's named connection and hands each row to
// readRow until it returns false. A connection that cannot be opened or a
// failing query reads no row.
template <typename RowReader>
void forEachRow(const QString &connection, const QString &text, const QVariantList &values,
                RowReader readRow)
{
    if (!QSqlDatabase::contains(connection))
        return;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.isOpen() && !db.open())
        return;
    QSqlQuery query(db);
    if (!query.prepare(text))
        return;
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        return;
    while (query.next() && readRow(query)) {
    }
}

} // namespace

bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, int &linkId,
                                  unsigned char &stationId)
{
    bool found = false;
    forEachRow(connection,
               QStringLiteral("SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE "
                              "LINK.HMIPORT = %1 AND NODE.LINKID = LINK.LINKID AND "
                              "NODE.ISDEFAULT = 1;").arg(hmiPort),
               {}, [&](const QSqlQuery &row) {
                   linkId = row.value(0).toInt();
                   stationId = static_cast<unsigned char>(row.value(1).toUInt() & 0xFF);
                   found = true;
                   return false;
               });
    return found;
}

bool GetLinkIdAndDefaultStationId(const QString &connection, int linkId,
                                  QList<LinkIdStationId> &list)
{
    forEachRow(connection,
               QStringLiteral("SELECT NODE.STATIONID FROM NODE WHERE NODE.LINKID = %1 AND "
                              "NODE.ISDEFAULT = 1").arg(linkId),
               {}, [&](const QSqlQuery &row) {
                   list.append({linkId, qint32(row.value(0).toUInt())});
                   return true;
               });
    return !list.isEmpty();
}

bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, const QString &ip,
                                  unsigned short port, QList<LinkIdStationId> &list)
{
    // The address text is bound, never spliced into the statement.
    forEachRow(connection,
               QStringLiteral("SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE "
                              "LINK.HMIPORT = %1 AND NODE.LINKID = LINK.LINKID AND "
                              "NODE.IP = ? AND NODE.PORT = %2 AND NODE.ISDEFAULT = 1;")
                   .arg(hmiPort)
                   .arg(port),
               {ip}, [&](const QSqlQuery &row) {
                   list.append({row.value(0).toInt(), qint32(row.value(1).toUInt())});
                   return true;
               });
    return !list.isEmpty();
}

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
