#include "typedvalues.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const TypedValue kTyped[] = {
    {"int16", "word", ValueFormat::Signed},
    {"int32", "dword", ValueFormat::Int32},
    {"float", "dword", ValueFormat::Float},
};

// Optional minus, digits; nothing else.
bool parseSigned(const QString &text, qint64 min, qint64 max, qint64 *value)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    quint64 magnitude = 0;
    if (!parseDecimal(negative ? text.mid(1) : text, 0, quint64(max) + 1, &magnitude))
        return false;
    const qint64 number = negative ? -qint64(magnitude) : qint64(magnitude);
    if (number < min || number > max)
        return false;
    *value = number;
    return true;
}

bool parseFloatBits(const QString &text, quint32 *bits)
{
    const QByteArray latin = text.toLatin1();
    const char *begin = latin.constData();
    const char *end = begin + latin.size();
    // from_chars takes "inf" and "nan" and no '+': only digits, '.', 'e' and signs pass here.
    for (const char c : latin) {
        if (!std::strchr("0123456789.eE-+", c))
            return false;
    }
    float value = 0;
    const std::from_chars_result result = std::from_chars(begin, end, value, std::chars_format::general);
    if (latin.isEmpty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return false;
    std::memcpy(bits, &value, sizeof *bits);
    return true;
}

} // namespace

QStringList typedValueNames()
{
    QStringList names;
    for (const TypedValue &typed : kTyped)
        names.append(QLatin1String(typed.name));
    return names;
}

const TypedValue *typedValueByName(const QString &name)
{
    for (const TypedValue &typed : kTyped) {
        if (name.compare(QLatin1String(typed.name), Qt::CaseInsensitive) == 0)
            return &typed;
    }
    return nullptr;
}

bool encodeTypedValues(const QStringList &texts, const TypedValue &typed, QByteArray *data, QString *error)
{
    const bool word = std::strcmp(typed.type, "word") == 0;
    QStringList words;
    for (const QString &text : texts) {
        qint64 number = 0;
        quint32 bits = 0;
        bool ok = false;
        if (typed.format == ValueFormat::Float) {
            ok = parseFloatBits(text, &bits);
            number = bits;
        } else if (word) {
            ok = parseSigned(text, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max(), &number);
        } else {
            ok = parseSigned(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), &number);
        }
        if (!ok) {
            *error = QStringLiteral("invalid value for %1 %2: \"%3\"")
                         .arg(QLatin1String(typed.format == ValueFormat::Float ? "a" : "an"),
                              QLatin1String(typed.name), text);
            return false;
        }
        words.append(QString::number(quint32(number) & (word ? 0xFFFFu : 0xFFFFFFFFu)));
    }
    return encodeValues(words, *dataTypeByName(QLatin1String(typed.type)), data, error);
}
