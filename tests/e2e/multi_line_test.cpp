// Several serial lines driven at once, each from a thread of its own with a
// driver of its own, as a runtime with one communication thread per line
// does. The library starts no thread, takes no lock and keeps no shared
// mutable state: each line must read back exactly what its own thread
// wrote, and a ThreadSanitizer build (scripts/tsan) must see no race.
#include <iterator>
#include <thread>
#include <vector>

#include "communicatorcommand.h"
#include "hosttest.h"

namespace {

const int kLines = 4;
const int kRounds = 40;

QByteArray littleEndian(quint32 value, int bytes)
{
    QByteArray data;
    for (int i = 0; i < bytes; ++i)
        data.append(char(value >> (8 * i)));
    return data;
}

// One kind of item, written from a 16-bit value: registers take two words
// made of it; bits take its 16 bits, one byte each as servoctl sends them,
// and read back packed, low byte first.
struct ItemKind
{
    const char *address;
    int type, count;
    bool bits;

    QByteArray written(quint16 v) const
    {
        if (!bits)
            return readBack(v);
        QByteArray data;
        for (int i = 0; i < 16; ++i)
            data.append(char(v >> i & 1));
        return data;
    }
    QByteArray readBack(quint16 v) const
    {
        return bits ? littleEndian(v, 2) : littleEndian(quint32(quint16(~v)) << 16 | v, 4);
    }
};

const ItemKind kKinds[] = {
    {"HR100", CommunicatorCommand::Word, 2, false},
    {"FN6HR110", CommunicatorCommand::Word, 2, false},
    {"HR200", CommunicatorCommand::DoubleWord, 1, false},
    {"HR210SW", CommunicatorCommand::DoubleWord, 1, false},
    {"DO20", CommunicatorCommand::Bit, 16, true},
    {"HR300.4", CommunicatorCommand::Bit, 16, true}, // across two registers
};

// Every line's own values: its number in the top nibble, the round below.
quint16 valueFor(int line, int round, int kind)
{
    return quint16(line << 12 | round << 4 | kind);
}

// Writes and reads back every kind for a number of rounds; the first thing
// that went wrong, or nothing.
QString driveLine(DriverInterface *driver, SerialPort *port, int line)
{
    if (!driver->initialize(port))
        return QStringLiteral("initialize failed");
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < int(std::size(kKinds)); ++k) {
            const ItemKind &kind = kKinds[k];
            const CommunicatorCommand command(kind.type, kind.count, QLatin1String(kind.address));
            const quint16 value = valueFor(line, round, k);
            const QString where = QStringLiteral("%1 in round %2").arg(QLatin1String(kind.address)).arg(round);
            if (!driver->write(port, command, kind.written(value)))
                return QStringLiteral("writing %1: %2").arg(where, driver->getLastError());
            const QByteArray data = driver->read(port, command);
            if (driver->hasError())
                return QStringLiteral("reading %1: %2").arg(where, driver->getLastError());
            if (data != kind.readBack(value)) {
                return QStringLiteral("%1 read %2, wrote %3")
                    .arg(where, QLatin1String(data.toHex()), QLatin1String(kind.readBack(value).toHex()));
            }
        }
    }
    return QString();
}

TEST(MultiLine, FourLinesDrivenFromFourThreadsEachReadBackTheirOwnValues)
{
    // Each line has a drive of its own station number, so a request that
    // went out with another line's station would go unanswered.
    std::vector<std::unique_ptr<SimulatedLine>> lines;
    std::vector<std::unique_ptr<PluginDriver>> drivers; // one library, CreateDriver once per line
    for (int line = 0; line < kLines; ++line) {
        lines.emplace_back(new SimulatedLine({line + 1}));
        lines.back()->port.setSilentInterval(0);
        drivers.emplace_back(new PluginDriver);
        ASSERT_NE(drivers.back()->get(), nullptr) << qPrintable(drivers.back()->errorString());
    }

    std::vector<QString> failures(kLines);
    std::vector<std::thread> threads;
    for (int line = 0; line < kLines; ++line)
        threads.emplace_back([&, line] {
            failures[line] = driveLine(drivers[line]->get(), &lines[line]->port, line);
        });
    for (std::thread &thread : threads)
        thread.join();

    for (int line = 0; line < kLines; ++line) {
        EXPECT_TRUE(failures[line].isEmpty()) << "line " << line << ": " << qPrintable(failures[line]);
        const SimStats stats = lines[line]->line.stats();
        EXPECT_EQ(stats.otherStations, 0) << "line " << line;
        EXPECT_EQ(stats.badFrames, 0) << "line " << line;
        // What the last round left on the drive, seen on the line itself.
        EXPECT_EQ(lines[line]->line.value(line + 1, SimArea::HoldingRegisters, 99), valueFor(line, kRounds - 1, 0))
            << "line " << line;
    }
}

} // namespace
