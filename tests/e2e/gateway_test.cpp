// servoctl gateway on the simulated line: what a raw Modbus TCP client
// gets back, byte for byte, what never reaches the line, and servoctl and
// pymodbus as its clients, two at once.
#include <csignal>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

const char kGatewayPeer[] = "/usr/bin/python3|" GATEWAY_PEER;
const char kPymodbus[] = "/usr/bin/python3|" PYMODBUS_PEER;

// A gateway on a free port of the loopback; its port, or 0.
int startGateway(ChildProcess &gateway)
{
    if (!gateway.waitFor(QStringLiteral("\n"), 60000, ChildProcess::OutOnly))
        return 0;
    return QRegularExpression(QStringLiteral("^serving modbus\\+tcp://127\\.0\\.0\\.1:(\\d+) for "))
        .match(gateway.out())
        .captured(1)
        .toInt();
}

TEST(Gateway, AnswersAsModbusTcpAndSendsOnlyWellFormedRequests)
{
    ChildProcess gateway(SERVOCTL_COMMAND, {"--sim", "--sim-pace", "--timeout", "100", "--trace", "gateway",
                                            "listen", "0", "read-only", "clients", "2", "idle", "3"});
    const int port = startGateway(gateway);
    ASSERT_NE(port, 0) << qPrintable(gateway.err());
    ChildProcess peer(kGatewayPeer, {QString::number(port)});
    EXPECT_EQ(peer.finish(60000), 0) << qPrintable(peer.err());
    EXPECT_EQ(peer.out(),
              QStringLiteral("IR1 of station 2: 12 34 00 00 00 05 02 04 02 07 d0\n"
                             "a write, read-only: 12 34 00 00 00 03 01 86 01\n"
                             "a read to every station: 12 34 00 00 00 03 00 83 01\n"
                             "function 43: 12 34 00 00 00 03 01 ab 01\n"
                             "126 registers: 12 34 00 00 00 03 01 83 03\n"
                             "absent station 9: 12 34 00 00 00 03 09 83 0b\n"
                             "protocol identifier 1: closed after 0 s\n"
                             "a length past Modbus: closed after 0 s\n"
                             "a read with a byte too many: closed after 0 s\n"
                             "half a frame: closed after 3 s\n"
                             "nothing sent: closed after 3 s\n"
                             "fair: the second client waited for fewer than 8 of the first's 16: True\n"
                             "a third client: closed after 0 s\n"))
        << qPrintable(gateway.err());
    gateway.signal(SIGINT);
    EXPECT_EQ(gateway.finish(), 0); // stopped, as a gateway ends
    // The refused and the malformed requests never went onto the line.
    const QStringList sent = gateway.err().split(QLatin1Char('\n')).filter(QLatin1String(" TX "));
    EXPECT_GE(sent.size(), 5);
    for (const QString &line : sent) {
        const QString frame = line.section(QLatin1String(" TX "), 1);
        for (const char *never : {"03 ", "01 06", "01 2B", "00 "})
            EXPECT_FALSE(frame.startsWith(QLatin1String(never))) << qPrintable(line);
    }
    for (const char *said :
         {"closed (not Modbus TCP: protocol identifier 1, not 0 (Modbus)): 0 requests",
          "closed (not Modbus TCP: a function 3 request of 5 bytes holds 6)", "refused: 2 clients already",
          "closed (idle for 3 s)"})
        EXPECT_TRUE(gateway.err().contains(QLatin1String(said))) << said;
    EXPECT_TRUE(matches(gateway.out(), "\nall stations: \\d+ requests, \\d+ answers, exceptions 3 of 0x01 and 1 of 0x03, "
                                       "1 time-out, 0 uncertain, "));
}

// Two servoctl runs share the line through the gateway: one polls while
// the other writes (a broadcast among them) and reads back; pymodbus reads
// what they wrote.
TEST(Gateway, ServoctlAndPymodbusShareTheLineThroughIt)
{
    ChildProcess gateway(SERVOCTL_COMMAND, {"--sim", "gateway", "listen", "0"});
    const int port = startGateway(gateway);
    ASSERT_NE(port, 0) << qPrintable(gateway.err());
    const QString url = QStringLiteral("modbus+tcp://127.0.0.1:%1").arg(port);
    ChildProcess poll(SERVOCTL_COMMAND,
                      {"-d", url, "--station", "1-3", "--polls", "30", "--interval", "10", "poll", "IR1", "word", "2"});
    const Outcome writes = servoctl({"-d", url, "--station", "0", "write", "HR5", "word", "4321", "then",
                                     "station", "2", "then", "read", "HR5", "then", "write", "HR6", "word", "9"});
    EXPECT_EQ(writes.status, 0) << qPrintable(writes.err);
    EXPECT_TRUE(endsWith(writes.out, "> read HR5\nHR5 = 4321\n> write HR6 word 9\nHR6: wrote 1 word\n"));
    EXPECT_EQ(poll.finish(60000), 0) << qPrintable(poll.err());
    EXPECT_TRUE(poll.out().endsWith(QLatin1String("30 polls, 30 good\n"))) << qPrintable(poll.out());

    // A second master on the gateway's line is told where to go instead.
    const QString line = QRegularExpression(QStringLiteral(" on (/dev/pts/\\d+) ")).match(gateway.err()).captured(1);
    const Outcome second = servoctl({"-d", line, "read", "HR1"});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(endsWith(second.err, ", a Modbus TCP gateway: connect to it instead (-d modbus+tcp://, at "
                                     "the address it printed)\n"));

    ChildProcess client(kPymodbus, {"client", "127.0.0.1", QString::number(port), "2", "mbap"});
    const int status = client.finish(60000);
    if (status == 3)
        GTEST_SKIP() << "python3-pymodbus is not installed: " << qPrintable(client.err());
    EXPECT_EQ(status, 0) << qPrintable(client.err());
    EXPECT_EQ(client.out(), QStringLiteral("IR 0-2: 2000 2001 2002\nHR 4: 4321\n"));
    gateway.signal(SIGTERM);
    EXPECT_EQ(gateway.finish(), 0);
    EXPECT_TRUE(holds(gateway.out(), "\nstation 0: 1 request, 0 answers, exceptions none, 0 "
                                     "time-outs, 0 uncertain, 1 broadcast"));
}

} // namespace
