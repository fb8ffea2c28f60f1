#include "soakcommands.h"

#include "simline.h"

namespace {

// Ordinary commands stay below this register or bit; the broadcast word
// lives in register 1299 of the drives.
const int AREA_END = 1000;
const int BROADCAST_REGISTER = 1299;
const int STORE_BASE = 60000; // HR60000 is entry 0

const char *const NAMES[int(SoakKind::Count)] = {
    "read words", "read input words", "read double words", "read bytes", "read coils",
    "read inputs", "read register bits", "read store", "read broadcast word",
    "write words", "write words fn6", "write double words", "write bytes",
    "write register bit", "write register bit fn6", "write coils", "write coils fn5",
    "write store", "write broadcast word", "write broadcast word fn6", "write broadcast bit"};

void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

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
QVector<bool> registerBits(const SimLine &line, int station, SimArea area, int reg, int start,
                           int count)
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
        const SimArea area = c.kind == SoakKind::ReadCoils ? SimArea::Coils
                                                           : SimArea::DiscreteInputs;
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
                appendWord(out, line.value(store.entries[9] & 0xFF, SimArea::HoldingRegisters,
                                           BROADCAST_REGISTER));
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
bool checkBits(const SimLine &line, int station, int reg, int bit, const QByteArray &data,
               const quint16 *before, int registers, QString *difference)
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
                              .arg(station).arg(reg + r).arg(now, 4, 16, QLatin1Char('0'))
                              .arg(expected, 4, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

int bitRegisters(int bit, int bits)
{
    return (bit + bits + 15) / 16;
}

} // namespace

const char *soakKindName(SoakKind kind)
{
    return NAMES[int(kind)];
}

QList<int> StoreModel::broadcastStations() const
{
    QList<int> stations;
    for (int i = 1; i <= qMin<int>(entries[0], 8); ++i)
        stations.append(entries[i] & 0xFF);
    return stations;
}

SoakCommandMix::SoakCommandMix(const QList<int> &stations, quint64 seed)
    : m_stations(stations), m_random(seed)
{
}

int SoakCommandMix::randomInt(int low, int high)
{
    return low + int(m_random() % quint64(high - low + 1));
}

QByteArray SoakCommandMix::randomBytes(int n)
{
    QByteArray bytes;
    for (int i = 0; i < n; ++i)
        bytes.append(char(m_random() & 0xFF));
    return bytes;
}

SoakCommand SoakCommandMix::setUpStore() const
{
    SoakCommand c;
    c.kind = SoakKind::WriteStore;
    c.write = true;
    c.station = m_stations.value(0, 1);
    c.cmd = CommunicatorCommand(CommunicatorCommand::Word, 10, QStringLiteral("HR60000"));
    quint16 entries[10] = {quint16(qMin(m_stations.size(), 8))};
    for (int i = 0; i < qMin(m_stations.size(), 8); ++i)
        entries[1 + i] = quint16(m_stations.at(i));
    entries[9] = quint16(m_stations.value(1, m_stations.value(0, 1)));
    for (const quint16 e : entries)
        appendWord(c.data, e);
    return c;
}

SoakCommand SoakCommandMix::nextLookAlike()
{
    SoakCommand c;
    c.kind = SoakKind::ReadInputWords;
    c.station = m_stations.first();
    c.cmd = CommunicatorCommand(CommunicatorCommand::Word, 2,
                                QStringLiteral("IR%1").arg(1 + 2 * randomInt(0, 3)));
    return c;
}

SoakCommand SoakCommandMix::next(const SimLine &line)
{
    SoakCommand c;
    c.kind = SoakKind(randomInt(0, int(SoakKind::Count) - 1));
    c.station = m_stations.at(randomInt(0, m_stations.size() - 1));
    const auto at = [&](int span) { return randomInt(1, AREA_END - span); };
    const auto address = [](const char *area, int number) {
        return QLatin1String(area) + QString::number(number);
    };
    int type = CommunicatorCommand::Word;
    int count = 1;
    QString text;
    switch (c.kind) {
    case SoakKind::ReadWords:
        count = randomInt(1, 20);
        text = address("HR", at(count));
        break;
    case SoakKind::ReadInputWords:
        count = randomInt(1, 20);
        text = address("IR", at(count));
        break;
    case SoakKind::ReadDWords:
        type = CommunicatorCommand::DoubleWord;
        count = randomInt(1, 10);
        text = address("HR", at(2 * count)) + (randomInt(0, 1) ? QStringLiteral("SW") : QString());
        break;
    case SoakKind::ReadBytes:
        type = randomInt(0, 1) ? CommunicatorCommand::Byte : CommunicatorCommand::Block;
        count = randomInt(1, 30);
        text = address("HR", at(count));
        break;
    case SoakKind::ReadCoils:
        type = randomInt(0, 1) ? CommunicatorCommand::Bit : CommunicatorCommand::Bit2;
        count = randomInt(1, 64);
        text = address(randomInt(0, 1) ? "DO" : "FN5DO", at(count));
        break;
    case SoakKind::ReadInputs:
        type = randomInt(0, 1) ? CommunicatorCommand::Bit : CommunicatorCommand::Bit2;
        count = randomInt(1, 64);
        text = address("DI", at(count));
        break;
    case SoakKind::ReadRegisterBits:
        type = CommunicatorCommand::Bit;
        count = randomInt(1, 40);
        text = address(randomInt(0, 1) ? "HR" : "IR", at(4)) + QStringLiteral(".%1").arg(randomInt(0, 15));
        break;
    case SoakKind::ReadStore: {
        const int entry = randomInt(0, 9);
        count = randomInt(1, 10 - entry);
        text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + entry);
        break;
    }
    case SoakKind::ReadBroadcastWord:
        text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + 10);
        break;
    case SoakKind::WriteWords:
        count = randomInt(1, 20);
        text = address("HR", at(count));
        c.data = randomBytes(2 * count);
        break;
    case SoakKind::WriteWordsFn6:
        count = randomInt(1, 4);
        text = address("FN6HR", at(count));
        c.data = randomBytes(2 * count);
        break;
    case SoakKind::WriteDWords:
        type = CommunicatorCommand::DoubleWord;
        count = randomInt(1, 3);
        text = address(randomInt(0, 1) ? "HR" : "FN6HR", at(2 * count))
            + (randomInt(0, 1) ? QStringLiteral("SW") : QString());
        c.data = randomBytes(4 * count);
        break;
    case SoakKind::WriteBytes:
        type = randomInt(0, 1) ? CommunicatorCommand::Byte : CommunicatorCommand::Block;
        count = randomInt(1, 9);
        text = address(randomInt(0, 1) ? "HR" : "FN6HR", at(count));
        c.data = randomBytes(count);
        break;
    case SoakKind::WriteRegisterBit:
    case SoakKind::WriteRegisterBitFn6: {
        type = CommunicatorCommand::Bit;
        count = randomInt(1, 3);
        const int bit = randomInt(0, 15);
        const int reg = at(2) - 1;
        text = address(c.kind == SoakKind::WriteRegisterBit ? "HR" : "FN6HR", reg + 1)
            + QStringLiteral(".%1").arg(bit);
        for (int j = 0; j < count; ++j)
            c.data.append(char(randomInt(0, 1)));
        for (int r = 0; r < bitRegisters(bit, count); ++r)
            c.before.append(line.value(c.station, SimArea::HoldingRegisters, reg + r));
        break;
    }
    case SoakKind::WriteCoils:
    case SoakKind::WriteCoilsFn5: {
        type = CommunicatorCommand::Bit;
        count = c.kind == SoakKind::WriteCoils ? randomInt(1, 40) : randomInt(1, 3);
        text = address(c.kind == SoakKind::WriteCoils ? "DO" : "FN5DO", at(count));
        for (int j = 0; j < count; ++j)
            c.data.append(char(randomInt(0, 1) * randomInt(1, 255)));
        break;
    }
    case SoakKind::WriteStore: {
        // The read-back station, or how many stations the broadcast uses.
        const bool readBack = randomInt(0, 1);
        const int value = readBack ? m_stations.at(randomInt(0, m_stations.size() - 1))
                                   : randomInt(1, qMin(m_stations.size(), 8));
        text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + (readBack ? 9 : 0));
        appendWord(c.data, quint16(value));
        break;
    }
    case SoakKind::WriteBroadcastWord:
    case SoakKind::WriteBroadcastWordFn6:
        text = address(c.kind == SoakKind::WriteBroadcastWord ? "HR" : "FN6HR", STORE_BASE + 10);
        c.data = randomBytes(2);
        break;
    default: // WriteBroadcastBit
        type = CommunicatorCommand::Bit;
        text = address("HR", STORE_BASE + 10) + QStringLiteral(".%1").arg(randomInt(0, 15));
        c.data.append(char(randomInt(0, 1)));
        for (const int station : m_stations)
            c.before.append(line.value(station, SimArea::HoldingRegisters, BROADCAST_REGISTER));
        break;
    }
    c.write = c.kind >= SoakKind::WriteWords;
    c.cmd = CommunicatorCommand(type, count, text);
    return c;
}

bool verifyGood(const SoakCommand &c, const QByteArray &result, const SimLine &line,
                StoreModel &store, QString *difference)
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
        return checkBits(line, c.station, t.reg, t.bit, c.data, c.before.constData(),
                         c.before.size(), difference);
    case SoakKind::WriteCoils:
    case SoakKind::WriteCoilsFn5:
        for (int i = 0; i < c.data.size(); ++i) {
            if (line.value(c.station, SimArea::Coils, t.reg + i) != (c.data.at(i) ? 1 : 0)) {
                *difference = QStringLiteral("coil %1 of station %2 not as written")
                                  .arg(t.reg + i).arg(c.station);
                return false;
            }
        }
        return true;
    case SoakKind::WriteStore: {
        const int first = t.reg + 1 - STORE_BASE;
        for (int i = 0; 2 * i + 1 < c.data.size() && first + i < 10; ++i)
            store.entries[first + i] = wordAt(c.data, 2 * i);
        if (store.entries[9] > 8) // the driver holds the read-back station at 8 or below
            store.entries[9] = 8;
        return true;
    }
    case SoakKind::WriteBroadcastWord:
    case SoakKind::WriteBroadcastWordFn6:
    case SoakKind::WriteBroadcastBit: {
        const QList<int> stations = store.broadcastStations();
        for (int s = 0; s < stations.size(); ++s) {
            const int station = stations.at(s);
            if (c.kind == SoakKind::WriteBroadcastBit) {
                const int index = line.stations().indexOf(station);
                if (!checkBits(line, station, BROADCAST_REGISTER, t.bit, c.data,
                               c.before.constData() + index, 1, difference))
                    return false;
            } else if (line.value(station, SimArea::HoldingRegisters, BROADCAST_REGISTER)
                       != wordAt(c.data, 0)) {
                *difference = QStringLiteral("register 1299 of station %1 not as broadcast")
                                  .arg(station);
                return false;
            }
        }
        return true;
    }
    default:
        for (const auto &reg : expectedRegisters(c)) {
            const quint16 now = line.value(c.station, SimArea::HoldingRegisters, reg.first);
            if (now != reg.second) {
                *difference = QStringLiteral("register %1 of station %2 holds %3, written %4")
                                  .arg(reg.first).arg(c.station).arg(now).arg(reg.second);
                return false;
            }
        }
        return true;
    }
}
