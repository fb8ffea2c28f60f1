// servoctl scan on its simulated line, run as a user runs it.
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

// Generous: a time-out is not what these tests are about.
Outcome scan(const QStringList &args)
{
    return servoctl(QStringList{"--sim", "--timeout", "400"} + args);
}

// The output with its times masked: they vary from run to run.
QString masked(QString out)
{
    out.replace(QRegularExpression(QStringLiteral("\\d+\\.\\d ms")), QStringLiteral("T ms"));
    out.replace(QRegularExpression(QStringLiteral(", \\d+\\.\\d s\\n")), QStringLiteral(", T s\n"));
    return out;
}

// The stations there and only those, at their baud rate only, in station
// order; a scan of one setting, and of several stopping at the first that
// answers or with --all-settings trying all: the README's and
// docs/servoctl.md's examples. A station past 1-10 is found only by the
// whole range, which goes at the setting that answered once 1-10 and 247
// were asked at every setting.
TEST(ServoctlScan, FindsAStationPastTheFirstTenAtItsBaudRate)
{
    const Outcome run = servoctl(words("--sim --sim-line RS485,19200,NONE,8,2 --sim-stations 17 scan baud "
                                       "9600,19200,38400 parity none,even,odd"));
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(masked(run.out).toStdString(),
              "station  line settings          answer\n"
              "     17  RS485,19200,NONE,8,2   T ms\n"
              "1 station found in 247 probed at 9 line settings, T s\n");
    EXPECT_TRUE(holdsOnce(run.err, "scanning RS485,19200,NONE,8,2 (time-out 33 ms): 247 stations\n"));
}

// Found with an exception: docs/servoctl.md's example.
TEST(ServoctlScan, ReportsExceptionsAndLateAnswersAsFound)
{
    // Drives slower to begin than the sweep waits are asked again with the
    // whole time-out: they show their time, or the --timeout that would do.
    const Outcome slow = scan({"--sim-faults", "delay=1:40", "--sim-stations", "4,5,9", "scan", "1-10"});
    EXPECT_EQ(slow.status, 0) << qPrintable(slow.err);
    EXPECT_EQ(masked(slow.out).toStdString(),
              "station  line settings          answer\n"
              "      4  RS485,9600,NONE,8,2    T ms\n"
              "      5  RS485,9600,NONE,8,2    T ms\n"
              "      9  RS485,9600,NONE,8,2    T ms\n"
              "3 stations found in 10 probed at 1 line setting, T s\n");
    const Outcome late = scan({"--sim-faults", "late=1:700", "--sim-stations", "4", "scan", "4"});
    EXPECT_EQ(late.status, 0) << qPrintable(late.err);
    EXPECT_TRUE(matches(late.out, "\n      4  RS485,9600,NONE,8,2    late: \\d+ ms, use --timeout \\d+00\n"));
}

// A drive that answers in another station's number is found as the
// station asked; the number in its answers is not a station of its own.
TEST(ServoctlScan, AnAnswerInAnotherStationsNumberIsTheStationAsked)
{
    const Outcome run = servoctl(words("--sim --sim-stations 1 --sim-faults station=1 scan 1-5"));
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(masked(run.out).toStdString(),
              "station  line settings          answer\n"
              "      1  RS485,9600,NONE,8,2    answered as station 2 (a wrong station number, or the wiring)\n"
              "1 station found in 5 probed at 1 line setting, T s\n");
}

// A garbled answer is listed, but does not count as found.
TEST(ServoctlScan, FindingNothingIsAFailure)
{
    const Outcome run = scan({"--sim-stations", "7", "scan", "1-3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(masked(run.out).toStdString(), "no station found in 3 probed at 1 line setting, T s\n");
    const Outcome garbled = scan({"--sim-faults", "corrupt=1", "--sim-stations", "2", "scan", "1-3"});
    EXPECT_EQ(garbled.status, 1);
    EXPECT_TRUE(matches(masked(garbled.out),
                        "^station 2 at RS485,9600,NONE,8,2: garbled: (CRC error|invalid response|invalid slave id:\\d+) "
                        "\\(something is there, likely at other line settings\\)\n"
                        "no station found \\(1 garbled answer\\) in 3 probed at 1 line setting, T s\n$"));
}

} // namespace
