// servoctl's int32 and float views of dwords and signed backups, as a user
// sees them on the built-in simulated line. Typed writes read back,
// addresses as manuals write them (-0 and hexadecimal, with the frames they
// send) and the hint after a driver error (no answer, a busy drive, a
// garbled answer, exceptions 02 and 03): docs/servoctl.md's examples, run
// by doc_examples.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "servoctl_run.h"
#include "test_files.h"

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

// A negative set-point is saved with the sign its int16 entry gives, and an
// older backup of the same bits unsigned restores to the same bits.
TEST(ServoctlTyped, SignedBackupsKeepTheSignAndRestoreEitherForm)
{
    QTemporaryDir dir;
    const QString map = fileIn(dir, "drive.map", "HR10 int16 speed_setpoint\nHR11 int32 position\n");
    const QString saved = dir.filePath("backup.txt");
    const Outcome backup = servoctl(words("--sim write HR10 int16 -1500 then write HR11 int32 -100000 then backup --map")
                                    + QStringList{map, "-o", saved});
    ASSERT_EQ(backup.status, 0) << qPrintable(backup.err);
    EXPECT_TRUE(endsWith(QString::fromUtf8(contentsOf(saved)),
                         "\nHR10 int16 -1500 speed_setpoint\nHR11 int32 -100000 position\n"));

    const QString old = fileIn(dir, "old.txt", "HR10 word 64036\nHR11 int32 4294867296\n");
    for (const QString &path : {saved, old}) {
        const Outcome restore = servoctl(QStringList{"--sim", "restore", path}
                                         + words("--yes then read HR10 signed then read HR10 word 3 hex"));
        ASSERT_EQ(restore.status, 0) << qPrintable(restore.err);
        EXPECT_TRUE(endsWith(restore.out,
                             "HR10 = -1500\n> read HR10 word 3 hex\nHR10 = 0xFA24\nHR11 = 0x7960\nHR12 = 0xFFFE\n"));
    }
}

} // namespace
