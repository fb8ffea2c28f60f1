// servoctl backup and restore as a user runs them: a drive served by a
// servosim process that outlives each servoctl run, or the built-in line.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

QString place(const QTemporaryDir &dir, const char *name, const QString &text)
{
    const QString path = dir.filePath(QLatin1String(name));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
    return path;
}

QString contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The path of a servosim's terminal, once it serves.
QString servedLine(ChildProcess &sim)
{
    return sim.waitFor(QStringLiteral("\n"), 60000, ChildProcess::OutOnly) ? sim.out().section('\n', 0, 0) : QString();
}

const char kMap[] = "# drive 1\nHR10 word speed_limit # rpm\n\nHR11 dword position_limit\nHR20.3 bit reverse\nDO4 bit\n";

TEST(ServoctlBackup, BacksUpChangesAndRestoresAcrossRuns)
{
    QTemporaryDir dir;
    const QString map = place(dir, "drive.map", QLatin1String(kMap));
    const QString saved = dir.filePath(QStringLiteral("drive1.txt"));
    ChildProcess sim(SERVOSIM_COMMAND, {});
    const QString line = servedLine(sim);
    ASSERT_FALSE(line.isEmpty()) << qPrintable(sim.err());
    const QStringList onLine{"-d", line, "--timeout", "2000"};
    // HR11 and HR12 hold the dword 70000, the low word first.
    ASSERT_EQ(servoctl(onLine + QStringList{"write", "HR10", "word", "1500", "4464", "1", "then", "write", "HR20",
                                            "word", "9", "then", "write", "DO4", "bit", "1"}).status, 0);

    const Outcome backup = servoctl(onLine + QStringList{"backup", "--map", map, "-o", saved});
    EXPECT_EQ(backup.status, 0) << qPrintable(backup.err);
    EXPECT_TRUE(backup.out.endsWith(QStringLiteral("saved 4 entries of station 1 to %1\n").arg(saved)));
    const QString file = contents(saved);
    EXPECT_TRUE(file.startsWith(QLatin1String("# servoctl "))) << qPrintable(file);
    EXPECT_TRUE(file.contains(QStringLiteral("\n# station: 1\n# line: %1, RS485,9600,NONE,8,2\n# map: %2\n").arg(line, map)));
    EXPECT_TRUE(file.endsWith(QLatin1String("\nHR10 word 1500 speed_limit # rpm\nHR11 dword 70000 position_limit\n"
                                            "HR20.3 bit 1 reverse\nDO4 bit 1\n"))) << qPrintable(file);

    ASSERT_EQ(servoctl(onLine + QStringList{"write", "HR10", "word", "1200", "5", "0", "then", "write", "HR20.3",
                                            "bit", "0"}).status, 0);
    const Outcome dryRun = servoctl(onLine + QStringList{"restore", saved, "--dry-run"});
    EXPECT_EQ(dryRun.status, 0) << qPrintable(dryRun.err);
    EXPECT_EQ(dryRun.out.toStdString(), "HR10 speed_limit: 1200 -> 1500, would be written\n"
                                        "HR11 position_limit: 5 -> 70000, would be written\n"
                                        "HR20.3 reverse: 0 -> 1, would be written\nDO4: 1, unchanged\n"
                                        "dry run of 4 entries: 3 would be written, 1 unchanged; nothing written\n");
    // Its "from" values, read from the drive, show the dry run wrote nothing.
    const Outcome restore = servoctl(onLine + QStringList{"--station", "1", "restore", saved});
    EXPECT_EQ(restore.status, 0) << qPrintable(restore.err);
    EXPECT_EQ(restore.out.toStdString(), "HR10 speed_limit: 1200 -> 1500, written, verified\n"
                                         "HR11 position_limit: 5 -> 70000, written, verified\n"
                                         "HR20.3 reverse: 0 -> 1, written, verified\nDO4: 1, unchanged\n"
                                         "restored 4 entries: 3 written and verified, 1 unchanged\n");
    const Outcome readBack = servoctl(onLine + QStringList{"read", "HR10", "word", "3", "then", "read", "HR20"});
    EXPECT_EQ(readBack.out.toStdString(), "> read HR10 word 3\nHR10 = 1500\nHR11 = 4464\nHR12 = 1\n"
                                          "> read HR20\nHR20 = 9\n");
    // Saved from station 1, restored onto station 2: said, and done.
    const Outcome other = servoctl({"--station", "2", "restore", saved, "--dry-run"});
    EXPECT_TRUE(other.err.contains(QStringLiteral("servoctl: %1 was saved from station 1; restoring to station 2\n")
                                       .arg(saved))) << qPrintable(other.err);
    EXPECT_TRUE(other.out.endsWith(QLatin1String("4 would be written, 0 unchanged; nothing written\n")));
}

TEST(ServoctlBackup, ARestoreThatStopsSaysWhatItWroteAndWhatNot)
{
    QTemporaryDir dir;
    const QString saved = place(dir, "saved.txt", QStringLiteral("HR1 word 5 a\nHR2 word 0\nHR20 word 7\n"
                                                                  "HR21 word 8 past_end\nHR22 word 9\n"));
    ChildProcess sim(SERVOSIM_COMMAND, {"--holding", "20"});
    const QString line = servedLine(sim);
    const Outcome restore = servoctl({"-d", line, "restore", saved});
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.out.toStdString(), "HR1 a: 0 -> 5, written, verified\nHR2: 0, unchanged\n"
                                         "HR20: 0 -> 7, written, verified\n");
    EXPECT_TRUE(restore.err.contains(QLatin1String("servoctl: read HR21 past_end: exception code:0x02")));
    EXPECT_TRUE(restore.err.endsWith(QLatin1String("servoctl: restore stopped at HR21 past_end: written and verified: "
                                                   "HR1, HR20; not reached: HR22\n"))) << qPrintable(restore.err);
    EXPECT_EQ(servoctl({"-d", line, "read", "HR20"}).out, QLatin1String("HR20 = 7\n"));
}

// The simulated servo's fault reset reads 0 again once written: never good.
TEST(ServoctlBackup, AReadBackThatDiffersFailsTheRestore)
{
    QTemporaryDir dir;
    const QString saved = place(dir, "saved.txt", QStringLiteral("DO2 bit 1 fault_reset\nHR5 word 3\n"));
    const Outcome restore = servoctl({"--sim-model", "servo", "restore", saved});
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.out, QLatin1String("DO2 fault_reset: 0 -> 1, written, but read back 0\n"));
    EXPECT_TRUE(restore.err.endsWith(QLatin1String("servoctl: DO2 fault_reset: wrote 1, read back 0\nservoctl: restore "
                                                   "stopped at DO2 fault_reset: written and verified: none; not "
                                                   "reached: HR5\n"))) << qPrintable(restore.err);
}

TEST(ServoctlBackup, ABackupThatCannotReadEveryEntryWritesNoFile)
{
    QTemporaryDir dir;
    const QString map = place(dir, "drive.map", QLatin1String(kMap));
    const QString saved = dir.filePath(QStringLiteral("drive9.txt"));
    const Outcome backup = servoctl({"--station", "9", "--timeout", "100", "backup", "--map", map, "-o", saved});
    EXPECT_EQ(backup.status, 1);
    EXPECT_TRUE(backup.err.contains(QLatin1String("servoctl: read HR10 speed_limit: PLC no response")));
    EXPECT_TRUE(backup.err.endsWith(QStringLiteral("backup stopped at HR10 speed_limit: nothing written to %1\n")
                                        .arg(saved))) << qPrintable(backup.err);
    EXPECT_FALSE(QFile::exists(saved));
}

// Each with the text the one line must hold (%1: the file); nothing is sent.
TEST(ServoctlBackup, RefusesBadMapsAndBackupsBeforeSendingAnything)
{
    const struct
    {
        const char *text;
        bool backupFile; // restored, else a map backed up
        const char *named;
    } cases[] = {
        {"IR5 word", false, "%1:1: IR5 word: IR is read-only"},
        {"HR1 word\nDI5 bit", false, "%1:2: DI5 bit: DI is read-only"},
        {"HR60010 word", false, "%1:1: HR60010 word: HR60000-HR60010 are the driver's special store"},
        {"HR59999 dword", false, "%1:1: HR59999 dword: HR60000-HR60010"},
        {"FN6HR5 dword", false, "%1:1: FN6HR5 dword: FN6HR writes one register"},
        {"HR5 bit", false, "%1:1: HR5 bit: a bit of a register names its bit, such as HR5.0"},
        {"HR5.16 bit", false, "%1:1: HR5.16 bit: bits of a register run from 0 to 15"},
        {"DO5.1 bit", false, "%1:1: DO5.1 bit: a coil has no bit number"},
        {"HR5SW word", false, "%1:1: HR5SW word: SW goes only with dword"},
        {"HR65536 dword", false, "%1:1: HR65536 dword: a dword there runs past HR65536"},
        {"HR5 byte", false, "%1:1: type byte: an entry is word, dword or bit"},
        {"HRX5 word", false, "%1:1: HRX5: unknown area"},
        {"HR5", false, "%1:1: HR5: an entry is ADDRESS TYPE [NAME] [# comment]"},
        {"HR5 word a$b", false, "%1:1: name a$b:"},
        {"HR5 word a b # c", false, "%1:1: unexpected b"},
        {"HR1 word\n\n# x\nHR1.3 bit", false, "%1:4: HR1.3 overlaps HR1 word of line 1"},
        {"HR1SW dword\nHR2 word", false, "%1:2: HR2 overlaps HR1SW dword of line 1"},
        {"DO3 bit\nFN5DO3 bit", false, "%1:2: FN5DO3 repeats DO3 bit of line 1"},
        {"# nothing", false, "%1: no entries"},
        {"HR5 word 65536", true, "%1:1: HR5: invalid value for a word: \"65536\""},
        {"HR5.1 bit 2", true, "%1:1: HR5.1: invalid value for a bit: \"2\""},
        {"HR5 word", true, "%1:1: HR5: an entry is ADDRESS TYPE VALUE [NAME] [# comment]"},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString path = place(dir, "entries", QLatin1String(c.text));
        const QStringList args = c.backupFile ? QStringList{"restore", path}
                                              : QStringList{"backup", "--map", path, "-o", dir.filePath("new.txt")};
        const Outcome run = servoctl(args);
        EXPECT_EQ(run.status, 2) << c.text;
        EXPECT_EQ(run.err.count('\n'), 1) << qPrintable(run.err);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("servoctl: ") + QString::fromUtf8(c.named).arg(path)))
            << c.named << " in " << qPrintable(run.err);
    }
    const char *const optionCases[][2] = {
        {"--dry-run read HR1", "--dry-run goes only with restore, not with read HR1"},
        {"--map M backup", "backup needs -o FILE"},
        {"--map M read HR1", "--map goes only with backup"},
        {"restore", "restore needs a backup file"},
    };
    for (const auto &c : optionCases) {
        const Outcome run = servoctl(QString::fromLatin1(c[0]).split(' '));
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("servoctl: ") + QLatin1String(c[1]))) << qPrintable(run.err);
    }
}

} // namespace
