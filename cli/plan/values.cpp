#include "values.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "communicatorcommand.h"

namespace {

const DataType kTypes[] = {
    {CommunicatorCommand::Bit, "bit", 1, "bits", nullptr},
    {CommunicatorCommand::Byte, "byte", 8, "bytes", nullptr},
    {CommunicatorCommand::Word, "word", 16, "words", nullptr},
    {CommunicatorCommand::DoubleWord, "dword", 32, "dwords", nullptr},
    {CommunicatorCommand::QuadWord, "qword", 64, "qwords", "the driver serves no 64-bit items"},
    {CommunicatorCommand::Block, "block", 8, "bytes", nullptr},
    {CommunicatorCommand::Bit2, "bit2", 1, "bits", nullptr},
};

const struct
{
    const char *name;
    ValueFormat format;
    int bits; // the only item width it goes with; 0: any
} kFormats[] = {
    {"dec", ValueFormat::Decimal, 0}, {"hex", ValueFormat::Hex, 0},      {"signed", ValueFormat::Signed, 0},
    {"bits", ValueFormat::Bits, 0},   {"int32", ValueFormat::Int32, 32}, {"float", ValueFormat::Float, 32},
};

quint64 widthMask(int bits)
{
    return bits >= 64 ? ~quint64(0) : (quint64(1) << bits) - 1;
}

bool isDigitOf(QChar c, int base)
{
    const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
    return digit >= 0 && digit < base;
}

// Digits of base and nothing else (no sign, prefix or blanks), within 64 bits.
bool parseDigits(const QString &digits, int base, quint64 *value)
{
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits) {
        if (!isDigitOf(c, base))
            return false;
    }
    bool ok = false;
    *value = digits.toULongLong(&ok, base);
    return ok;
}

// Decimal with an optional leading minus, 0x hexadecimal or 0b binary; a
// value's text is taken as it is, as option values and counts are.
bool parseMagnitude(const QString &text, bool *negative, quint64 *magnitude)
{
    *negative = text.startsWith(QLatin1Char('-'));
    if (*negative)
        return parseDigits(text.mid(1), 10, magnitude);
    if (text.startsWith(QLatin1String("0x")))
        return parseDigits(text.mid(2), 16, magnitude);
    if (text.startsWith(QLatin1String("0b")))
        return parseDigits(text.mid(2), 2, magnitude);
    return parseDigits(text, 10, magnitude);
}

bool parseOne(const QString &text, const DataType &type, quint64 *value, QString *error)
{
    const QString t = text.toLower();
    if (type.bits == 1) {
        if (t == QLatin1String("on") || t == QLatin1String("true")) {
            *value = 1;
            return true;
        }
        if (t == QLatin1String("off") || t == QLatin1String("false")) {
            *value = 0;
            return true;
        }
    }
    bool negative = false;
    quint64 magnitude = 0;
    bool ok = parseMagnitude(t, &negative, &magnitude);
    const quint64 mask = widthMask(type.bits);
    const quint64 negativeLimit = type.bits == 1 ? 0 : quint64(1) << (type.bits - 1);
    if (ok && !negative && magnitude > mask)
        ok = false;
    if (ok && negative && magnitude > negativeLimit)
        ok = false;
    if (!ok) {
        *error = QStringLiteral("invalid value for a %1: \"%2\"").arg(QLatin1String(type.name), text);
        return false;
    }
    *value = (negative ? (~magnitude + 1) : magnitude) & mask;
    return true;
}

// The shortest text that reads back as the same float; one "nan" for every
// NaN, whatever its sign and payload.
QString floatText(quint32 bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value))
        return QStringLiteral("nan");
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, int(end.ptr - text));
}

} // namespace

const DataType *dataTypeByName(const QString &name)
{
    for (const DataType &type : kTypes) {
        if (name.compare(QLatin1String(type.name), Qt::CaseInsensitive) == 0)
            return &type;
    }
    return nullptr;
}

QStringList dataTypeNames()
{
    QStringList names;
    for (const DataType &type : kTypes) {
        if (!type.refusal)
            names.append(QLatin1String(type.name));
    }
    return names;
}

bool parseValueFormat(const QString &name, ValueFormat *format)
{
    for (const auto &entry : kFormats) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            *format = entry.format;
            return true;
        }
    }
    return false;
}

QStringList valueFormatNames()
{
    QStringList names;
    for (const auto &entry : kFormats)
        names.append(QLatin1String(entry.name));
    return names;
}

QString formatRefusal(ValueFormat format, const DataType &type)
{
    for (const auto &entry : kFormats) {
        if (entry.format == format && entry.bits && entry.bits != type.bits) {
            return QStringLiteral("%1 goes only with dword, not %2").arg(QLatin1String(entry.name), QLatin1String(type.name));
        }
    }
    return QString();
}

bool itemAt(const QByteArray &data, const DataType &type, int index, quint64 *value)
{
    if (index < 0)
        return false;
    if (type.bits == 1) {
        if (index / 8 >= data.size())
            return false;
        *value = (quint8(data[index / 8]) >> (index % 8)) & 1;
        return true;
    }
    const int size = type.bits / 8;
    if (qint64(index + 1) * size > data.size())
        return false;
    quint64 v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | quint8(data[index * size + i]);
    *value = v;
    return true;
}

QString formatValue(quint64 value, const DataType &type, ValueFormat format)
{
    const int bits = type.bits;
    switch (format) {
    case ValueFormat::Hex:
        return QStringLiteral("0x")
               + QString::number(value, 16).toUpper().rightJustified(qMax(1, bits / 4), QLatin1Char('0'));
    case ValueFormat::Signed:
        if (bits > 1 && bits < 64 && (value >> (bits - 1)) & 1)
            return QString::number(qint64(value | ~widthMask(bits)));
        return bits == 64 ? QString::number(qint64(value)) : QString::number(value);
    case ValueFormat::Bits: {
        QString text;
        for (int i = bits - 1; i >= 0; --i) {
            text += QLatin1Char((value >> i) & 1 ? '1' : '0');
            if (i && i % 4 == 0)
                text += QLatin1Char(' ');
        }
        return text;
    }
    case ValueFormat::Int32:
        return QString::number(qint32(quint32(value)));
    case ValueFormat::Float:
        return floatText(quint32(value));
    case ValueFormat::Decimal:
        break;
    }
    return QString::number(value);
}

bool encodeValues(const QStringList &texts, const DataType &type, QByteArray *data, QString *error)
{
    QByteArray out;
    for (const QString &text : texts) {
        quint64 value = 0;
        if (!parseOne(text, type, &value, error))
            return false;
        const int size = type.bits == 1 ? 1 : type.bits / 8;
        for (int i = 0; i < size; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
    }
    *data = out;
    return true;
}

bool parseDecimal(const QString &text, quint64 min, quint64 max, quint64 *value)
{
    quint64 number = 0;
    if (!parseDigits(text, 10, &number) || number < min || number > max)
        return false;
    *value = number;
    return true;
}
