// servoctl at the Modbus standard's quantity limits, which the driver goes
// past (2008 bits read, 1976 coils written, where the standard stops at
// 2000 and 1968).
#include <QStringList>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

const char kPastStandard[] = "go past the Modbus standard's";

QStringList coilValues(int count)
{
    return QStringList{"write", "DO1", "bit"} + QVector<QString>(count, QStringLiteral("1")).toList();
}

// The count goes out as asked, even past the standard; one line says so
// before it is sent, from the first count past the standard's on. The
// simulated drives keep to the standard and answer those with exception 03.
// 2001 inputs read: docs/servoctl.md's example.
TEST(ServoctlLimits, PastTheStandardIsSentWithOneWarning)
{
    const struct
    {
        QStringList command;
        // Function, address and quantity on the wire; what the warning line begins with.
        const char *request, *warning;
    } cases[] = {
        {{"read", "DI1", "bit", "2000"}, "TX 01 02 00 00 07 D0", nullptr},
        {{"read", "FN5DO1", "bit2", "2008"}, "TX 01 01 00 00 07 D8", "read FN5DO1: 2008 coils in one read"},
        {coilValues(1968), "TX 01 0F 00 00 07 B0", nullptr},
        {coilValues(1969), "TX 01 0F 00 00 07 B1", "write DO1: 1969 coils in one write go past the Modbus standard's 1968"},
        {{"--polls", "1", "poll", "DO1", "bit", "2001"}, "TX 01 01 00 00 07 D1", "poll DO1: 2001 coils in one read"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(words("--sim --trace --line RS485,115200,NONE,8,2 --retries 0") + c.command);
        const QString what = c.command.mid(0, 4).join(' ');
        EXPECT_TRUE(holds(run.err, c.request)) << qPrintable(what);
        EXPECT_EQ(run.err.count(QLatin1String(kPastStandard)), c.warning ? 1 : 0) << qPrintable(run.err);
        if (!c.warning) {
            EXPECT_EQ(run.status, 0) << qPrintable(what) << qPrintable(run.err);
            continue;
        }
        // Said before the request goes out.
        const int warned = run.err.indexOf(QStringLiteral("\nservoctl: %1").arg(QLatin1String(c.warning)));
        EXPECT_TRUE(warned >= 0 && warned < run.err.indexOf(QLatin1String(c.request))) << qPrintable(run.err);
        EXPECT_TRUE(holds(run.err, ": the driver sends them, but a drive that keeps to the standard answers "
                                   "exception 03 (illegal data value)\n"));
        EXPECT_TRUE(holds(run.err, "exception code:0x03"));
        EXPECT_EQ(run.status, 1) << qPrintable(what);
    }
}

// Standard drives: addresses each within the standard share reads that
// keep within it too, and FN5DO writes a request per coil.
TEST(ServoctlLimits, WhatAStandardDriveTakesPassesWithoutWarning)
{
    const struct
    {
        QStringList command;
        const char *shown;
    } cases[] = {
        {words("--polls 1 poll DI1 bit 1000 DI1001 bit 1000"), ", 1 read a cycle"},
        {words("--polls 1 poll DI1 bit 1000 DI1001 bit 1001"), ", 2 reads a cycle"},
        {QStringList{"write", "FN5DO1", "bit"} + coilValues(1969).mid(3), "FN5DO1: wrote 1969 bits\n"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(QStringList{"--sim", "--line", "RS485,115200,NONE,8,2"} + c.command);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_TRUE(holds(run.out, c.shown));
        EXPECT_FALSE(run.err.contains(QLatin1String(kPastStandard))) << qPrintable(run.err);
    }
}

} // namespace
