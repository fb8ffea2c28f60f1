#include "tools.h"

#include <climits>
#include <cstring>

#include "tools_p.h"

using ToolsPrivate::isDigit;

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

FormatStatus unpackDirective(const unsigned char *in, qint64 &position, const Directive &d, va_list *ap)
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
