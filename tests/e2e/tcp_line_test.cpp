// RTU over TCP: servoctl -d tcp://HOST:PORT against servosim --tcp and
// against pymodbus (an independent peer), and pymodbus against servosim.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include <QStringList>

#include <gtest/gtest.h>

#include "servoctl_run.h"
#include "tcpaddress.h"
#include "tcpline.h"

namespace {

// servosim --tcp on a free port of the loopback, or on the one given.
std::unique_ptr<ChildProcess> startServosim(int port = 0, const QStringList &more = {})
{
    auto sim = std::make_unique<ChildProcess>(SERVOSIM_COMMAND,
                                              QStringList{"--tcp", QString::number(port), "--stations", "1,2"} + more);
    EXPECT_TRUE(sim->waitFor(QStringLiteral("\n"), 60000, ChildProcess::OutOnly)) << qPrintable(sim->err());
    return sim;
}

QString urlOf(const ChildProcess &sim)
{
    return sim.out().section(QLatin1Char('\n'), 0, 0);
}

int portOf(const QString &url)
{
    return url.section(QLatin1Char(':'), -1).toInt();
}

sockaddr_in loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

// A port of the loopback that nothing listens on (as far as can be known).
int closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

const char kPeer[] = "/usr/bin/python3|" PYMODBUS_PEER;

TEST(TcpLine, BadAddressesAndASettingsScanAreRefusedBeforeAnythingIsSent)
{
    // In process as servoctl's -d reads them; what a user sees of one:
    // docs/servoctl.md's example of tcp://converter:12x.
    const QString tcp = QStringLiteral("invalid TCP line: %1 (tcp://HOST:PORT, PORT 1 to 65535)");
    const QString mbap = QStringLiteral("invalid Modbus TCP address: %1 (modbus+tcp://HOST[:PORT], PORT 1 to 65535, "
                                        "502 where none is given)");
    TcpAddress address;
    QString error;
    for (const char *bad :
         {"tcp://", "tcp://host", "tcp://host:0", "tcp://host:99999", "tcp://host:12x", "tcp://:502", "tcp://::1:502",
          "tcp://host:+5", "modbus+tcp://", "modbus+tcp://host:0", "modbus+tcp://::1", "modbus+tcp://[::1]:"}) {
        EXPECT_FALSE(parseTcpUrl(QLatin1String(bad), &address, &error)) << bad;
        EXPECT_EQ(error, (*bad == 'm' ? mbap : tcp).arg(QLatin1String(bad)));
    }
    // A zone in an IPv6 host is shown as it was written; Modbus TCP's port
    // is 502 where none is given.
    for (const auto &[text, url] :
         {std::pair("tcp://[fe80::1%1]:502", "tcp://[fe80::1%1]:502"),
          std::pair("modbus+tcp://gateway", "modbus+tcp://gateway:502"),
          std::pair("MODBUS+TCP://[::1]", "modbus+tcp://[::1]:502"),
          std::pair("modbus+tcp://10.0.0.7:5020", "modbus+tcp://10.0.0.7:5020")}) {
        ASSERT_TRUE(parseTcpUrl(QLatin1String(text), &address, &error)) << qPrintable(error);
        EXPECT_EQ(address.url(), QLatin1String(url));
    }
    const auto expectRefused = [](const QStringList &args, int status, const QString &err) {
        const Outcome run = servoctl(args);
        EXPECT_EQ(run.status, status) << qPrintable(args.join(' '));
        EXPECT_EQ(run.err, err);
    };
    // The port would be taken: nothing listens there, and nothing connects.
    expectRefused({"-d", "tcp://127.0.0.1:1", "scan", "1-3", "stop", "1", "baud", "9600"}, 2,
                  "servoctl: scan: stop: a search of line settings needs a serial line; over TCP the converter's own "
                  "settings apply (scan only stations) (see servoctl --help)\n");
    const QString closed = QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort());
    expectRefused({"-d", closed, "read", "HR1"}, 1,
                  QStringLiteral("servoctl: cannot connect to %1: Connection refused\n").arg(closed));
}

TEST(TcpLine, ServoctlReadsWritesPollsAndScansThroughServosim)
{
    const std::unique_ptr<ChildProcess> sim = startServosim();
    const QString url = urlOf(*sim);
    ASSERT_TRUE(matches(url, "^tcp://127\\.0\\.0\\.1:[1-9][0-9]*$"));

    const Outcome run = servoctl(QStringList{"-d", url}
                                 + words("--station 2 read IR1 word 3 then write HR7 word 4321 -5 then read HR7 word 2 signed"));
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out, QStringLiteral("> read IR1 word 3\nIR1 = 2000\nIR2 = 2001\nIR3 = 2002\n"
                                      "> write HR7 word 4321 -5\nHR7: wrote 2 words\n"
                                      "> read HR7 word 2 signed\nHR7 = 4321\nHR8 = -5\n"));
    const Outcome scan = servoctl({"-d", url, "scan", "1-3"});
    EXPECT_EQ(scan.status, 0) << qPrintable(scan.err);
    // The converter's settings are not the ones servoctl was given: none shown.
    EXPECT_TRUE(scan.out.contains(QLatin1String("\n      1  the converter's        ")));
    EXPECT_TRUE(scan.out.contains(QLatin1String("\n2 stations found in 3 probed over TCP, "))) << qPrintable(scan.out);

    // While a poll holds the line: a second servoctl is refused by the lock,
    // another program that connects all the same by servosim.
    ChildProcess poll(SERVOCTL_COMMAND, {"-d", url, "--station", "1-2", "--interval", "20", "poll", "IR4"});
    ASSERT_TRUE(poll.waitFor(QStringLiteral("poll 2, 2 good"))) << qPrintable(poll.err());
    expectHeldBy(url, poll.pid());
    const int intruder = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(portOf(url));
    ASSERT_EQ(::connect(intruder, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_TRUE(sim->waitFor(QStringLiteral(" on %1 refused: the line has one master").arg(url)))
        << qPrintable(sim->err());
    char byte;
    EXPECT_EQ(::read(intruder, &byte, 1), 0); // closed without a word
    ::close(intruder);
    const int shown = poll.out().count(QLatin1String(" good\n"));
    ASSERT_TRUE(poll.waitFor(QStringLiteral("poll %1, %1 good").arg(shown + 2))) << qPrintable(poll.out());
    poll.signal(SIGINT);
    EXPECT_EQ(poll.finish(), 0);
    EXPECT_TRUE(holds(poll.out(), "\nstation 1  IR4 = 1003\nstation 2  IR4 = 2003\n"));
}

// A far end that sends every answer twice (servosim's twice fault, at once
// or a silent interval later). Over TCP a step check goes before every
// look-alike read: each value is right. On a pseudo-terminal, which keeps no
// time either, a copy may pass for the next answer: then the run fails,
// saying that what was read may belong to earlier requests.
TEST(TcpLine, AnswersSentTwiceAreNeverShownAsGood)
{
    const QStringList reads = words("read IR1 word 2 then read IR3 word 2 then read IR5 word 2 then read IR7 word 2");
    const QString right = QStringLiteral("> read IR1 word 2\nIR1 = 1000\nIR2 = 1001\n"
                                         "> read IR3 word 2\nIR3 = 1002\nIR4 = 1003\n"
                                         "> read IR5 word 2\nIR5 = 1004\nIR6 = 1005\n"
                                         "> read IR7 word 2\nIR7 = 1006\nIR8 = 1007\n");
    for (const bool paced : {false, true}) {
        const QStringList faults = QStringList{"--faults", "twice=1"} + (paced ? QStringList{"--pace"} : QStringList{});
        const std::unique_ptr<ChildProcess> sim = startServosim(0, faults);
        const Outcome run = servoctl(QStringList{"-d", urlOf(*sim)} + reads);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_EQ(run.out, right) << "paced " << paced;

        ChildProcess onPty(SERVOSIM_COMMAND, QStringList{"--stations", "1"} + faults);
        const Outcome local = servoctl(QStringList{"-d", servedLine(onPty)} + reads);
        if (local.status == 0) {
            EXPECT_EQ(local.out, right) << "paced " << paced;
        } else {
            EXPECT_EQ(local.status, 1) << qPrintable(local.err);
            EXPECT_TRUE(holds(local.err, "servoctl: station 1 sent an answer too many: what was "
                                         "read from it may belong to earlier requests"));
        }
    }
}

// The lock has no file another user could plant or remove: whoever holds
// its name (here this test) is named and servoctl does not go on; with
// --no-lock it does, and says so.
TEST(TcpLine, TheLockIsHeldByWhoeverHoldsItsNameAndNoLockIsSaid)
{
    const std::unique_ptr<ChildProcess> sim = startServosim();
    const QString url = urlOf(*sim);
    TcpAddress address;
    QString error;
    ASSERT_TRUE(parseTcpUrl(url, &address, &error)) << qPrintable(error);
    const int held = claimTcpLine(address, &error);
    ASSERT_GE(held, 0) << qPrintable(error);
    expectHeldBy(url, getpid());
    const Outcome unlocked = servoctl({"-d", url, "--no-lock", "read", "IR1"});
    EXPECT_EQ(unlocked.status, 0) << qPrintable(unlocked.err);
    EXPECT_EQ(unlocked.out, QLatin1String("IR1 = 1000\n"));
    EXPECT_EQ(unlocked.err, QStringLiteral("servoctl: --no-lock: %1 is used without its lock: another master "
                                           "on this machine may use the converter's line at the same time\n")
                                .arg(url));
    ::close(held);
    EXPECT_EQ(servoctl({"-d", url, "read", "IR1"}).out, QLatin1String("IR1 = 1000\n"));
}

// As RTU frames over TCP and as Modbus TCP, each answer matched by its
// transaction.
TEST(TcpLine, PymodbusServesServoctlAndReadsServosim)
{
    for (const char *scheme : {"tcp", "modbus+tcp"}) {
        const bool mbap = QLatin1String(scheme) != QLatin1String("tcp");
        ChildProcess server(kPeer, mbap ? QStringList{"server", "127.0.0.1", "mbap"} : QStringList{"server", "127.0.0.1"});
        if (!server.waitFor(QStringLiteral("\n"), 60000, ChildProcess::OutOnly)) {
            if (server.finish() == 3)
                GTEST_SKIP() << "python3-pymodbus is not installed: " << qPrintable(server.err());
            FAIL() << qPrintable(server.err());
        }
        const QString peer = QStringLiteral("%1://127.0.0.1:%2")
                                 .arg(QLatin1String(scheme), server.out().section(QLatin1Char(' '), 1).trimmed());
        const Outcome run = servoctl(QStringList{"-d", peer}
                                     + words("read HR1 word 3 then read DO1 bit 4 then write HR5 word 777 then read HR5"));
        EXPECT_EQ(run.status, 0) << scheme << qPrintable(run.err);
        EXPECT_EQ(run.out, QStringLiteral("> read HR1 word 3\nHR1 = 1000\nHR2 = 1001\nHR3 = 1002\n"
                                          "> read DO1 bit 4\nDO1 = 1\nDO2 = 0\nDO3 = 1\nDO4 = 0\n"
                                          "> write HR5 word 777\nHR5: wrote 1 word\n> read HR5\nHR5 = 777\n"));
        const Outcome poll = servoctl({"-d", peer, "--polls", "2", "--interval", "10", "poll", "HR2"});
        EXPECT_EQ(poll.status, 0) << qPrintable(poll.err);
        EXPECT_EQ(poll.out.count(QLatin1String("\nHR2 = 1001\n")), 2) << qPrintable(poll.out);
        EXPECT_TRUE(poll.out.endsWith(QLatin1String("2 polls, 2 good\n"))) << qPrintable(poll.out);
        const Outcome scan = servoctl({"-d", peer, "scan", "1-2"});
        EXPECT_EQ(scan.status, 0) << qPrintable(scan.err);
        EXPECT_TRUE(scan.out.contains(QLatin1String("1 station found in 2 probed"))) << qPrintable(scan.out);
        server.signal(SIGTERM);
    }

    const std::unique_ptr<ChildProcess> sim = startServosim();
    const QString url = urlOf(*sim);
    ASSERT_EQ(servoctl({"-d", url, "--station", "2", "write", "HR5", "word", "4321"}).status, 0);
    ChildProcess client(kPeer, {"client", "127.0.0.1", QString::number(portOf(url)), "2"});
    EXPECT_EQ(client.finish(), 0) << qPrintable(client.err());
    EXPECT_EQ(client.out(), QStringLiteral("IR 0-2: 2000 2001 2002\nHR 4: 4321\n"));
}

} // namespace
