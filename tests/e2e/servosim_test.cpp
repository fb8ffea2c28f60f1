// The simulated line: exact answers, framing of a noisy stream, faults that
// repeat from their seed, and servosim as a user runs it.
#include <csignal>
#include <functional>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "bitwise_crc.h"
#include "faultplan.h"
#include "hosttest.h"
#include "modbuscrc.h"
#include "ptylink.h"
#include "rtuframer.h"
#include "servoctl_run.h"
#include "termiosline.h"
#include "test_files.h"

namespace {

TEST(SimLine, AnswersEveryFunctionAndItsExceptionsByteForByte)
{
    SimAreaSizes sizes;
    sizes.holdingRegisters = 1300;
    SimLine line({1, 5}, sizes);
    const struct
    {
        const char *request, *answer; // hex, without CRC; answer null: none
    } exchanges[] = {
        {"0106006412 34", "0106006412 34"},              // write register 100
        {"01030063 0002", "010304 0000 1234"},           // read 99 and 100
        {"0110000A 0002 04 ABCD 0001", "0110000A 0002"}, // write 10 and 11
        {"0103000A 0002", "010304 ABCD 0001"},
        {"01040000 0003", "010406 03E8 03E9 03EA"}, // station x 1000 + address
        {"05040002 0001", "050402 138A"},
        {"0105000A FF00", "0105000A FF00"},         // coil 10 on
        {"010F000C 000A 02 CD01", "010F000C 000A"}, // coils 12 to 21
        {"01010008 0010", "010102 D41C"},           // coils 8 to 23
        {"01020000 000A", "010202 4902"},           // inputs on at multiples of 3
        {"012B0E01 00", "01AB01"},                  // illegal function
        {"0103007D 007E", "018303"},                // 126 registers
        {"01030513 0002", "018302"},                // past register 1299
        {"01010000 07D1", "018103"},                // 2001 bits
        {"0105000A 1234", "018503"},                // coil value neither on nor off
        {"0110000A 0002 02 ABCD", "019003"},        // byte count short
        {"0106FFFF 0001", "018602"},
        {"02030000 0001", nullptr}, // another station's drive
        {"00060001 0007", nullptr}, // broadcast
    };
    for (const auto &e : exchanges) {
        const SimAnswer answer = line.process(hexWithCrc(e.request));
        EXPECT_EQ(answer.frame.toHex(), e.answer ? hexWithCrc(e.answer).toHex() : QByteArray()) << e.request;
    }
    EXPECT_EQ(line.value(1, SimArea::HoldingRegisters, 1), 7) << "the broadcast reached station 1";
    EXPECT_EQ(line.value(5, SimArea::HoldingRegisters, 1), 7) << "and station 5";

    QByteArray damaged = hexWithCrc("01030000 0001");
    damaged[7] = char(damaged[7] ^ 1);
    EXPECT_TRUE(line.process(damaged).frame.isEmpty());
    // Bad frames, other stations', broadcasts and exceptions.
    const SimStats stats = line.stats();
    EXPECT_EQ(std::make_tuple(stats.badFrames, stats.otherStations, stats.broadcasts, stats.exceptions),
              std::make_tuple(1, 1, 1, 7));
}

// A drive that answers an exception carried nothing out: after each write
// it refused, a read shows the old values.
TEST(SimLine, AnExceptionFaultWritesNothing)
{
    SimLine line({1});
    ASSERT_TRUE(line.setValue(1, SimArea::HoldingRegisters, 10, 0x1234));
    FaultPlan busy;
    busy.rate[FaultPlan::Exception] = 1;
    const char *const refused[][2] = {
        {"0106000A ABCD", "018606"},
        {"0110000A 0002 04 ABCD 0001", "019006"},
        {"0105000B FF00", "018506"},
        {"010F000A 0003 01 07", "018F06"},
    };
    for (const auto &r : refused) {
        line.setFaults(busy, 1);
        EXPECT_EQ(line.process(hexWithCrc(r[0])).frame.toHex(), hexWithCrc(r[1]).toHex());
        line.setFaults(FaultPlan(), 1);
        EXPECT_EQ(line.process(hexWithCrc("0103000A 0002")).frame.toHex(), hexWithCrc("010304 1234 0000").toHex())
            << r[0];
        EXPECT_EQ(line.process(hexWithCrc("0101000A 0003")).frame.toHex(), hexWithCrc("010101 00").toHex()) << r[0];
    }
    EXPECT_EQ(line.stats().exceptions, 0) << "no request was illegal";
}

TEST(RtuFramer, FindsRequestsInANoisyStream)
{
    RtuFramer framer;
    const QByteArray a = hexWithCrc("01030000000A");
    const QByteArray b = hexWithCrc("0110000A000204ABCD0001");
    const QByteArray stream = QByteArray::fromHex("FF0003") + a + b + a.left(5);
    // Every whole frame it holds, in order.
    const auto frames = [&framer] {
        QList<QByteArray> taken;
        for (QByteArray frame; framer.takeFrame(&frame);)
            taken.append(frame);
        return taken;
    };
    framer.append(stream.constData(), stream.size());
    EXPECT_EQ(frames(), QList<QByteArray>({a, b})) << "the rest is incomplete";
    EXPECT_EQ(framer.discarded(), 3);
    EXPECT_EQ(framer.takeAtSilence(), a.left(5));

    // A frame of a function the framer cannot size ends where a known
    // request begins, and is handed on whole when its own CRC holds.
    const QByteArray other = hexWithCrc("01080000ABCD");
    framer.append((other + a).constData(), other.size() + a.size());
    EXPECT_EQ(frames(), QList<QByteArray>({other, a}));
    EXPECT_EQ(framer.discarded(), 3);
    // Random noise, with the line answering it: fuzz/fuzz_sim_requests.cpp.
}

TEST(FaultPlan, ParsesRatesAndRefusesNonsense)
{
    FaultPlan plan;
    QString error;
    const char *good[][2] = {
        {"drop=0.1, delay=0.2:350,exception=0.05", "drop=0.1,exception=0.05,delay=0.2:350"},
        {"late=0.02:250,delay=0.02:15", "delay=0.02:15,late=0.02:250"},
        {"late=0.1,delay=0.1", "delay=0.1:200,late=0.1:1000"},
    };
    for (const auto &g : good) {
        ASSERT_TRUE(FaultPlan::parse(QLatin1String(g[0]), &plan, &error)) << qPrintable(error);
        EXPECT_EQ(plan.toString().toStdString(), g[1]);
    }
    const QString known = QStringLiteral(" (known: drop, corrupt, truncate, station, exception, delay, late, unheard, twin, noise, twice)");
    const QPair<const char *, QString> bad[] = {
        {"lose=0.1", "unknown fault: lose=0.1" + known},
        {"drop", "unknown fault: drop" + known},
        {"late=2", "invalid fault rate: late=2 (a number from 0 to 1)"},
        {"delay=0.1:x", "invalid fault time: delay=0.1:x (milliseconds from 1 to 60000)"},
        {"late=0.1:0", "invalid fault time: late=0.1:0 (milliseconds from 1 to 60000)"},
        {"drop=0.1,", "empty fault in drop=0.1, (faults are NAME=RATE separated by single commas)"},
        {"drop=0.1,twin=0.1,Drop=0.2", "fault named twice: drop"},
        {"delay=0.5:10,late=0.6", "fault rates add up to more than 1: delay=0.5:10,late=0.6"},
    };
    for (const auto &b : bad) {
        EXPECT_FALSE(FaultPlan::parse(QLatin1String(b.first), &plan, &error));
        EXPECT_EQ(error, b.second);
    }
}

QList<QByteArray> answersOf(quint64 seed, const QString &faults, int requests)
{
    FaultPlan plan;
    QString error;
    EXPECT_TRUE(FaultPlan::parse(faults, &plan, &error));
    SimLine line({1});
    line.setFaults(plan, seed);
    QList<QByteArray> answers;
    for (int i = 0; i < requests; ++i) {
        const SimAnswer a = line.process(hexWithCrc("010300000004"));
        answers.append(QByteArray::number(a.delayMs) + ':' + a.frame.toHex());
    }
    return answers;
}

TEST(FaultPlan, FaultsRepeatFromTheSeedAtTheirRates)
{
    const QString older = QStringLiteral("drop=0.1,corrupt=0.1,truncate=0.1,station=0.1,exception=0.1,delay=0.1:250");
    const QString all = older + QStringLiteral(",late=0.1:400");
    EXPECT_EQ(answersOf(42, all, 500), answersOf(42, all, 500));
    EXPECT_NE(answersOf(42, all, 500), answersOf(43, all, 500));

    const QByteArray good = hexWithCrc("010308 0000000000000000").toHex();
    // Late answers take only draws that were good ones: the older kinds
    // still hit the same requests in the same way.
    const QList<QByteArray> before = answersOf(42, older, 500);
    const QList<QByteArray> after = answersOf(42, all, 500);
    for (int i = 0; i < before.size(); ++i)
        EXPECT_EQ(before[i], after[i].startsWith("400:") ? "0:" + good : after[i]) << i;

    int counts[FaultPlan::KindCount] = {};
    for (const QByteArray &a : answersOf(7, all, 3000)) {
        const QByteArray frame = QByteArray::fromHex(a.mid(a.indexOf(':') + 1));
        ++counts[a.startsWith("400:")                                 ? FaultPlan::Late
                 : a.startsWith("250:")                               ? FaultPlan::Delay
                 : frame.isEmpty()                                    ? FaultPlan::Drop
                 : frame == hexWithCrc("018306")                      ? FaultPlan::Exception
                 : frame == hexWithCrc("020308 0000000000000000")     ? FaultPlan::WrongStation
                 : frame.size() < 13                                  ? FaultPlan::Truncate
                 : frame.toHex() != good && !hasValidModbusCrc(frame) ? FaultPlan::Corrupt
                                                                      : FaultPlan::None];
    }
    // The wiring faults are told by what the master sees: EndToEnd.RehearsedWiringFaults….
    for (int kind = FaultPlan::None; kind <= FaultPlan::Late; ++kind) {
        const int expected = kind == FaultPlan::None ? 900 : 300;
        EXPECT_GT(counts[kind], expected * 3 / 4) << FaultPlan::name(FaultPlan::Kind(kind));
        EXPECT_LT(counts[kind], expected * 5 / 4) << FaultPlan::name(FaultPlan::Kind(kind));
    }
}

TEST(SimServer, PacesAnswersAtTheBaudRate)
{
    SimulatedLine sim({1}, QStringLiteral("RS485,9600,NONE,8,2"));
    sim.server.stop();
    sim.server.setPacing(true);
    ASSERT_TRUE(sim.server.start());
    const QByteArray request = hexWithCrc("01030000000A"); // 25-byte answer
    sim.port.send(request.constData(), request.size());
    char answer[32];
    const qint64 start = monotonicNs();
    ASSERT_EQ(sim.port.receive(answer, 25), 25);
    // 25 characters of 11 bits at 9600 baud, the first leaving at once.
    EXPECT_GE(monotonicNs() - start, 24 * LineSettings().characterTimeNs());
    EXPECT_EQ(QByteArray(answer, 25), hexWithCrc("010314 0000000000000000000000000000000000000000"));
}

TEST(SimServer, UnpluggedAndPluggedBackServesTheSameDrivesOnANewTerminal)
{
    SimulatedLine sim({1});
    ASSERT_TRUE(sim.line.setValue(1, SimArea::HoldingRegisters, 5, 0xBEEF));
    const QString before = sim.server.path();
    // The adapter's fixed name, kept as the soak keeps it.
    const QTemporaryDir dir;
    PtyLink link(dir.filePath(QStringLiteral("ttyUSB0")));
    ASSERT_TRUE(link.make(before)) << qPrintable(link.errorString());
    ASSERT_TRUE(link.make(before)) << "its own link to a live terminal: " << qPrintable(link.errorString());
    const int client = ::open(before.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    sim.server.close();
    link.remove();
    pollfd pfd = {client, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 1000), 1);
    EXPECT_TRUE(pfd.revents & POLLHUP) << "the client sees the adapter gone";

    ASSERT_TRUE(sim.server.openPty(sim.server.lineSettings())) << qPrintable(sim.server.errorString());
    ASSERT_TRUE(sim.server.start());
    EXPECT_NE(sim.server.path(), before);
    ASSERT_TRUE(link.make(sim.server.path())) << qPrintable(link.errorString());
    ASSERT_TRUE(sim.port.open(link.path(), sim.server.lineSettings())) << qPrintable(sim.port.errorString());
    const QByteArray request = hexWithCrc("010300050001");
    sim.port.send(request.constData(), request.size());
    char answer[7];
    ASSERT_EQ(sim.port.receive(answer, 7), 7);
    EXPECT_EQ(QByteArray(answer, 7), hexWithCrc("010302BEEF"));
    ::close(client);
}

// servosim started as a user starts it. Once it has printed its terminal's
// path, whileServing runs; then it is interrupted.
Outcome servosim(const QStringList &args, const std::function<void(const QString &)> &whileServing = {})
{
    ChildProcess child(SERVOSIM_COMMAND, args);
    const QString terminal = servedLine(child);
    if (terminal.startsWith(QLatin1String("/dev/"))) {
        if (whileServing)
            whileServing(terminal);
        child.signal(SIGTERM);
    }
    const int status = child.finish();
    return Outcome{status, child.out(), child.err()};
}

// What is at a path, as the tables below say it: "nothing", "directory",
// "file: CONTENTS" or "link to TARGET" (targets are absolute).
std::string stateOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget().toStdString();
    if (info.isDir())
        return "directory";
    return info.exists() ? "file: " + contentsOf(path).toStdString() : "nothing";
}

void place(const QString &state, const QString &path)
{
    if (state.startsWith(QLatin1String("link to ")))
        QFile::link(state.mid(8), path);
    else if (state == QLatin1String("directory"))
        QDir().mkdir(path);
    else if (state.startsWith(QLatin1String("file: ")))
        writeFile(path, state.mid(6).toLocal8Bit());
    ASSERT_EQ(stateOf(path), state.toStdString());
}

TEST(Servosim, LinkTakesOnlyANameThatIsFreeOrALinkIntoDevPts)
{
    // A dangling link to a terminal is one a killed servosim left; one to a
    // live terminal may be another servosim's, or a terminal that took a
    // killed one's number: taken over, and said. Another servosim may also
    // take the name over while this one serves.
    SimLine drives({1});
    SimServer other(&drives);
    ASSERT_TRUE(other.openPty(LineSettings()));
    const std::string toOther = "link to " + other.path().toStdString();
    // Refusal: what servosim says is there; null: it serves.
    const struct
    {
        const char *before, *refusal, *takenOverBy, *afterExit;
    } cases[] = {
        {"file: a user's notes", "is a regular file", nullptr, "file: a user's notes"},
        {"directory", "is a directory", nullptr, "directory"},
        {"link to /etc/passwd", "is a symbolic link to /etc/passwd", nullptr, "link to /etc/passwd"},
        {toOther.c_str(), nullptr, nullptr, "nothing"},
        {"nothing", nullptr, nullptr, "nothing"},
        {"link to /dev/pts/98765", nullptr, nullptr, "nothing"},
        {"nothing", nullptr, "link to /dev/pts/98766", "link to /dev/pts/98766"},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttySIM"));
        place(QLatin1String(c.before), path);
        const Outcome run = servosim({"--link", path}, [&](const QString &terminal) {
            EXPECT_EQ(stateOf(path), "link to " + terminal.toStdString());
            if (c.takenOverBy && QFile::remove(path))
                place(QLatin1String(c.takenOverBy), path);
        });
        EXPECT_EQ(run.status, c.refusal ? 2 : 0) << c.before << ": " << qPrintable(run.err);
        if (c.refusal) {
            EXPECT_EQ(run.err, QStringLiteral("servosim: not replacing %1: it %2\n").arg(path, QLatin1String(c.refusal)));
        }
        EXPECT_EQ(run.err.contains(QStringLiteral("took %1 over from %2, a terminal still there").arg(path, other.path())),
                  c.before == toOther)
            << c.before << ": " << qPrintable(run.err);
        EXPECT_EQ(stateOf(path), c.afterExit) << c.before;
    }
}

TEST(Servosim, EveryCommandLineMistakeExitsWith2AndOneLine)
{
    // A --load file is checked whole, against the drives simulated: against
    // --stations and --holding in docs/servosim.md's examples. What the
    // parsers behind --load, --stations and --faults refuse is pinned in
    // process (ServoctlBackup.RefusesBadMapsAndBackupsBeforeSendingAnything,
    // ServoctlPlan.RefusesMalformedInputNamingTheWord, FaultPlan above).
    QTemporaryDir dir;
    const QString d5 = fileIn(dir, "d5.txt", "# station: 5\nHR7 word 1\nDO9 bit 1\n");
    const struct
    {
        QStringList args;
        QString said; // after "servosim: "
    } mistakes[] = {
        {{"--load", d5, "--coils", "8"}, d5 + ":3: DO9 bit: the simulated drives have 8 coils (--coils 8)"},
        {{"--load", dir.filePath("none")}, dir.filePath("none") + ": cannot read it: No such file or directory"},
        {{"--bogus"}, "Unknown option 'bogus'."},
        {{"--link", ""}, "--link takes a path, not an empty one"},
        {{"--line", "RS485,9600,NONE,7,2"}, "unsupported data bits for Modbus RTU: 7 (its frames are 8 data bits)"},
        {{"--model", "servos"}, "unknown model: servos (static or servo)"},
        {{"--pace", "--seed", "2", "--pace"}, "--pace given twice"},
        {{"--stations", "3-1"}, "3-1: stations are numbers from 1 to 247, or ranges such as 1-10, separated by commas"},
    };
    for (const auto &m : mistakes) {
        const Outcome run = servosim(m.args);
        EXPECT_EQ(run.status, 2) << qPrintable(m.args.join(' '));
        EXPECT_EQ(run.err.toStdString(), "servosim: " + m.said.toStdString() + "\n");
    }
    EXPECT_EQ(servosim({"--help"}).status, 0);
}

TEST(Servosim, TakesTheDeviceForItselfAndRefusesOneInUse)
{
    SimLine drives({1});
    SimServer unused(&drives); // its pseudo-terminal stands in for a device
    ASSERT_TRUE(unused.openPty(LineSettings()));
    Outcome second;
    const Outcome first = servosim({"--device", unused.path()}, [&](const QString &) {
        second = servosim({"--device", unused.path()});
    });
    EXPECT_EQ(first.status, 0) << qPrintable(first.err);
    EXPECT_EQ(second.status, 2);
    EXPECT_TRUE(beginsWith(second.err, QStringLiteral("servosim: %1 is in use by ").arg(unused.path())));
}

} // namespace
