#include "soakverify.h"

#include "simline.h"
#include "soaklayout.h"

namespace {

quint16 wordAt(const QByteArray &data, int offset)
{
    return quint16(quint8(data.at(offset)) | quint8(data.at(offset + 1)) << 8);
}

// Bits packed as the driver returns them: bit i in bit i % 8 of byte i / 8.
QByteArray packBits(const QVector<bool> &bits)
{
    QByteArray packed((bits.size() + 7) / 8, '\0');
    for (int i = 0; i < bits.size(); ++i) {
        if (bits[i])
            packed[i / 8] = char(quint8(packed.at(i / 8)) | 1 << (i % 8));
    }
    return packed;
}

// Letters, zero-based number and bit of a command address; a bit of -1 is
// left out.
struct Target
{
    QByteArray area;
    int reg = 0;
    int bit = -1;
    bool swap = false;
};

Target parseTarget(const QString &address)
{
    Target t;
    // FN6HR and FN5DO carry a digit among their letters.
    int i = address.startsWith(QLatin1String("FN")) ? 3 : 0;
    t.area = address.left(i).toLatin1();
    for (; i < address.size() && address.at(i).isLetter(); ++i)
        t.area.append(char(address.at(i).toLatin1()));
    int j = i;
    while (j < address.size() && address.at(j).isDigit())
        ++j;
    t.reg = address.mid(i, j - i).toInt() - 1;
    if (j < address.size() && address.at(j) == QLatin1Char('.'))
        t.bit = address.mid(j + 1).toInt();
    t.swap = address.endsWith(QLatin1String("SW"));
    return t;
}

SimArea registerArea(const QByteArray &area)
{
    return area == "IR" ? SimArea::InputRegisters : SimArea::HoldingRegisters;
}

// Bits start..start+count-1 of the register string from reg on.
QVector<bool> registerBits(const SimLine &line, int station, SimArea area, int reg, int start, int count)
{
    QVector<bool> bits(count);
    for (int k = 0; k < count; ++k) {
        const int at = start + k;
        bits[k] = (line.value(station, area, reg + at / 16) >> (at % 16)) & 1;
    }
    return bits;
}

// What a good read of command must return, from the drives as they are now.
QByteArray expectedRead(const SoakCommand &c, const SimLine &line, const StoreModel &store)
{
    const Target t = parseTarget(c.cmd.address);
    const int count = c.cmd.count;
    const int st = c.station;
    QByteArray out;
    switch (c.kind) {
    case SoakKind::ReadWords:
    case SoakKind::ReadInputWords:
        for (int i = 0; i < count; ++i)
            appendWord(out, line.value(st, registerArea(t.area), t.reg + i));
        return out;
    case SoakKind::ReadDWords:
        for (int i = 0; i < count; ++i) {
            const quint16 low = line.value(st, SimArea::HoldingRegisters, t.reg + 2 * i);
            const quint16 high = line.value(st, SimArea::HoldingRegisters, t.reg + 2 * i + 1);
            appendWord(out, t.swap ? high : low);
            appendWord(out, t.swap ? low : high);
        }
        return out;
    case SoakKind::ReadBytes:
        for (int i = 0; i < (count + 1) / 2; ++i)
            appendWord(out, line.value(st, SimArea::HoldingRegisters, t.reg + i));
        return out.left(count);
    case SoakKind::ReadCoils:
    case SoakKind::ReadInputs: {
        const SimArea area = c.kind == SoakKind::ReadCoils ? SimArea::Coils : SimArea::DiscreteInputs;
        QVector<bool> bits(count);
        for (int i = 0; i < count; ++i)
            bits[i] = line.value(st, area, t.reg + i) != 0;
        return packBits(bits);
    }
    case SoakKind::ReadRegisterBits:
        return packBits(registerBits(line, st, registerArea(t.area), t.reg, qMax(t.bit, 0), count));
    default: { // the store; entry 10 is the read-back station's register 1299
        const int first = t.reg + 1 - STORE_BASE;
        for (int e = first; e < first + count; ++e) {
            if (e < 10)
                appendWord(out, store.entries[e]);
            else
                appendWord(out, line.value(store.entries[9] & 0xFF, SimArea::HoldingRegisters, BROADCAST_REGISTER));
        }
        return out;
    }
    }
}

// Registers a write of command must have left on station, as (register,
// value) pairs.
QList<QPair<int, quint16>> expectedRegisters(const SoakCommand &c)
{
    const Target t = parseTarget(c.cmd.address);
    const QByteArray &d = c.data;
    QList<QPair<int, quint16>> regs;
    switch (c.kind) {
    case SoakKind::WriteWords:
    case SoakKind::WriteWordsFn6:
        for (int i = 0; 2 * i + 1 < d.size(); ++i)
            regs.append({t.reg + i, wordAt(d, 2 * i)});
        break;
    case SoakKind::WriteDWords:
        for (int i = 0; 4 * i + 3 < d.size(); ++i) {
            const quint16 first = wordAt(d, 4 * i);
            const quint16 second = wordAt(d, 4 * i + 2);
            regs.append({t.reg + 2 * i, t.swap ? second : first});
            regs.append({t.reg + 2 * i + 1, t.swap ? first : second});
        }
        break;
    case SoakKind::WriteBytes:
        for (int i = 0; 2 * i < d.size(); ++i) {
            const quint8 high = 2 * i + 1 < d.size() ? quint8(d.at(2 * i + 1)) : 0;
            regs.append({t.reg + i, quint16(quint8(d.at(2 * i)) | high << 8)});
        }
        break;
    default:
        break;
    }
    return regs;
}

// A bit write: the bits written changed, every other bit as before.
bool checkBits(const SimLine &line, int station, int reg, int bit, const QByteArray &data, const quint16 *before,
               int registers, QString *difference)
{
    for (int r = 0; r < registers; ++r) {
        quint16 expected = before[r];
        for (int j = 0; j < data.size(); ++j) {
            const int at = bit + j;
            if (at / 16 != r)
                continue;
            const quint16 mask = quint16(1u << (at % 16));
            expected = data.at(j) ? quint16(expected | mask) : quint16(expected & ~mask);
        }
        const quint16 now = line.value(station, SimArea::HoldingRegisters, reg + r);
        if (now != expected) {
            *difference = QStringLiteral("station %1 register %2 holds %3, expected %4")
                              .arg(station)
                              .arg(reg + r)
                              .arg(now, 4, 16, QLatin1Char('0'))
                              .arg(expected, 4, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

bool checkCoils(const SoakCommand &c, const Target &t, const SimLine &line, QString *difference)
{
    for (int i = 0; i < c.data.size(); ++i) {
        if (line.value(c.station, SimArea::Coils, t.reg + i) != (c.data.at(i) ? 1 : 0)) {
            *difference = QStringLiteral("coil %1 of station %2 not as written").arg(t.reg + i).arg(c.station);
            return false;
        }
    }
    return true;
}

void updateStore(const SoakCommand &c, const Target &t, StoreModel &store)
{
    const int first = t.reg + 1 - STORE_BASE;
    for (int i = 0; 2 * i + 1 < c.data.size() && first + i < 10; ++i)
        store.entries[first + i] = wordAt(c.data, 2 * i);
    if (store.entries[9] > 8) // the driver holds the read-back station at 8 or below
        store.entries[9] = 8;
}

bool checkBroadcast(const SoakCommand &c, const Target &t, const SimLine &line, const StoreModel &store, QString *difference)
{
    const QList<int> stations = store.broadcastStations();
    for (int s = 0; s < stations.size(); ++s) {
        const int station = stations.at(s);
        if (c.kind == SoakKind::WriteBroadcastBit) {
            const int index = line.stations().indexOf(station);
            if (!checkBits(line, station, BROADCAST_REGISTER, t.bit, c.data, c.before.constData() + index, 1, difference))
                return false;
        } else if (line.value(station, SimArea::HoldingRegisters, BROADCAST_REGISTER) != wordAt(c.data, 0)) {
            *difference = QStringLiteral("register 1299 of station %1 not as broadcast").arg(station);
            return false;
        }
    }
    return true;
}

bool checkRegisters(const SoakCommand &c, const SimLine &line, QString *difference)
{
    for (const auto &reg : expectedRegisters(c)) {
        const quint16 now = line.value(c.station, SimArea::HoldingRegisters, reg.first);
        if (now != reg.second) {
            *difference = QStringLiteral("register %1 of station %2 holds %3, written %4")
                              .arg(reg.first)
                              .arg(c.station)
                              .arg(now)
                              .arg(reg.second);
            return false;
        }
    }
    return true;
}

} // namespace

bool verifyGood(const SoakCommand &c, const QByteArray &result, const SimLine &line, StoreModel &store, QString *difference)
{
    if (!c.write) {
        const QByteArray expected = expectedRead(c, line, store);
        if (result == expected)
            return true;
        *difference = QStringLiteral("read %1, the drive holds %2")
                          .arg(QLatin1String(result.toHex(' ')), QLatin1String(expected.toHex(' ')));
        return false;
    }
    const Target t = parseTarget(c.cmd.address);
    switch (c.kind) {
    case SoakKind::WriteRegisterBit:
    case SoakKind::WriteRegisterBitFn6:
        return checkBits(line, c.station, t.reg, t.bit, c.data, c.before.constData(), c.before.size(), difference);
    case SoakKind::WriteCoils:
    case SoakKind::WriteCoilsFn5:
        return checkCoils(c, t, line, difference);
    case SoakKind::WriteStore:
        updateStore(c, t, store);
        return true;
    case SoakKind::WriteBroadcastWord:
    case SoakKind::WriteBroadcastWordFn6:
    case SoakKind::WriteBroadcastBit:
        return checkBroadcast(c, t, line, store, difference);
    default:
        return checkRegisters(c, line, difference);
    }
}
