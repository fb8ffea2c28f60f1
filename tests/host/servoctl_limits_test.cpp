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

// Standard drives: addresses each within the standard share reads that
// keep within it too, and FN5DO writes a request per coil.
TEST(ServoctlLimits, WhatAStandardDriveTakesPassesWithoutWarning)
{
    const struct
    {
        QStringList command;
        const char *shown;
    } cases[] = {
        {{"poll", "DI1", "bit", "1000", "DI1001", "bit", "1000"}, ", 1 read a cycle"},
        {{"poll", "DI1", "bit", "1000", "DI1001", "bit", "1001"}, ", 2 reads a cycle"},
        {{"poll", "DO2001", "DO1", "bit", "8"}, ", 2 reads a cycle"},
        {{"poll", "DO2000", "DO1", "bit", "8"}, ", 1 read a cycle"},
        {QStringList{"write", "FN5DO1", "bit"} + coilValues(1969).mid(3), "FN5DO1: wrote 1969 bits\n"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(QStringList{"--line", "RS485,115200,NONE,8,2", "--polls", "1"} + c.command);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.out.contains(QLatin1String(c.shown))) << c.shown << " in " << qPrintable(run.out);
        EXPECT_FALSE(run.err.contains(QLatin1String(kPastStandard))) << qPrintable(run.err);
    }
}

} // namespace
