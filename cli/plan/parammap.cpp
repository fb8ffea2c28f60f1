#include "parammap.h"

#include "stepchecks.h"
#include "storemodel.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "typedvalues.h"
#include "values.h"

namespace {

bool isRegisterBit(const ParamEntry &entry)
{
    return entry.type->bits == 1 && entry.address.area->registers;
}

// Registers are counted in bits so that a bit entry overlaps the word that
// holds it; coils are a space of their own.
struct Span
{
    bool registers;
    qint64 first;
    qint64 last;
};

Span spanOf(const ParamEntry &entry)
{
    const Address &a = entry.address;
    if (!a.area->registers)
        return Span{false, a.number, a.number};
    const qint64 start = qint64(a.number) * 16;
    if (isRegisterBit(entry))
        return Span{true, start + a.bit, start + a.bit};
    return Span{true, start, start + entry.type->bits - 1};
}

bool overlaps(const Span &a, const Span &b)
{
    return a.registers == b.registers && a.first <= b.last && b.first <= a.last;
}

// The last register an entry reaches.
int lastRegister(const ParamEntry &entry)
{
    return entry.address.number + (entry.type->bits == 32 ? 1 : 0);
}

// Why the address and type make no entry restore can write back; empty
// when they do.
QString addressRefusal(const ParamEntry &entry)
{
    const Address &a = entry.address;
    const QString area = QLatin1String(a.area->name);
    const int bits = entry.type->bits;
    if (!a.area->writable)
        return QStringLiteral("%1 is read-only; a map holds what restore writes back (HR, FN6HR, DO, FN5DO)").arg(area);
    if (bits != 1 && !a.area->registers)
        return QStringLiteral("%1 goes only with HR and FN6HR, not %2").arg(QLatin1String(entry.type->name), area);
    if (a.area->requestPerItem && a.area->registers && bits != 16)
        return QStringLiteral("FN6HR writes one register with function 6, so it takes word only");
    if (a.hasBit() && !a.area->registers)
        return QStringLiteral("a coil has no bit number");
    if (a.hasBit() && bits != 1)
        return QStringLiteral("a bit number goes only with bit");
    if (isRegisterBit(entry) && !a.hasBit())
        return QStringLiteral("a bit of a register names its bit, such as %1%2.0").arg(area).arg(a.number);
    if (a.bit > kLastRegisterBit)
        return QStringLiteral("bits of a register run from 0 to %1").arg(kLastRegisterBit);
    if (a.swapped && bits != 32)
        return QStringLiteral("SW goes only with dword");
    if (a.area->registers && lastRegister(entry) > kLastItem)
        return QStringLiteral("a dword there runs past %1%2").arg(area).arg(kLastItem);
    if (a.area->registers && a.number <= kStoreLast && lastRegister(entry) >= kStoreFirst)
        return QStringLiteral("HR%1-HR%2 are the driver's special store, not a drive's parameter").arg(kStoreFirst).arg(kStoreLast);
    return QString();
}

// ADDRESS TYPE [VALUE] [NAME], the words of one entry line; false with a
// text naming the word.
bool parseEntryWords(const QStringList &words, ParamFileKind kind, ParamEntry *entry, QString *error)
{
    const bool backup = kind == ParamFileKind::Backup;
    QString why;
    if (!parseAddress(words[0], &entry->address, &why)) {
        *error = QStringLiteral("%1: %2").arg(words[0], why);
        return false;
    }
    if (words.size() < (backup ? 3 : 2)) {
        *error = QStringLiteral("%1: an entry is %2").arg(words[0], paramLineShape(kind));
        return false;
    }
    // int16 and int32 are a word and a dword that hold signed values.
    const TypedValue *typed = typedValueByName(words[1]);
    entry->isSigned = typed && typed->format != ValueFormat::Float;
    entry->type = entry->isSigned ? dataTypeByName(QLatin1String(typed->type)) : dataTypeByName(words[1]);
    static const QStringList kTypes = {QStringLiteral("word"), QStringLiteral("dword"), QStringLiteral("bit")};
    if (!entry->type || !kTypes.contains(QLatin1String(entry->type->name)) || (typed && !entry->isSigned)) {
        *error = QStringLiteral("type %1: an entry is word, dword or bit (int16, int32 signed)").arg(words[1]);
        return false;
    }
    why = kind == ParamFileKind::Signals ? QString() : addressRefusal(*entry);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 %2: %3").arg(words[0], words[1], why);
        return false;
    }
    if (backup) {
        // A signed entry is refused as what it is, not as the word or dword
        // it is kept in. Older backups wrote it unsigned: that form is taken.
        if (entry->isSigned) {
            const qint64 most = entry->type->bits == 16 ? 32767 : 2147483647;
            bool ok = false;
            const qint64 number = words[2].toLongLong(&ok, 10);
            if (!ok || number < -most - 1 || number > 2 * most + 1) {
                *error = QStringLiteral("%1: %2 takes a whole number from %3 to %4 (0 to %5 as older "
                                        "backups wrote it), not %6")
                             .arg(words[0], words[1])
                             .arg(-most - 1)
                             .arg(most)
                             .arg(2 * most + 1)
                             .arg(words[2]);
                return false;
            }
        }
        if (!encodeValues({words[2]}, *entry->type, &entry->data, &why)) {
            *error = QStringLiteral("%1: %2").arg(words[0], why);
            return false;
        }
        itemAt(entry->data, *entry->type, 0, &entry->value);
    }
    const QStringList rest = words.mid(backup ? 3 : 2);
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    if (!rest.isEmpty() && !kName.match(rest[0]).hasMatch()) {
        *error = QStringLiteral("name %1: letters, digits, _ . and - only").arg(rest[0]);
        return false;
    }
    // A unit is printed as it is written, so it may hold what a name may
    // not ("%", "m/s", "°C"); not a quote, which no label needs.
    static const QRegularExpression kUnit(QStringLiteral("^[^\"'`\\\\]{1,16}$"));
    if (rest.size() > 1 && !kUnit.match(rest[1]).hasMatch()) {
        *error = QStringLiteral("unit %1: up to 16 characters, no quote or backslash").arg(rest[1]);
        return false;
    }
    if (rest.size() > 2) {
        *error = QStringLiteral("unexpected %1 (an entry is %2)").arg(rest[2], paramLineShape(kind));
        return false;
    }
    entry->name = rest.value(0);
    entry->unit = rest.value(1);
    return true;
}

// Empty when the entry shares nothing with those before it.
QString overlapRefusal(const ParamEntry &entry, const QList<ParamEntry> &before)
{
    const Span span = spanOf(entry);
    for (const ParamEntry &other : before) {
        const Span otherSpan = spanOf(other);
        if (!overlaps(span, otherSpan))
            continue;
        const bool same = span.first == otherSpan.first && span.last == otherSpan.last;
        return QStringLiteral("%1 %2 %3 %4 of line %5")
            .arg(entry.address.text, QLatin1String(same ? "repeats" : "overlaps"), other.address.text,
                 QLatin1String(other.type->name), QString::number(other.line));
    }
    return QString();
}

// Signals may name a register and bits of it, and IR1 is not HR1: only
// an item named twice is wrong.
QString repeatRefusal(const ParamEntry &entry, const QList<ParamEntry> &before)
{
    const QString label = entry.address.itemLabel(*entry.type, 0);
    for (const ParamEntry &other : before) {
        if (other.address.itemLabel(*other.type, 0) == label)
            return QStringLiteral("%1 repeats %2 of line %3").arg(entry.address.text, other.address.text).arg(other.line);
    }
    return QString();
}

const QRegularExpression kStation(QStringLiteral("^station:\\s*(\\d{1,3})\\s*$"));

// A hand-written backup's "# station: N" before its entries, information only.
void takeHeaderStation(const QString &comment, int line, ParamFile *file)
{
    const QRegularExpressionMatch match = kStation.match(comment);
    if (match.hasMatch() && file->station < 0) {
        file->station = match.captured(1).toInt();
        file->stationLine = line;
    }
}

// The header servoctl writes: "# servoctl VERSION backup", then "# KEY: VALUE"
// lines, then backupHeaderEnd(). Reads it from lines[0] on; false with
// "LINE: what" when a line is none of these (an older servoctl copied paths
// into it as they were, newlines too). *end is the index past the header.
bool readBackupHeader(const QStringList &lines, ParamFile *file, int *end, QString *error)
{
    static const QStringList kKeys = {QStringLiteral("saved"), QStringLiteral("station"), QStringLiteral("line"),
                                      QStringLiteral("map")};
    QStringList seen;
    for (int i = 1; i < lines.size(); ++i) {
        const QString &text = lines[i];
        if (text.isEmpty() && i == lines.size() - 1)
            break;
        if (text == backupHeaderEnd()) {
            *end = i + 1;
            return true;
        }
        const QString key = text.mid(2).section(QLatin1Char(':'), 0, 0);
        if (!text.startsWith(QLatin1String("# ")) || !kKeys.contains(key) || seen.contains(key)
            || text.mid(2 + key.size(), 2) != QLatin1String(": ")) {
            *error = QStringLiteral("%1: not a line of a servoctl backup's header (# saved:, # station:, "
                                    "# line: or # map:, each once): %2")
                         .arg(i + 1)
                         .arg(text);
            return false;
        }
        seen.append(key);
        const QString value = text.mid(key.size() + 4);
        if (key == QLatin1String("station")) {
            const QRegularExpressionMatch match = kStation.match(text.mid(2));
            if (!match.hasMatch()) {
                *error = QStringLiteral("%1: not a station: %2").arg(i + 1).arg(value);
                return false;
            }
            file->station = match.captured(1).toInt();
            file->stationLine = i + 1;
        } else if (key == QLatin1String("line")) {
            file->line = value;
        }
    }
    *error = QStringLiteral(" the servoctl backup's header never ends (its last line is \"%1\")").arg(backupHeaderEnd());
    return false;
}

bool isBackupHeaderStart(const QString &line)
{
    return line.startsWith(QLatin1String("# servoctl ")) && line.endsWith(QLatin1String(" backup"));
}

} // namespace

const char kSimulatedLineText[] = "built-in simulated line";

QString backupHeaderEnd()
{
    return QStringLiteral("# %1; servoctl restore FILE writes it back").arg(paramLineShape(ParamFileKind::Backup));
}

QString paramLineShape(ParamFileKind kind)
{
    return kind == ParamFileKind::Backup
               ? QStringLiteral("ADDRESS TYPE VALUE [NAME] [# comment]")
               : QStringLiteral("ADDRESS TYPE [NAME] [# comment]");
}

QString ParamEntry::label() const
{
    return name.isEmpty() ? address.text : address.text + QLatin1Char(' ') + name;
}

bool parseParamText(const QString &text, const QString &path, ParamFileKind kind, ParamFile *file, QString *error)
{
    ParamFile result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    int first = 0;
    if (kind == ParamFileKind::Backup && isBackupHeaderStart(lines[0])
        && !readBackupHeader(lines, &result, &first, error)) {
        *error = QStringLiteral("%1:%2").arg(path, *error);
        return false;
    }
    for (int i = first; i < lines.size(); ++i) {
        const int hash = lines[i].indexOf(QLatin1Char('#'));
        const QString comment = hash < 0 ? QString() : lines[i].mid(hash + 1).trimmed();
        const QStringList words = lines[i].left(hash).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            if (result.entries.isEmpty() && first == 0)
                takeHeaderStation(comment, i + 1, &result);
            continue;
        }
        ParamEntry entry;
        entry.line = i + 1;
        entry.comment = comment;
        QString why;
        if (parseEntryWords(words, kind, &entry, &why))
            why = kind == ParamFileKind::Signals
                      ? repeatRefusal(entry, result.entries)
                      : overlapRefusal(entry, result.entries);
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(entry.line).arg(why);
            return false;
        }
        result.entries.append(entry);
    }
    if (result.entries.isEmpty()) {
        *error = QStringLiteral("%1: no entries (a line is %2)").arg(path, paramLineShape(kind));
        return false;
    }
    *file = result;
    return true;
}

bool readParamFile(const QString &path, ParamFileKind kind, ParamFile *file, QString *error)
{
    QFile source(path);
    if (QFileInfo(path).isDir() || !source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read it: %2")
                     .arg(path, QFileInfo(path).isDir() ? QStringLiteral("a folder") : source.errorString());
        return false;
    }
    return parseParamText(QString::fromUtf8(source.readAll()), path, kind, file, error);
}

QString ParamEntry::typeName() const
{
    if (isSigned)
        return QLatin1String(type->bits == 32 ? "int32" : "int16");
    return QLatin1String(type->name);
}

QString ParamEntry::valueText(quint64 value) const
{
    return formatValue(value, *type, isSigned ? ValueFormat::Signed : ValueFormat::Decimal);
}

QString backupLine(const ParamEntry &entry, quint64 value)
{
    QString line = QStringLiteral("%1 %2 %3").arg(entry.address.text, entry.typeName(), entry.valueText(value));
    if (!entry.name.isEmpty())
        line += QLatin1Char(' ') + entry.name;
    if (!entry.unit.isEmpty())
        line += QLatin1Char(' ') + entry.unit;
    if (!entry.comment.isEmpty())
        line += QStringLiteral(" # ") + entry.comment;
    return line;
}
