#include "soakcommands.h"

#include "simline.h"
#include "soaklayout.h"

namespace {

const char *const NAMES[int(SoakKind::Count)] = {
    "read words",          "read input words",   "read double words",      "read bytes",
    "read coils",          "read inputs",        "read register bits",     "read store",
    "read broadcast word", "write words",        "write words fn6",        "write double words",
    "write bytes",         "write register bit", "write register bit fn6", "write coils",
    "write coils fn5",     "write store",        "write broadcast word",   "write broadcast word fn6",
    "write broadcast bit"};

int bitRegisters(int bit, int bits)
{
    return (bit + bits + 15) / 16;
}

QString address(const char *area, int number)
{
    return QLatin1String(area) + QString::number(number);
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

SoakCommandMix::SoakCommandMix(const QList<int> &stations, quint64 seed) : m_stations(stations), m_random(seed)
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
    c.cmd = CommunicatorCommand(CommunicatorCommand::Word, 2, QStringLiteral("IR%1").arg(1 + 2 * randomInt(0, 3)));
    return c;
}

int SoakCommandMix::randomAddress(int span)
{
    return randomInt(1, AREA_END - span);
}

SoakCommand SoakCommandMix::next(const SimLine &line)
{
    SoakCommand c;
    c.kind = SoakKind(randomInt(0, int(SoakKind::Count) - 1));
    c.station = m_stations.at(randomInt(0, m_stations.size() - 1));
    CommandShape shape;
    if (c.kind < SoakKind::WriteWords)
        shape = readShape(c.kind);
    else if (c.kind < SoakKind::WriteRegisterBit)
        shape = registerWriteShape(c);
    else if (c.kind < SoakKind::WriteStore)
        shape = bitWriteShape(line, c);
    else
        shape = storeWriteShape(line, c);
    c.write = c.kind >= SoakKind::WriteWords;
    c.cmd = CommunicatorCommand(shape.type, shape.count, shape.text);
    return c;
}

SoakCommandMix::CommandShape SoakCommandMix::readShape(SoakKind kind)
{
    CommandShape s;
    switch (kind) {
    case SoakKind::ReadWords:
        s.count = randomInt(1, 20);
        s.text = address("HR", randomAddress(s.count));
        break;
    case SoakKind::ReadInputWords:
        s.count = randomInt(1, 20);
        s.text = address("IR", randomAddress(s.count));
        break;
    case SoakKind::ReadDWords:
        s.type = CommunicatorCommand::DoubleWord;
        s.count = randomInt(1, 10);
        s.text = address("HR", randomAddress(2 * s.count)) + (randomInt(0, 1) ? QStringLiteral("SW") : QString());
        break;
    case SoakKind::ReadBytes:
        s.type = randomInt(0, 1) ? CommunicatorCommand::Byte : CommunicatorCommand::Block;
        s.count = randomInt(1, 30);
        s.text = address("HR", randomAddress(s.count));
        break;
    case SoakKind::ReadCoils:
        s.type = randomInt(0, 1) ? CommunicatorCommand::Bit : CommunicatorCommand::Bit2;
        s.count = randomInt(1, 64);
        s.text = address(randomInt(0, 1) ? "DO" : "FN5DO", randomAddress(s.count));
        break;
    case SoakKind::ReadInputs:
        s.type = randomInt(0, 1) ? CommunicatorCommand::Bit : CommunicatorCommand::Bit2;
        s.count = randomInt(1, 64);
        s.text = address("DI", randomAddress(s.count));
        break;
    case SoakKind::ReadRegisterBits:
        s.type = CommunicatorCommand::Bit;
        s.count = randomInt(1, 40);
        s.text = address(randomInt(0, 1) ? "HR" : "IR", randomAddress(4)) + QStringLiteral(".%1").arg(randomInt(0, 15));
        break;
    case SoakKind::ReadStore: {
        const int entry = randomInt(0, 9);
        s.count = randomInt(1, 10 - entry);
        s.text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + entry);
        break;
    }
    default: // ReadBroadcastWord
        s.text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + 10);
        break;
    }
    return s;
}

SoakCommandMix::CommandShape SoakCommandMix::registerWriteShape(SoakCommand &c)
{
    CommandShape s;
    switch (c.kind) {
    case SoakKind::WriteWords:
        s.count = randomInt(1, 20);
        s.text = address("HR", randomAddress(s.count));
        c.data = randomBytes(2 * s.count);
        break;
    case SoakKind::WriteWordsFn6:
        s.count = randomInt(1, 4);
        s.text = address("FN6HR", randomAddress(s.count));
        c.data = randomBytes(2 * s.count);
        break;
    case SoakKind::WriteDWords:
        s.type = CommunicatorCommand::DoubleWord;
        s.count = randomInt(1, 3);
        s.text = address(randomInt(0, 1) ? "HR" : "FN6HR", randomAddress(2 * s.count))
                 + (randomInt(0, 1) ? QStringLiteral("SW") : QString());
        c.data = randomBytes(4 * s.count);
        break;
    default: // WriteBytes
        s.type = randomInt(0, 1) ? CommunicatorCommand::Byte : CommunicatorCommand::Block;
        s.count = randomInt(1, 9);
        s.text = address(randomInt(0, 1) ? "HR" : "FN6HR", randomAddress(s.count));
        c.data = randomBytes(s.count);
        break;
    }
    return s;
}

// Bits inside registers and coils.
SoakCommandMix::CommandShape SoakCommandMix::bitWriteShape(const SimLine &line, SoakCommand &c)
{
    CommandShape s;
    s.type = CommunicatorCommand::Bit;
    if (c.kind == SoakKind::WriteRegisterBit || c.kind == SoakKind::WriteRegisterBitFn6) {
        s.count = randomInt(1, 3);
        const int bit = randomInt(0, 15);
        const int reg = randomAddress(2) - 1;
        s.text = address(c.kind == SoakKind::WriteRegisterBit ? "HR" : "FN6HR", reg + 1) + QStringLiteral(".%1").arg(bit);
        for (int j = 0; j < s.count; ++j)
            c.data.append(char(randomInt(0, 1)));
        for (int r = 0; r < bitRegisters(bit, s.count); ++r)
            c.before.append(line.value(c.station, SimArea::HoldingRegisters, reg + r));
        return s;
    }
    s.count = c.kind == SoakKind::WriteCoils ? randomInt(1, 40) : randomInt(1, 3);
    s.text = address(c.kind == SoakKind::WriteCoils ? "DO" : "FN5DO", randomAddress(s.count));
    for (int j = 0; j < s.count; ++j)
        c.data.append(char(randomInt(0, 1) * randomInt(1, 255)));
    return s;
}

// The special word store and the broadcast.
SoakCommandMix::CommandShape SoakCommandMix::storeWriteShape(const SimLine &line, SoakCommand &c)
{
    CommandShape s;
    switch (c.kind) {
    case SoakKind::WriteStore: {
        // The read-back station, or how many stations the broadcast uses.
        const bool readBack = randomInt(0, 1);
        const int value = readBack ? m_stations.at(randomInt(0, m_stations.size() - 1))
                                   : randomInt(1, qMin(m_stations.size(), 8));
        s.text = address(randomInt(0, 1) ? "HR" : "FN6HR", STORE_BASE + (readBack ? 9 : 0));
        appendWord(c.data, quint16(value));
        break;
    }
    case SoakKind::WriteBroadcastWord:
    case SoakKind::WriteBroadcastWordFn6:
        s.text = address(c.kind == SoakKind::WriteBroadcastWord ? "HR" : "FN6HR", STORE_BASE + 10);
        c.data = randomBytes(2);
        break;
    default: // WriteBroadcastBit
        s.type = CommunicatorCommand::Bit;
        s.text = address("HR", STORE_BASE + 10) + QStringLiteral(".%1").arg(randomInt(0, 15));
        c.data.append(char(randomInt(0, 1)));
        for (const int station : m_stations)
            c.before.append(line.value(station, SimArea::HoldingRegisters, BROADCAST_REGISTER));
        break;
    }
    return s;
}
