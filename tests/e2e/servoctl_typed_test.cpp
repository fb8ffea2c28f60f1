// servoctl's signed backups and addresses as manuals write them: what
// reaches the drive and what comes back, on the simulated line. Typed
// writes read back: docs/servoctl.md's examples, run by doc_examples.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "servoctl_run.h"
#include "test_files.h"

namespace {

QStringList sim(const QStringList &args)
{
    return QStringList{"--sim"} + args;
}

// The bytes sent, as --trace shows them.
QStringList sent(const Outcome &outcome)
{
    QStringList frames;
    for (const QString &line : outcome.err.split('\n')) {
        if (line.contains(QLatin1String(" TX ")))
            frames.append(line.section(QLatin1String(" TX "), 1));
    }
    return frames;
}

// -0 and hexadecimal numbers reach the wire as the plain number they mean
// (what servoctl shows of them: docs/servoctl.md's example).
TEST(ServoctlTyped, ManualAddressesMeanTheSameRegisters)
{
    const Outcome plain = servoctl(sim({"--trace", "write", "HR17", "word", "7", "then", "read", "HR17", "word", "2"}));
    const Outcome manual = servoctl(sim({"--trace", "-0", "write", "HR16", "word", "7", "then", "read", "HR0x10",
                                         "word", "2"}));
    ASSERT_EQ(manual.status, 0) << qPrintable(manual.err);
    EXPECT_EQ(sent(manual), sent(plain));
    EXPECT_EQ(sent(manual).last(), "01 03 00 10 00 02 C5 CE");
    EXPECT_EQ(servoctl(sim({"read", "HR0x11"})).out, "HR17 (0x11) = 0\n");
}

// A negative set-point is saved with the sign its int16 entry gives, and an
// older backup of the same bits unsigned restores to the same bits.
TEST(ServoctlTyped, SignedBackupsKeepTheSignAndRestoreEitherForm)
{
    QTemporaryDir dir;
    const QString map = fileIn(dir, "drive.map", "HR10 int16 speed_setpoint\nHR11 int32 position\n");
    const QString saved = dir.filePath("backup.txt");
    const Outcome backup = servoctl(sim({"write", "HR10", "int16", "-1500", "then", "write", "HR11", "int32",
                                         "-100000", "then", "backup", "--map", map, "-o", saved}));
    ASSERT_EQ(backup.status, 0) << qPrintable(backup.err);
    const QString text = QString::fromUtf8(contentsOf(saved));
    EXPECT_TRUE(text.endsWith("\nHR10 int16 -1500 speed_setpoint\nHR11 int32 -100000 position\n")) << qPrintable(text);

    const QString old = fileIn(dir, "old.txt", "HR10 word 64036\nHR11 int32 4294867296\n");
    for (const QString &path : {saved, old}) {
        const Outcome restore = servoctl(sim({"restore", path, "--yes", "then", "read", "HR10", "signed", "then",
                                              "read", "HR10", "word", "3", "hex"}));
        ASSERT_EQ(restore.status, 0) << qPrintable(restore.err);
        EXPECT_TRUE(restore.out.endsWith("HR10 = -1500\n> read HR10 word 3 hex\nHR10 = 0xFA24\nHR11 = 0x7960\nHR12 = 0xFFFE\n"))
            << qPrintable(restore.out);
    }
}

} // namespace
