#include "fetchplan.h"

#include <algorithm>

#include "stepchecks.h"
#include "storemodel.h"
#include "teco_servo_limits.h"
#include "values.h"

namespace {

// Per read that servoctl builds: registers (functions 3 and 4), and coils or
// inputs (functions 1 and 2). Bits stop at the standard's 2000, not the
// driver's 2008, so that addresses typed within the standard never make a
// read that a standard drive refuses (exception 03).
const int kRegistersPerRead = TecoServoLimit::ReadRegisters;
const int kBitsPerRead = kStandardBitsPerRead;

// Items read by one function share a group: HR and FN6HR are both read
// with function 3, DO and FN5DO with 1.
QString readArea(const Step &item)
{
    const QString name = QLatin1String(item.address.area->name);
    return name.startsWith(QLatin1String("FN")) ? name.mid(3) : name;
}

bool mergeable(const Step &item)
{
    return !servedByStore(item);
}

int readLimit(const Step &item)
{
    return item.address.area->registers ? kRegistersPerRead : kBitsPerRead;
}

// The read of units first to last that serves a run of several items.
Step runRead(const Step &model, int first, int last)
{
    Step read = model;
    const QString area = readArea(model);
    const bool registers = model.address.area->registers;
    QString ignored;
    parseAddress(area + QString::number(first), &read.address, &ignored);
    read.type = dataTypeByName(QLatin1String(registers ? "word" : "bit"));
    read.count = last - first + 1;
    read.items.clear();
    return read;
}

Fetch ownFetch(const std::vector<Step> &items, int index)
{
    return Fetch{items[size_t(index)], {index}};
}

struct Run
{
    int first;
    int last;
    QList<int> items;
};

// Item indexes of one group, by first unit, cut into runs within the limit.
QList<Run> runsOf(const std::vector<Step> &items, QList<int> group)
{
    std::stable_sort(group.begin(), group.end(), [&](int a, int b) {
        return firstUnit(items[size_t(a)]) < firstUnit(items[size_t(b)]);
    });
    QList<Run> runs;
    for (const int index : qAsConst(group)) {
        const Step &item = items[size_t(index)];
        const bool acrossStore = !runs.isEmpty() && runs.last().first < kStoreFirst && firstUnit(item) >= kStoreFirst;
        if (!runs.isEmpty() && !acrossStore
            && qMax(runs.last().last, lastUnit(item)) - runs.last().first < readLimit(item)) {
            runs.last().last = qMax(runs.last().last, lastUnit(item));
            runs.last().items.append(index);
        } else {
            runs.append(Run{firstUnit(item), lastUnit(item), {index}});
        }
    }
    return runs;
}

// Register (bit) index of a unit of the fetch's answer.
quint64 bitAt(const QByteArray &data, qint64 bit)
{
    return (quint8(data[int(bit / 8)]) >> (bit % 8)) & 1;
}

quint16 wordAt(const QByteArray &data, int index)
{
    return quint16(quint8(data[2 * index]) | (quint8(data[2 * index + 1]) << 8));
}

void appendWord(QByteArray *out, quint16 word)
{
    out->append(char(word & 0xFF));
    out->append(char(word >> 8));
}

// Bits packed as the driver packs them, from the fetched units' bits.
QByteArray packedBits(const QByteArray &data, qint64 firstBit, int count)
{
    QByteArray out((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i)
        out[i / 8] = char(quint8(out[i / 8]) | (bitAt(data, firstBit + i) << (i % 8)));
    return out;
}

// Double words as the driver gives them: the low word first, or with SW
// the first register taken as the high word.
QByteArray dwords(const QByteArray &data, int offset, int count, bool swapped)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        const quint16 first = wordAt(data, offset + 2 * i);
        const quint16 second = wordAt(data, offset + 2 * i + 1);
        appendWord(&out, swapped ? second : first);
        appendWord(&out, swapped ? first : second);
    }
    return out;
}

} // namespace

QList<Fetch> planFetches(const std::vector<Step> &items)
{
    QList<QString> groupKeys;
    QList<QList<int>> groups;
    QList<Fetch> fetches;
    for (int i = 0; i < int(items.size()); ++i) {
        if (!mergeable(items[size_t(i)])) {
            fetches.append(ownFetch(items, i));
            continue;
        }
        const QString key = readArea(items[size_t(i)]);
        if (!groupKeys.contains(key)) {
            groupKeys.append(key);
            groups.append(QList<int>());
        }
        groups[groupKeys.indexOf(key)].append(i);
    }
    for (const QList<int> &group : qAsConst(groups)) {
        for (const Run &run : runsOf(items, group)) {
            if (run.items.size() == 1)
                fetches.append(ownFetch(items, run.items.first()));
            else
                fetches.append(Fetch{runRead(items[size_t(run.items.first())], run.first, run.last), run.items});
        }
    }
    return fetches;
}

QList<Fetch> splitFetch(const Fetch &fetch, const std::vector<Step> &items)
{
    QList<Fetch> own;
    for (const int index : fetch.items)
        own.append(ownFetch(items, index));
    return own;
}

QByteArray itemData(const Fetch &fetch, const Step &item, const QByteArray &fetched)
{
    if (!fetch.merged())
        return fetched;
    const int offset = firstUnit(item) - firstUnit(fetch.read);
    const bool registers = item.address.area->registers;
    const qint64 unitBits = registers ? 16 : 1;
    const qint64 neededBits = (qint64(lastUnit(item)) - firstUnit(fetch.read) + 1) * unitBits;
    if (fetched.size() * 8 < neededBits)
        return QByteArray();
    const int bits = item.type->bits;
    if (bits == 1)
        return packedBits(fetched, offset * unitBits + qMax(item.address.bit, 0), item.count);
    if (bits == 32)
        return dwords(fetched, offset, item.count, item.address.swapped);
    return fetched.mid(2 * offset, item.count * bits / 8);
}
