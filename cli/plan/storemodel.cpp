#include "storemodel.h"

#include "plan.h"
#include "stepchecks.h"

namespace {

// What a word written to entries 0 to 9 of the store may hold.
struct StoreEntryRule
{
    int firstEntry;
    int lastEntry;
    quint64 min;
    quint64 max;
    const char *what;
    const char *why; // appended to the refusal; empty when it needs none
};

const StoreEntryRule kStoreEntryRules[] = {
    {kStationCountEntry, kStationCountEntry, 0, kListLength, "the station count", ""},
    {kFirstListEntry, kFirstListEntry + kListLength - 1, 1, kLastStation, "a station of the list", ""},
    {kReadBackEntry, kReadBackEntry, 1, kListLength, "the read-back station",
     " (the driver holds it at 8 or below, so only stations 1 to 8 can be read back)"},
};

const StoreEntryRule &storeEntryRule(int entry)
{
    for (const StoreEntryRule &rule : kStoreEntryRules) {
        if (entry >= rule.firstEntry && entry <= rule.lastEntry)
            return rule;
    }
    return kStoreEntryRules[0];
}

bool holds(const StoreEntryRule &rule, quint64 value)
{
    return value >= rule.min && value <= rule.max;
}

int firstEntry(const Step &step)
{
    return step.address.number - kStoreFirst;
}

int lastEntry(const Step &step)
{
    return lastUnit(step) - kStoreFirst;
}

QString storeLabel(const Step &step, int entry)
{
    return QStringLiteral("%1%2").arg(QLatin1String(step.address.area->name)).arg(kStoreFirst + entry);
}

// Item index of a write's values.
quint64 valueAt(const Step &step, int index)
{
    quint64 value = 0;
    itemAt(step.data, *step.type, index, &value);
    return value;
}

} // namespace

QString StoreModel::refusal(const Step &step) const
{
    if (!reachesStore(step))
        return QString();
    if (!servedByStore(step)) {
        return QStringLiteral("%1-%2 are the driver's special store, served to word commands that "
                              "start there (and bit writes); this one would reach the drive's own "
                              "registers by those numbers")
            .arg(storeLabel(step, 0), storeLabel(step, kBroadcastEntry));
    }
    if (lastEntry(step) > kBroadcastEntry)
        return QStringLiteral("the driver's special store ends at %1").arg(storeLabel(step, kBroadcastEntry));
    if (step.type->bits == 1)
        return bitWriteRefusal(step);
    return isWrite(step) ? wordWriteRefusal(step) : readBackRefusal(step);
}

QString StoreModel::bitWriteRefusal(const Step &step) const
{
    if (firstEntry(step) < kBroadcastEntry) {
        return QStringLiteral("a bit write into %1-%2 also makes the driver set or bound the station "
                              "count %1 to %3; write whole words there")
            .arg(storeLabel(step, 0), storeLabel(step, kReadBackEntry))
            .arg(storeEntryRule(kStationCountEntry).max);
    }
    if (step.count > 1) {
        return QStringLiteral("the driver keeps only the first bit written to %1: write one bit at a time")
            .arg(storeLabel(step, kBroadcastEntry));
    }
    return unlistedStationRefusal(step);
}

QString StoreModel::wordWriteRefusal(const Step &step) const
{
    if (lastEntry(step) == kBroadcastEntry && step.count > 1) {
        return QStringLiteral("a word write reaching %1 must write %1 alone: the driver sends all its "
                              "words to the listed stations from HR%2 on and stores none before %1")
            .arg(storeLabel(step, kBroadcastEntry))
            .arg(kBroadcastRegister);
    }
    if (lastEntry(step) == kBroadcastEntry)
        return unlistedStationRefusal(step);
    for (int i = 0; i < step.count; ++i) {
        const StoreEntryRule &rule = storeEntryRule(firstEntry(step) + i);
        if (!holds(rule, valueAt(step, i))) {
            return QStringLiteral("%1 = %2: %3 runs from %4 to %5%6")
                .arg(storeLabel(step, firstEntry(step) + i))
                .arg(valueAt(step, i))
                .arg(QLatin1String(rule.what))
                .arg(rule.min)
                .arg(rule.max)
                .arg(QLatin1String(rule.why));
        }
    }
    return QString();
}

// A write reaching entry 10 goes to each listed station in turn; a list
// entry never set would be a broadcast that the driver awaits and retries.
QString StoreModel::unlistedStationRefusal(const Step &step) const
{
    const int listed = m_entries[kStationCountEntry];
    const StoreEntryRule &rule = storeEntryRule(kFirstListEntry);
    for (int entry = kFirstListEntry; entry < kFirstListEntry + listed; ++entry) {
        if (!holds(rule, m_entries[entry])) {
            return QStringLiteral("%1 goes to HR%2 of each station the count %3 (%4) lists, and %5 "
                                  "holds none yet: set it to a station (%6 to %7) first")
                .arg(storeLabel(step, kBroadcastEntry))
                .arg(kBroadcastRegister)
                .arg(storeLabel(step, kStationCountEntry))
                .arg(listed)
                .arg(storeLabel(step, entry))
                .arg(rule.min)
                .arg(rule.max);
        }
    }
    return QString();
}

// A read reaching entry 10 first reads HR1300 back from the read-back
// station; entry 9, never set, would be the broadcast address.
QString StoreModel::readBackRefusal(const Step &step) const
{
    const StoreEntryRule &rule = storeEntryRule(kReadBackEntry);
    if (lastEntry(step) < kBroadcastEntry || m_entries[kStationCountEntry] == 0
        || holds(rule, m_entries[kReadBackEntry])) {
        return QString();
    }
    return QStringLiteral("a read of %1 first reads HR%2 back from the read-back station: set the "
                          "read-back station %3 (%4 to %5) first")
        .arg(storeLabel(step, kBroadcastEntry))
        .arg(kBroadcastRegister)
        .arg(storeLabel(step, kReadBackEntry))
        .arg(rule.min)
        .arg(rule.max);
}

// Only word writes within entries 0 to 9 change what the checks look at.
void StoreModel::apply(const Step &step)
{
    if (!servedByStore(step) || !isWrite(step) || step.type->bits != 16 || lastEntry(step) >= kBroadcastEntry)
        return;
    for (int i = 0; i < step.count; ++i)
        m_entries[firstEntry(step) + i] = quint16(valueAt(step, i));
}
