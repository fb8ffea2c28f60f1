#include "loadedvalues.h"

#include "parammap.h"
#include "simline.h"
#include "stationlist.h"
#include "values.h"

namespace {

// The parser lets through only what restore writes: HR and FN6HR
// registers, DO and FN5DO coils.
SimArea areaOf(const ParamEntry &entry)
{
    return entry.address.area->registers ? SimArea::HoldingRegisters : SimArea::Coils;
}

// Empty when the entry fits the drives' areas as --holding and --coils
// size them.
QString sizeRefusal(const ParamEntry &entry, const SimAreaSizes &sizes)
{
    const bool registers = areaOf(entry) == SimArea::HoldingRegisters;
    const int size = registers ? sizes.holdingRegisters : sizes.coils;
    const int last = entry.address.number - 1 + (entry.type->bits == 32 ? 1 : 0);
    if (last < size)
        return QString();
    const char *noun = registers ? "holding registers" : "coils";
    return QStringLiteral("%1 %2: the simulated drives have %3 %4 (--%5 %3)")
        .arg(entry.address.text, entry.typeName())
        .arg(size)
        .arg(QLatin1String(noun), QLatin1String(registers ? "holding" : "coils"));
}

// A dword's words in the order the driver reads them: low word first,
// high word first at an SW address.
void appendItems(const ParamEntry &entry, QList<LoadedValues::Item> *items)
{
    const SimArea area = areaOf(entry);
    const int address = entry.address.number - 1;
    if (entry.type->bits == 32) {
        const quint16 low = quint16(entry.value & 0xFFFF);
        const quint16 high = quint16(entry.value >> 16);
        items->append({area, address, 0xFFFF, entry.address.swapped ? high : low});
        items->append({area, address + 1, 0xFFFF, entry.address.swapped ? low : high});
    } else if (entry.type->bits == 1 && area == SimArea::HoldingRegisters) {
        const quint16 bit = quint16(1u << entry.address.bit);
        items->append({area, address, bit, quint16(entry.value ? bit : 0)});
    } else {
        items->append({area, address, quint16(area == SimArea::Coils ? 1 : 0xFFFF), quint16(entry.value)});
    }
}

} // namespace

bool readLoadedValues(const QString &path, bool stationsGiven, const SimAreaSizes &sizes, QList<int> *stations,
                      LoadedValues *values, QString *error)
{
    ParamFile file;
    if (!readParamFile(path, ParamFileKind::Backup, &file, error))
        return false;
    LoadedValues result;
    result.path = path;
    result.stations = *stations;
    if (file.station >= 0) {
        const QString where = QStringLiteral("%1:%2: station %3").arg(path).arg(file.stationLine).arg(file.station);
        if (file.station < 1 || file.station > 247) {
            *error = where + QStringLiteral(": a drive is station 1 to 247");
            return false;
        }
        if (stationsGiven && !stations->contains(file.station)) {
            *error = where + QStringLiteral(" is not among --stations %1").arg(stationListText(*stations));
            return false;
        }
        result.stations = {file.station};
    }
    for (const ParamEntry &entry : file.entries) {
        if (const QString why = sizeRefusal(entry, sizes); !why.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(entry.line).arg(why);
            return false;
        }
        appendItems(entry, &result.items);
    }
    result.entries = file.entries.size();
    if (!stationsGiven && file.station >= 0)
        *stations = result.stations;
    *values = result;
    return true;
}

void applyLoadedValues(const LoadedValues &values, SimLine *line)
{
    for (const int station : values.stations) {
        for (const LoadedValues::Item &item : values.items) {
            const quint16 kept = line->value(station, item.area, item.address) & quint16(~item.mask);
            line->setValue(station, item.area, item.address, quint16(kept | item.value));
        }
    }
}
