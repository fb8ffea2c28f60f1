#include "address.h"

#include <QStringList>

#include "values.h"

namespace {

const Area kAreas[] = {
    {"HR", "register", true, true, false},  {"FN6HR", "register", true, true, true},
    {"IR", "register", true, false, false}, {"DO", "coil", false, true, false},
    {"FN5DO", "coil", false, true, true},   {"DI", "input", false, false, false},
};

// The driver keeps a bit number in one byte and would wrap anything larger.
const int kLastBit = 255;

bool isPrintableAscii(QChar c)
{
    return c.unicode() > 0x20 && c.unicode() < 0x7F;
}

bool isLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The run of characters from *pos that accept takes; *pos moves past it.
QString take(const QString &text, int *pos, bool (*accept)(QChar))
{
    const int start = *pos;
    while (*pos < text.size() && accept(text[*pos]))
        ++*pos;
    return text.mid(start, *pos - start);
}

const Area *areaByName(const QString &name)
{
    for (const Area &area : kAreas) {
        if (name.compare(QLatin1String(area.name), Qt::CaseInsensitive) == 0)
            return &area;
    }
    return nullptr;
}

// Letters, after the FN5 or FN6 that names a function.
QString takeArea(const QString &text, int *pos)
{
    const bool function = text.startsWith(QLatin1String("FN"), Qt::CaseInsensitive) && text.size() > 2
                          && isDigit(text[2]);
    if (function)
        *pos = 3;
    take(text, pos, isLetter);
    return text.left(*pos);
}

} // namespace

bool parseAddress(const QString &text, Address *address, QString *error)
{
    for (const QChar c : text) {
        if (!isPrintableAscii(c)) {
            *error = QStringLiteral("an address is ASCII letters and digits, such as HR100");
            return false;
        }
    }
    int pos = 0;
    const QString areaText = takeArea(text, &pos);
    Address result;
    result.text = text;
    result.area = areaByName(areaText);
    if (!result.area) {
        *error = QStringLiteral("unknown area \"%1\" (one of %2)").arg(areaText, areaNames());
        return false;
    }
    quint64 number = 0;
    if (!parseDecimal(take(text, &pos, isDigit), kFirstItem, kLastItem, &number)) {
        *error = QStringLiteral("%1 numbers run from %2 to %3")
                     .arg(QLatin1String(result.area->itemNoun))
                     .arg(kFirstItem)
                     .arg(kLastItem);
        return false;
    }
    result.number = int(number);
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        ++pos;
        quint64 bit = 0;
        if (!parseDecimal(take(text, &pos, isDigit), 0, kLastBit, &bit)) {
            *error = QStringLiteral("bit numbers run from 0 to %1").arg(kLastBit);
            return false;
        }
        result.bit = int(bit);
    }
    if (text.midRef(pos).compare(QLatin1String("SW"), Qt::CaseInsensitive) == 0) {
        result.swapped = true;
        pos += 2;
    }
    if (pos < text.size()) {
        *error = QStringLiteral("unexpected \"%1\" (an address is AREA NUMBER[.BIT][SW], such as HR100)").arg(text.mid(pos));
        return false;
    }
    *address = result;
    return true;
}

QString areaNames(bool registersOnly)
{
    QStringList names;
    for (const Area &area : kAreas) {
        if (area.registers || !registersOnly)
            names.append(QLatin1String(area.name));
    }
    return names.join(QStringLiteral(", "));
}

QString Address::itemLabel(const DataType &type, int index) const
{
    const QString name = QLatin1String(area->name);
    if (type.bits == 1 && area->registers) {
        const int bitIndex = qMax(bit, 0) + index;
        return QStringLiteral("%1%2.%3").arg(name).arg(number + bitIndex / 16).arg(bitIndex % 16);
    }
    if (type.bits == 8) {
        return QStringLiteral("%1%2 %3").arg(name).arg(number + index / 2).arg(QLatin1String(index % 2 ? "high" : "low"));
    }
    const int itemsPerNumber = area->registers ? type.bits / 16 : 1;
    return QStringLiteral("%1%2%3").arg(name).arg(number + index * itemsPerNumber).arg(QLatin1String(swapped ? "SW" : ""));
}
