// servoctl as a user runs it: a child process, on the built-in simulated
// line or on a line of the test's.
#include <pty.h>
#include <termios.h>

#include <memory>
#include <tuple>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

// --help: ServoctlPlan.HelpShowsEveryCommandAndTheRangesTheOptionsTake and
// the manual page test.
TEST(Servoctl, InfoThroughEitherEntry)
{
    for (const char *entry : {"plugin", "create"}) {
        const Outcome info = servoctl({QStringLiteral("--entry"), QLatin1String(entry), QStringLiteral("info")});
        EXPECT_EQ(info.status, 0) << qPrintable(info.err);
        EXPECT_TRUE(info.out.contains(QLatin1String("driver:        Teco Servo\n"))) << qPrintable(info.out);
        // The build tree's own plug-in, not one installed elsewhere.
        EXPECT_TRUE(info.out.contains(QStringLiteral("plug-in:       %1\n")
                                          .arg(QFileInfo(QStringLiteral(TECO_SERVO_PLUGIN_PATH)).canonicalFilePath())));
        EXPECT_TRUE(info.out.contains(QLatin1String("block limits:  125 registers, 2008 bits per request")));
    }
}

// What main() makes of a refusal of the plan (ServoctlPlan has every case),
// here one that only the whole chain shows: status 2, one line, nothing sent.
// It stands for every refusal of the plan; the others are checked in process.
TEST(Servoctl, RefusesMalformedInputBeforeSendingAnything)
{
    const Outcome run = servoctl(words("--sim --trace write HR60001 word 2 then write HR60000 word 2 then write HR60010 word 5"));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.isEmpty()) << qPrintable(run.out);
    EXPECT_EQ(run.err, QLatin1String("servoctl: write HR60010: HR60010 goes to HR1300 of each station the count "
                                     "HR60000 (2) lists, and HR60002 holds none yet: set it to a station (1 to 247) "
                                     "first (see servoctl --help)\n"));
}

TEST(Servoctl, AcceptsTheEdgesOfWhatTheDriverServes)
{
    QStringList mostWords{"write", "HR1", "word"};
    for (int i = 0; i < 123; ++i)
        mostWords.append(QString::number(i));
    const struct
    {
        QStringList args;
        const char *shown;
    } cases[] = {
        {{"read", "HR65536"}, "HR65536 = 0\n"},
        {{"write", "HR65535", "word", "1", "2"}, "HR65535: wrote 2 words\n"},
        {{"read", "HR1.255", "bit"}, "HR16.15 = 0\n"},
        {{"read", "HR60000", "word", "11"}, "HR60010 = 0\n"},
        {{"--station", "0", "write", "HR60000", "word", "2", "then", "read", "HR60000"}, "HR60000 = 2\n"},
        {mostWords, "HR1: wrote 123 words\n"},
        {{"write", "HR1", "byte", "0x56", "0x78", "then", "read", "HR1", "-f", "hex"}, "HR1 = 0x7856\n"},
        {{"write", "HR1.15", "bit", "1"}, "HR1.15: wrote 1 bit\n"},
        {words("write HR60001 word 2 3 then write HR60000 word 2 then write HR60009 word 2 then write HR60010 word "
               "0x1234 then station 3 then read HR1300 hex"),
         "HR1300 = 0x1234\n"},
        {{"write", "HR60000", "word", "8", "247", "then", "write", "HR60009", "word", "8"}, "HR60009: wrote 1 word\n"},
        {{"--polls", "1", "--interval", "0", "poll", "HR1", "then", "read", "HR2"}, "HR2 = 0\n"},
        {{"--sim-stations", "2-3", "--station", "3", "read", "IR1"}, "IR1 = 3000\n"},
        // Stops after the given number of reads.
        {{"--polls", "3", "--interval", "10", "poll", "DI1", "bit", "4"},
         " poll 3, 3 good\nDI1 = 1\nDI2 = 0\nDI3 = 0\nDI4 = 1\n3 polls, 3 good\n"},
        {{"--station", "0", "write", "HR1", "word", "7", "then", "station", "2", "then", "read", "HR1"},
         "HR1: broadcast sent, 1 word\n> station 2\n> read HR1\nHR1 = 7\n"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(QStringList{"--sim", "--timeout", "2000"} + c.args);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_TRUE(holds(run.out, c.shown));
    }
}

// An adapter that hands every request back: with --local-echo all goes
// through; without it nothing passes as good, and the hint says why.
TEST(Servoctl, ALineThatEchoesNeedsLocalEchoAndALineThatDoesNotMustNotHaveIt)
{
    ChildProcess echoing(SERVOSIM_COMMAND, {"--echo"});
    const QString line = servedLine(echoing);
    ASSERT_FALSE(line.isEmpty()) << qPrintable(echoing.err());
    const char *const echoes = "servoctl: the line echoes our own requests back (an adapter with local echo?): "
                               "try --local-echo\n";
    // The arguments (LINE: servosim's terminal), the status, all of
    // standard output and the end of standard error.
    const struct
    {
        const char *args;
        int status;
        const char *out, *err;
    } cases[] = {
        {"-d LINE --local-echo write HR1 word 4660 -2 then write FN6HR3 word 7 then read HR1 word 3 hex", 0,
         "> write HR1 word 4660 -2\nHR1: wrote 2 words\n> write FN6HR3 word 7\nFN6HR3: wrote 1 word\n"
         "> read HR1 word 3 hex\nHR1 = 0x1234\nHR2 = 0xFFFE\nHR3 = 0x0007\n",
         ""},
        {"-d LINE read HR1", 1, "", echoes},
        {"-d LINE --polls 2 poll HR1", 1, "polling HR1 (1 word) every 1000 ms; Ctrl-C stops\n0 polls, 0 good\n", echoes},
        // Echoed whatever the station: then no drive answers.
        {"-d LINE --local-echo --station 9 --timeout 100 --retries 0 read HR1", 1, "",
         "servoctl: read HR1: PLC no response (read 1 word(s) from 9-HR1)\nservoctl: hint: no answer: wrong "
         "station, baud rate or wiring, or the drive is off; servoctl scan finds who answers\n"},
        {"--sim --sim-echo --local-echo read IR1", 0, "IR1 = 1000\n",
         "servoctl: the simulated adapter echoes every request back\n"},
        {"--sim --local-echo read HR1", 1, "",
         "servoctl: the line does not echo our own requests back (an adapter without local echo?): leave out --local-echo\n"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(words(c.args).replaceInStrings(QStringLiteral("LINE"), line));
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << qPrintable(run.err);
        EXPECT_EQ(run.out.toStdString(), c.out) << c.args;
        EXPECT_TRUE(*c.err ? endsWith(run.err, c.err) : run.err.isEmpty()) << qPrintable(run.err);
        EXPECT_EQ(run.err.count(QLatin1String("servoctl: the line ")), QByteArray(c.err).contains("the line") ? 1 : 0)
            << qPrintable(run.err);
    }
    echoing.signal(SIGTERM);
    EXPECT_EQ(echoing.finish(), 0);
    EXPECT_TRUE(matches(echoing.err(), ", (\\d+) echoed\n$"));
}

// The echo of a function-6 write looks exactly like its acknowledgement;
// the exception behind it must never pass as written (scripts/reliability
// runs this 200 times).
TEST(Servoctl, ARefusedSingleWriteOnAnEchoingLineIsNeverReportedWritten)
{
    ChildProcess echoing(SERVOSIM_COMMAND, {"--echo", "--holding", "16"});
    const QString line = servedLine(echoing);
    ASSERT_FALSE(line.isEmpty()) << qPrintable(echoing.err());
    for (int i = 0; i < 20; ++i) {
        const Outcome run = servoctl({"-d", line, "write", "FN6HR20", "word", "5"});
        EXPECT_EQ(run.status, 1) << qPrintable(run.err);
        EXPECT_EQ(run.out, QString()) << "run " << i;
    }
    echoing.signal(SIGTERM);
    EXPECT_EQ(echoing.finish(), 0);
}

// Two programs on one line would take each other's answers: the second
// is refused, and told who holds the line.
// Values that cannot reach a closed standard output fail the run, saying
// so; nothing else takes its descriptor.
TEST(Servoctl, AClosedStandardOutputFailsTheRunAndSaysWhy)
{
    for (const char *format : {"dec", "json"}) {
        ChildProcess run("/bin/sh", QStringList{"-c", "exec \"$@\" >&-", "sh"}
                                        + QString::fromLocal8Bit(SERVOCTL_COMMAND).split(QLatin1Char('|'))
                                        + QStringList{"--sim", "read", "HR1", "-f", QLatin1String(format)});
        EXPECT_EQ(run.finish(), 1) << format;
        EXPECT_TRUE(endsWith(run.err(), ": Bad file descriptor\n"));
    }
}

TEST(Servoctl, ALineInUseIsRefused)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const QString path = QString::fromLocal8Bit(ptsname(master));
    ChildProcess first(SERVOCTL_COMMAND, {"-d", path, "--timeout", "100", "poll", "HR1"});
    ASSERT_TRUE(first.waitFor(QStringLiteral("polling"))) << qPrintable(first.err());
    expectHeldBy(path, first.pid());
    first.signal(SIGINT);
    // Stopped as offered: 1 once a cycle found no answer, else 0; never 130.
    const int status = first.finish();
    EXPECT_TRUE(status == 0 || status == 1) << status;
    ::close(master);
    ::close(slave);
}

// SIGINT and SIGTERM end a long wait at once, in order: the device gets
// its settings back, one line says why, and the status says which signal;
// a poll, which runs until stopped, ends with what its cycles found. The
// request whose wait was cut short counts as no failure of the line.
TEST(Servoctl, ASignalEndsAnyCommandAndRestoresTheLine)
{
    const struct
    {
        QStringList command;
        int signal, status;
    } cases[] = {
        {{"--stats", "read", "HR1"}, SIGINT, 130},         {{"write", "HR1", "word", "5"}, SIGTERM, 143},
        {{"--stats", "poll", "HR1"}, SIGINT, 0},           {{"poll", "HR1"}, SIGTERM, 0},
        {{"--delay", "5000", "read", "HR1"}, SIGINT, 130}, // before the first request
    };
    for (const auto &c : cases) {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios before;
        tcgetattr(slave, &before);
        ChildProcess child(SERVOCTL_COMMAND,
                           QStringList{"-d", ptsname(master), "--timeout", "3000", "--retries", "3"} + c.command);
        // A request on the line: servoctl waits for the answer that never
        // comes; or, with a delay, the line set up raw: it waits the delay.
        pollfd pfd = {master, POLLIN, 0};
        termios now = before;
        for (int i = 0; i < 6000 && poll(&pfd, 1, 10) == 0 && now.c_lflag == before.c_lflag; ++i)
            tcgetattr(slave, &now);
        QElapsedTimer timer;
        timer.start();
        child.signal(c.signal);
        EXPECT_EQ(child.finish(), c.status) << qPrintable(c.command.join(' ')) << qPrintable(child.err());
        EXPECT_LT(timer.elapsed(), 1500) << "not the 4 attempts of 3 s";
        EXPECT_EQ(child.err().endsWith(QStringLiteral("servoctl: interrupted by %1\n")
                                           .arg(QLatin1String(c.signal == SIGINT ? "SIGINT" : "SIGTERM"))),
                  c.status != 0)
            << qPrintable(child.err());
        if (c.command.contains(QLatin1String("--stats"))) {
            EXPECT_TRUE(holds(child.out(), " max ms\nline: ")) << "a station row";
        }
        termios after;
        tcgetattr(slave, &after);
        EXPECT_EQ(std::make_tuple(after.c_cflag, after.c_lflag, after.c_iflag, cfgetospeed(&after)),
                  std::make_tuple(before.c_cflag, before.c_lflag, before.c_iflag, cfgetospeed(&before)));
        ::close(master);
        ::close(slave);
    }
}

// A poll on a line that goes away and comes back under the same name:
// servosim on --link PATH or --tcp PORT killed, then started again on the
// same path or the port it took. Said once (LINE: the line), waited for
// without using the CPU, and polled again.
void expectPollOutlivesALoss(const char *option, const QString &where, const char *lost)
{
    std::unique_ptr<ChildProcess> sim;
    const auto plugIn = [&](const QString &at) {
        sim = std::make_unique<ChildProcess>(SERVOSIM_COMMAND, QStringList{QLatin1String(option), at});
        return servedLine(*sim);
    };
    const QString served = plugIn(where);
    const bool tcp = served.startsWith(QLatin1String("tcp://"));
    const QString line = tcp ? served : where;
    ChildProcess poll(SERVOCTL_COMMAND, {"-d", line, "--timeout", "200", "--interval", "50", "poll", "HR1"});
    ASSERT_TRUE(poll.waitFor(QStringLiteral("poll 3, 3 good"))) << qPrintable(poll.err());
    // The adapter's name goes with it, as udev removes it: a link left
    // behind would name a terminal number that another program may be
    // given meanwhile, and the poll would rightly take that line up.
    sim->signal(SIGKILL);
    sim->finish();
    if (!tcp)
        QFile::remove(where);
    ASSERT_TRUE(poll.waitFor(QString::fromLatin1(lost).replace(QLatin1String("LINE"), line)))
        << qPrintable(poll.err());
    const qint64 cpuBefore = poll.cpuTimeMs();
    usleep(2000000);
    EXPECT_LT(poll.cpuTimeMs() - cpuBefore, 200) << "CPU ms in 2 s while the line is lost";
    ASSERT_FALSE(plugIn(tcp ? line.section(QLatin1Char(':'), -1) : where).isEmpty()) << qPrintable(sim->err());
    ASSERT_TRUE(poll.waitFor(QStringLiteral("servoctl: line back: %1\n").arg(line))) << qPrintable(poll.err());
    const int pollsBefore = poll.out().count(QLatin1String(" good\n"));
    ASSERT_TRUE(poll.waitFor(QStringLiteral("poll %1, ").arg(pollsBefore + 2)));
    poll.signal(SIGINT);
    EXPECT_EQ(poll.finish(), 0);
    EXPECT_EQ(poll.err().count(QLatin1String("line lost: ")), 1) << qPrintable(poll.err());
    EXPECT_TRUE(holds(poll.out(), ", line lost 1 time\n"));
    sim->signal(SIGTERM);
}

// The adapter pulled out and plugged back in.
TEST(Servoctl, PollWaitsForALostLineAndGoesOnWhenItIsBack)
{
    QTemporaryDir dir;
    expectPollOutlivesALoss("--link", dir.filePath(QStringLiteral("ttyServo")), "line lost: ");
}

// The server gone mid-poll, and back on the same port.
TEST(TcpLine, PollWaitsForALostConnectionAndGoesOnWhenTheServerIsBack)
{
    expectPollOutlivesALoss("--tcp", QStringLiteral("0"), "servoctl: line lost: LINE (the connection was closed)\n");
}

} // namespace
