#include "parammap.h"

#include "stepchecks.h"
#include "storemodel.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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
        return QStringLiteral("HR%1-HR%2 are the driver's special store, not a drive's parameter")
            .arg(kStoreFirst).arg(kStoreLast);
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
    entry->type = dataTypeByName(words[1]);
    static const QStringList kTypes = {QStringLiteral("word"), QStringLiteral("dword"), QStringLiteral("bit")};
    if (!entry->type || !kTypes.contains(QLatin1String(entry->type->name))) {
        *error = QStringLiteral("type %1: an entry is word, dword or bit").arg(words[1]);
        return false;
    }
    why = addressRefusal(*entry);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 %2: %3").arg(words[0], words[1], why);
        return false;
    }
    if (backup) {
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
    if (rest.size() > 1) {
        *error = QStringLiteral("unexpected %1 (an entry is %2)").arg(rest[1], paramLineShape(kind));
        return false;
    }
    entry->name = rest.value(0);
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

// A backup header's "# station: N", information only.
void takeHeaderStation(const QString &comment, ParamFile *file)
{
    static const QRegularExpression kStation(QStringLiteral("^station:\\s*(\\d{1,3})\\s*$"));
    const QRegularExpressionMatch match = kStation.match(comment);
    if (match.hasMatch() && file->station < 0)
        file->station = match.captured(1).toInt();
}

} // namespace

QString paramLineShape(ParamFileKind kind)
{
    return kind == ParamFileKind::Backup ? QStringLiteral("ADDRESS TYPE VALUE [NAME] [# comment]")
                                         : QStringLiteral("ADDRESS TYPE [NAME] [# comment]");
}

QString ParamEntry::label() const
{
    return name.isEmpty() ? address.text : address.text + QLatin1Char(' ') + name;
}

bool parseParamText(const QString &text, const QString &path, ParamFileKind kind, ParamFile *file,
                    QString *error)
{
    ParamFile result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int hash = lines[i].indexOf(QLatin1Char('#'));
        const QString comment = hash < 0 ? QString() : lines[i].mid(hash + 1).trimmed();
        const QStringList words = lines[i].left(hash).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            if (result.entries.isEmpty())
                takeHeaderStation(comment, &result);
            continue;
        }
        ParamEntry entry;
        entry.line = i + 1;
        entry.comment = comment;
        QString why;
        if (parseEntryWords(words, kind, &entry, &why))
            why = overlapRefusal(entry, result.entries);
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

QString backupLine(const ParamEntry &entry, quint64 value)
{
    QString line = QStringLiteral("%1 %2 %3").arg(entry.address.text, QLatin1String(entry.type->name)).arg(value);
    if (!entry.name.isEmpty())
        line += QLatin1Char(' ') + entry.name;
    if (!entry.comment.isEmpty())
        line += QStringLiteral(" # ") + entry.comment;
    return line;
}
