// servoctl's typed writes, signed backups and addresses as manuals write
// them: what reaches the drive and what comes back, on the simulated line.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "servoctl_run.h"
#include "test_files.h"

namespace {

QStringList sim(const QStringList &args)
{
    return QStringList{"--sim"} + args;
}

// The lines on standard output after the chain's "> command" echoes.
QStringList shown(const Outcome &outcome)
{
    QStringList lines;
    for (const QString &line : outcome.out.split('\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1String("> ")))
            lines.append(line);
    }
    return lines;
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

// Written, then read back as the same type and as raw words: the words in
// the order reads decode them (low word first, high first with SW).
TEST(ServoctlTyped, FloatsAndInt32sReadBackExactly)
{
    const Outcome run = servoctl(sim(
        {"write",  "HR10",  "float", "-3.14", "then",   "write", "HR12",  "int32", "-100000", "then",   "write",
         "HR14SW", "float", "1.5",   "then",  "write",  "HR16",  "int16", "-1500", "then",    "read",   "HR10",
         "dword",  "float", "then",  "read",  "HR12",   "dword", "int32", "then",  "read",    "HR14SW", "dword",
         "float",  "then",  "read",  "HR16",  "signed", "then",  "read",  "HR10",  "word",    "6",      "hex"}));
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(shown(run),
              QStringList({"HR10: wrote 1 dword", "HR12: wrote 1 dword", "HR14SW: wrote 1 dword", "HR16: wrote 1 word",
                           "HR10 = -3.14", "HR12 = -100000", "HR14SW = 1.5", "HR16 = -1500", "HR10 = 0xF5C3",
                           "HR11 = 0xC048", "HR12 = 0x7960", "HR13 = 0xFFFE", "HR14 = 0x3FC0", "HR15 = 0x0000"}));
}

// -0 and hexadecimal numbers reach the wire as the plain number they mean,
// and what servoctl shows gives both.
TEST(ServoctlTyped, ManualAddressesMeanTheSameRegisters)
{
    const Outcome plain = servoctl(sim({"--trace", "write", "HR17", "word", "7", "then", "read", "HR17", "word", "2"}));
    const Outcome manual = servoctl(sim({"--trace", "-0", "write", "HR16", "word", "7", "then", "read", "HR0x10",
                                         "word", "2"}));
    ASSERT_EQ(manual.status, 0) << qPrintable(manual.err);
    EXPECT_EQ(sent(manual), sent(plain));
    EXPECT_EQ(sent(manual).last(), "01 03 00 10 00 02 C5 CE");
    EXPECT_EQ(shown(manual), QStringList({"HR17 (16 zero-based): wrote 1 word", "HR17 (0x10 zero-based) = 7",
                                          "HR18 (0x11 zero-based) = 0"}));
    EXPECT_EQ(shown(servoctl(sim({"read", "HR0x11"}))), QStringList{"HR17 (0x11) = 0"});
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
        const Outcome restore = servoctl(sim({"restore", path, "--yes", "then", "read", "HR10", "word", "3", "hex"}));
        ASSERT_EQ(restore.status, 0) << qPrintable(restore.err);
        EXPECT_TRUE(restore.out.endsWith("HR10 = 0xFA24\nHR11 = 0x7960\nHR12 = 0xFFFE\n")) << qPrintable(restore.out);
    }
}

} // namespace
