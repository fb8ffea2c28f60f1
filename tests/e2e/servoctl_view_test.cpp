// servoctl's int32 and float views of dwords, and the hint after a driver
// error, as a user sees them on the built-in simulated line.
#include <QStringList>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

// Dwords written as hex and read back through a view, in one chain. The
// word order (low word first, high with SW): ServoctlTyped and the docs.
TEST(ServoctlView, ShowsDwordsAsInt32AndFloat)
{
    const struct
    {
        const char *written;
        QStringList view;
        const char *shown;
    } cases[] = {
        {"0x3F800000", {"float"}, "1"},   {"0xC0490FDB", {"float"}, "-3.1415927"},
        {"0x00000000", {"float"}, "0"},   {"0x80000000", {"float"}, "-0"},
        {"0x7FC00000", {"float"}, "nan"}, {"0xFFC00001", {"float"}, "nan"},
        {"0x7F800000", {"float"}, "inf"}, {"0xFF800000", {"float"}, "-inf"},
        {"0xFFFFFFFF", {"int32"}, "-1"},  {"0x80000000", {"-f", "int32"}, "-2147483648"},
    };
    QStringList args{"--sim"}, expected;
    for (const auto &c : cases) {
        const QString address = QStringLiteral("HR%1").arg(10 + 2 * expected.size());
        args << "write" << address << "dword" << c.written << "then"
             << "read" << address << "dword" << c.view << "then";
        expected << address + " = " + QLatin1String(c.shown);
    }
    args.removeLast();
    ChildProcess child(SERVOCTL_COMMAND, args);
    EXPECT_EQ(child.finish(), 0) << qPrintable(child.err());
    EXPECT_EQ(child.out().split(QLatin1Char('\n')).filter(QStringLiteral(" = ")), expected) << qPrintable(child.out());
}

// The driver's text, then one hint line; none for failures that already
// say what to do. No answer and exception 03: docs/servoctl.md's examples;
// an echoing line: Servoctl.ALineThatEchoesNeedsLocalEcho….
TEST(ServoctlView, HintsFollowTheDriversErrorOnce)
{
    const struct
    {
        QStringList args;
        const char *err; // the error line and the start of its hint
    } cases[] = {
        {{"--sim-faults", "exception=1", "--retries", "0", "write", "HR1", "word", "1"},
         "HR1: exception code:0x06 (write 1 word to 1-HR1)\nservoctl: hint: the drive is busy"},
        {{"--sim-faults", "corrupt=1", "--retries", "0", "--polls", "3", "--interval", "0", "poll", "HR1"},
         "poll HR1: CRC error (read 1 word(s) from 1-HR1)\nservoctl: hint: garbled answer: baud rate"},
    };
    for (const auto &c : cases) {
        ChildProcess child(SERVOCTL_COMMAND, QStringList{"--sim"} + c.args);
        EXPECT_EQ(child.finish(), 1) << qPrintable(child.err());
        EXPECT_TRUE(child.err().contains(QLatin1String(c.err))) << qPrintable(child.err());
        EXPECT_EQ(child.err().count(QLatin1String("hint:")), 1) << qPrintable(child.err());
    }
}

} // namespace
