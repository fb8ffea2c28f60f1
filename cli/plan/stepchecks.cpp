#include "stepchecks.h"

#include "storemodel.h"
#include "teco_servo_limits.h"

namespace {

// The driver's per-request limits: registers read with functions 3 and 4 or
// written with 16 (and 6, checked alike); coils and inputs read with 1 and
// 2, coils written with 15 (and 5, checked alike).
struct RequestLimit
{
    bool write;
    bool registers;
    int units;
};

const RequestLimit kRequestLimits[] = {
    {false, true, TecoServoLimit::ReadRegisters},
    {false, false, TecoServoLimit::ReadBits},
    {true, true, TecoServoLimit::WriteRegisters},
    {true, false, TecoServoLimit::WriteCoils},
};

int requestLimit(bool write, bool registers)
{
    for (const RequestLimit &limit : kRequestLimits) {
        if (limit.write == write && limit.registers == registers)
            return limit.units;
    }
    return 0;
}

} // namespace

bool isWrite(const Step &step)
{
    return step.action == Step::Write;
}

namespace {

// Registers are 16 bits wide, coils and inputs one.
qint64 unitBits(const Step &step)
{
    return step.address.area->registers ? 16 : 1;
}

// Registers, or coils or inputs, that the step's items span from its address.
qint64 unitsSpanned(const Step &step)
{
    const qint64 bits = qMax(step.address.bit, 0) + qint64(step.count) * step.type->bits;
    return (bits + unitBits(step) - 1) / unitBits(step);
}

// The most items of the step's type that units registers (coils, inputs) hold.
qint64 itemsWithin(const Step &step, qint64 units)
{
    return (units * unitBits(step) - qMax(step.address.bit, 0)) / step.type->bits;
}

} // namespace

int firstUnit(const Step &step)
{
    return step.address.number;
}

int lastUnit(const Step &step)
{
    return int(step.address.number + unitsSpanned(step) - 1);
}

bool reachesStore(const Step &step)
{
    const Area &area = *step.address.area;
    return area.registers && area.writable && step.address.number <= kStoreLast && lastUnit(step) >= kStoreFirst;
}

// Words from there on, and bits written there, are the driver's memory, not a
// drive's; any other command by those numbers reaches the drive's registers.
bool servedByStore(const Step &step)
{
    const bool startsInStore = reachesStore(step) && step.address.number >= kStoreFirst;
    return startsInStore && (step.type->bits == 16 || (isWrite(step) && step.type->bits == 1));
}

namespace {

// Each refusal names what is wrong with the step; empty when nothing is.
QString typeRefusal(const Step &step)
{
    const DataType &type = *step.type;
    const Area &area = *step.address.area;
    const bool bits = type.bits == 1;
    if (type.refusal)
        return QStringLiteral("%1: %2").arg(QLatin1String(type.name), QLatin1String(type.refusal));
    if (isWrite(step) && !area.writable)
        return QStringLiteral("%1 is read-only").arg(QLatin1String(area.name));
    if (!bits && !area.registers) {
        return QStringLiteral("%1 goes only with a register area (%2), not %3")
            .arg(QLatin1String(type.name), areaNames(true), QLatin1String(area.name));
    }
    if (step.address.hasBit() && !(bits && area.registers))
        return QStringLiteral("a bit number goes only with bit and bit2 on %1").arg(areaNames(true));
    if (step.address.swapped && !(type.bits == 32 && area.registers))
        return QStringLiteral("SW goes only with dword on %1").arg(areaNames(true));
    return QString();
}

// int32 and float view a dword's two words; they mean nothing for other items.
QString formatRefusalOf(const Step &step)
{
    return isWrite(step) ? QString() : formatRefusal(step.format, *step.type);
}

// Station 0 reaches every drive and none answers: a write is sent only when
// the driver makes it one request that waits for nothing before it.
QString broadcastRefusal(const Step &step)
{
    if (step.station != kBroadcastStation || servedByStore(step))
        return QString();
    const QString why = QStringLiteral("station 0 is the broadcast address: ");
    const Area &area = *step.address.area;
    if (!isWrite(step))
        return why + QStringLiteral("no drive answers a read");
    if (area.registers && step.type->bits == 1)
        return why + QStringLiteral("the driver reads a register before it writes bits inside it");
    if (area.requestPerItem && unitsSpanned(step) > 1) {
        return why
               + QStringLiteral("%1 sends one request per %2, so write one %2 at a time")
                     .arg(QLatin1String(area.name), QLatin1String(area.itemNoun));
    }
    return QString();
}

QString countRefusal(const Step &step)
{
    const Address &address = step.address;
    const DataType &type = *step.type;
    const bool write = isWrite(step);
    const qint64 units = unitsSpanned(step);
    const int limit = requestLimit(write, address.area->registers);
    if (units > limit) {
        return QStringLiteral("at most %1 %2 in one %3 (%4 given)")
            .arg(itemsWithin(step, limit))
            .arg(QLatin1String(type.plural))
            .arg(QLatin1String(write ? "write" : "read"))
            .arg(step.count);
    }
    if (lastUnit(step) > kLastItem) {
        return QStringLiteral("%1 %2 run past %3%4, the last %5")
            .arg(step.count)
            .arg(QLatin1String(step.count == 1 ? type.name : type.plural))
            .arg(QLatin1String(address.area->name))
            .arg(kLastItem)
            .arg(QLatin1String(address.area->itemNoun));
    }
    return QString();
}

// What a write changes beyond the items named: the driver writes bytes two
// to a register, and a bit by rewriting the register that holds it.
QString writeRefusal(const Step &step)
{
    if (!isWrite(step) || !step.address.area->registers)
        return QString();
    const DataType &type = *step.type;
    if (type.bits == 8 && step.count % 2) {
        return QStringLiteral("bytes are written two to a register: with %1 %2 the driver would also "
                              "write 0 into %3; give an even number of bytes")
            .arg(step.count)
            .arg(QLatin1String(step.count == 1 ? "byte" : "bytes"))
            .arg(step.address.itemLabel(type, step.count));
    }
    if (type.bits == 1 && step.address.bit > kLastRegisterBit) {
        return QStringLiteral("a bit write names bit 0 to %1 of the register it changes: write %2 instead")
            .arg(kLastRegisterBit)
            .arg(step.address.itemLabel(type, 0));
    }
    return QString();
}

} // namespace

QString stepRefusal(const Step &step)
{
    for (QString (*check)(const Step &) : {typeRefusal, formatRefusalOf, broadcastRefusal, countRefusal, writeRefusal}) {
        const QString why = check(step);
        if (!why.isEmpty())
            return why;
    }
    return QString();
}

// Functions 1 and 2 read, 15 writes, one request for the whole count; FN5DO
// writes a request per coil, each well within.
QString pastStandardWarning(const Step &step)
{
    const Area &area = *step.address.area;
    const bool write = isWrite(step);
    if (area.registers || (write && area.requestPerItem))
        return QString();
    const int limit = write ? kStandardCoilsPerWrite : kStandardBitsPerRead;
    const qint64 units = unitsSpanned(step);
    if (units <= limit)
        return QString();
    return QStringLiteral("%1 %2s in one %3 go past the Modbus standard's %4: the driver sends them, but a "
                          "drive that keeps to the standard answers exception 03 (illegal data value)")
        .arg(units)
        .arg(QLatin1String(area.itemNoun))
        .arg(QLatin1String(write ? "write" : "read"))
        .arg(limit);
}
