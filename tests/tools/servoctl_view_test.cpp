// servoctl's int32 and float views of dwords, and the hint after a driver
// error, as a user sees them on the built-in simulated line.
#include <QStringList>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

// A dword written as hex (or two words) and read back through a view. The
// low word comes first without SW, the high word with it.
TEST(ServoctlView, ShowsDwordsAsInt32AndFloat)
{
    const struct
    {
        QStringList written;
        QStringList read;
        const char *shown;
    } cases[] = {
        {{"HR10", "dword", "0x3F800000"}, {"HR10", "dword", "float"}, "HR10 = 1"},
        {{"HR10", "dword", "0xC0490FDB"}, {"HR10", "dword", "float"}, "HR10 = -3.1415927"},
        {{"HR10", "dword", "0x00000000"}, {"HR10", "dword", "float"}, "HR10 = 0"},
        {{"HR10", "dword", "0x80000000"}, {"HR10", "dword", "float"}, "HR10 = -0"},
        {{"HR10", "dword", "0x7FC00000"}, {"HR10", "dword", "float"}, "HR10 = nan"},
        {{"HR10", "dword", "0xFFC00001"}, {"HR10", "dword", "float"}, "HR10 = nan"},
        {{"HR10", "dword", "0x7F800000"}, {"HR10", "dword", "float"}, "HR10 = inf"},
        {{"HR10", "dword", "0xFF800000"}, {"HR10", "dword", "float"}, "HR10 = -inf"},
        {{"HR10", "dword", "0xFFFFFFFF"}, {"HR10", "dword", "int32"}, "HR10 = -1"},
        {{"HR10", "dword", "0x80000000"}, {"HR10", "dword", "-f", "int32"}, "HR10 = -2147483648"},
        {{"HR10SW", "dword", "0xC0490FDB"}, {"HR10SW", "dword", "float"}, "HR10SW = -3.1415927"},
        {{"HR10", "word", "0", "0x3F80"}, {"HR10", "dword", "float"}, "HR10 = 1"},
        {{"HR10", "word", "0x3F80", "0"}, {"HR10SW", "dword", "float"}, "HR10SW = 1"},
    };
    for (const auto &c : cases) {
        const QStringList args = QStringList{"--sim", "write"} + c.written + QStringList{"then", "read"} + c.read;
        ChildProcess child(SERVOCTL_COMMAND, args);
        EXPECT_EQ(child.finish(), 0) << qPrintable(child.err());
        EXPECT_TRUE(child.out().endsWith(QLatin1String(c.shown) + QLatin1Char('\n')))
            << qPrintable(args.join(' ')) << "\n" << qPrintable(child.out());
    }
}

// The driver's text, then one hint line; none for failures that already
// say what to do.
TEST(ServoctlView, HintsFollowTheDriversErrorOnce)
{
    const struct
    {
        QStringList args;
        const char *err; // the error line and the start of its hint
    } cases[] = {
        {{"--sim-faults", "drop=1", "--retries", "0", "--timeout", "50", "read", "HR1"},
         "HR1: PLC no response (read 1 word(s) from 1-HR1)\nservoctl: hint: no answer: wrong station,"},
        // The simulated drives read at most 2000 bits, the driver 2008.
        {{"read", "DI1", "bit", "2001"},
         "DI1: exception code:0x03 (read 2001 bit(s) from 1-DI1)\nservoctl: hint: the value or the count"},
        {{"--sim-faults", "exception=1", "--retries", "0", "write", "HR1", "word", "1"},
         "HR1: exception code:0x06 (write 1 word to 1-HR1)\nservoctl: hint: the drive is busy"},
        {{"--sim-faults", "corrupt=1", "--retries", "0", "--polls", "3", "--interval", "0", "poll", "HR1"},
         "poll HR1: CRC error (read 1 word(s) from 1-HR1)\nservoctl: hint: garbled answer: baud rate"},
        {{"--sim-echo", "read", "HR1"}, "try --local-echo\n"},
    };
    for (const auto &c : cases) {
        ChildProcess child(SERVOCTL_COMMAND, QStringList{"--sim"} + c.args);
        EXPECT_EQ(child.finish(), 1) << qPrintable(child.err());
        EXPECT_TRUE(child.err().contains(QLatin1String(c.err))) << qPrintable(child.err());
        EXPECT_EQ(child.err().count(QLatin1String("hint:")), QByteArray(c.err).count("hint:"))
            << qPrintable(child.err());
    }
}

} // namespace
