// servoctl backup and restore as a user runs them: a drive served by a
// servosim process that outlives each servoctl run, or the built-in line.
#include <pty.h>

#include <cstring>
#include <string>
#include <tuple>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "parammap.h"
#include "servoctl_run.h"
#include "test_files.h"

namespace {

const char kHeaderEnd[] = "# ADDRESS TYPE VALUE [NAME] [# comment]; servoctl restore FILE writes it back\n";

const char kMap[] = "# drive 1\nHR10 word speed_limit # rpm\n\nHR11 dword position_limit counts\nHR20.3 bit reverse\nDO4 bit\n";

TEST(ServoctlBackup, BacksUpChangesAndRestoresAcrossRuns)
{
    QTemporaryDir dir;
    const QString map = fileIn(dir, "drive.map", kMap);
    const QString saved = dir.filePath(QStringLiteral("drive1.txt"));
    ChildProcess sim(SERVOSIM_COMMAND, {"--stations", "1,2"});
    const QString line = servedLine(sim);
    ASSERT_FALSE(line.isEmpty()) << qPrintable(sim.err());
    const auto onLine = [&](const QStringList &args) {
        return servoctl(QStringList{"-d", line, "--timeout", "2000"} + args);
    };
    // HR11 and HR12 hold the dword 70000, the low word first.
    ASSERT_EQ(onLine(words("write HR10 word 1500 4464 1 then write HR20 word 9 then write DO4 bit 1")).status, 0);

    // The header, a dry run and a restore off a terminal without --yes:
    // docs/servoctl.md's examples; here a dword, a register's bit and a coil.
    EXPECT_EQ(onLine({"backup", "--map", map, "-o", saved}).status, 0);
    const QString file = QString::fromUtf8(contentsOf(saved));
    EXPECT_TRUE(endsWith(file, "\nHR10 word 1500 speed_limit # rpm\nHR11 dword 70000 position_limit counts\n"
                               "HR20.3 bit 1 reverse\nDO4 bit 1\n"));
    // servosim started from the backup answers its values: the header's
    // station 1 alone, and of HR20 only the bit saved.
    ChildProcess loaded(SERVOSIM_COMMAND, {"--load", saved});
    const QString loadedLine = servedLine(loaded);
    EXPECT_EQ(servoctl(QStringList{"-d", loadedLine} + words("read HR10 word 3 then read HR20 then read DO4")).out.toStdString(),
              "> read HR10 word 3\nHR10 = 1500\nHR11 = 4464\nHR12 = 1\n> read HR20\nHR20 = 8\n> read DO4\nDO4 = 1\n");
    EXPECT_TRUE(loaded.waitFor(QStringLiteral("servosim: drives 1 on %1 (RS485,9600,NONE,8,2), faults none, "
                                              "model static, 4 values from %2 into station 1\n")
                                   .arg(loadedLine, saved)))
        << qPrintable(loaded.err());

    ASSERT_EQ(onLine(words("write HR10 word 1200 5 0 then write HR20.3 bit 0")).status, 0);
    EXPECT_EQ(onLine({"restore", saved, "--dry-run"}).status, 0);
    EXPECT_EQ(onLine({"restore", saved}).status, 3);
    // Its "from" values, read from the drive, show that neither wrote.
    const Outcome restore = onLine({"--station", "1", "restore", saved, "--yes"});
    EXPECT_EQ(restore.status, 0) << qPrintable(restore.err);
    EXPECT_EQ(restore.out.toStdString(),
              "HR10 speed_limit: 1200 -> 1500, would be written\n"
              "HR11 position_limit: 5 -> 70000, would be written\n"
              "HR20.3 reverse: 0 -> 1, would be written\nDO4: 1, unchanged\n"
              "HR10 speed_limit: 1200 -> 1500, written, verified\n"
              "HR11 position_limit: 5 -> 70000, written, verified\n"
              "HR20.3 reverse: 0 -> 1, written, verified\n"
              "restored 4 entries: 3 written and verified, 1 unchanged\n");
    EXPECT_EQ(onLine(words("read HR10 word 3 then read HR20")).out.toStdString(),
              "> read HR10 word 3\nHR10 = 1500\nHR11 = 4464\nHR12 = 1\n> read HR20\nHR20 = 9\n");
    // Saved from station 1, restored onto station 2: said, and done.
    const Outcome other = onLine({"--station", "2", "restore", saved, "--dry-run"});
    EXPECT_TRUE(holds(other.err,
                      QStringLiteral("servoctl: %1 was saved from station 1; restoring to station 2\n").arg(saved)));
    EXPECT_TRUE(endsWith(other.out, "4 would be written, 0 unchanged; nothing written\n"));
}

// Simulated values never reach real drives unasked, nor the reverse; and
// no path can add a line to a backup.
TEST(ServoctlBackup, ABackupKeepsToItsKindOfLineAndItsOwnLines)
{
    QTemporaryDir dir;
    const QString map = fileIn(dir, "drive\nHR5 word 4242 injected", "HR10 word\n");
    const QString saved = dir.filePath(QStringLiteral("sim.txt"));
    const Outcome backup = servoctl({"--sim", "write", "HR10", "word", "77", "then", "backup", "--map", map, "-o", saved});
    ASSERT_EQ(backup.status, 0) << qPrintable(backup.err);
    const QString file = QString::fromUtf8(contentsOf(saved));
    EXPECT_TRUE(holds(file, QStringLiteral("\n# line: built-in simulated line, RS485,9600,NONE,8,2\n# map: %1\\nHR5 "
                                           "word 4242 injected\n")
                                .arg(dir.filePath("drive"))));
    EXPECT_TRUE(endsWith(file, " writes it back\nHR10 word 77\n"));

    ChildProcess sim(SERVOSIM_COMMAND, {});
    const QString line = servedLine(sim);
    const Outcome refused = servoctl({"-d", line, "restore", saved, "--yes"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              QStringLiteral("servoctl: restore: %1 was saved on another kind of line (built-in simulated "
                             "line, RS485,9600,NONE,8,2); not restored onto %2 without --any-line (see "
                             "servoctl --help)\n")
                  .arg(saved, line));
    const Outcome deliberate = servoctl({"-d", line, "--any-line", "restore", saved, "--yes"});
    EXPECT_EQ(deliberate.status, 0) << qPrintable(deliberate.err);
    EXPECT_EQ(deliberate.out, QLatin1String("HR10: 0 -> 77, would be written\nHR10: 0 -> 77, written, verified\n"
                                            "restored 1 entry: 1 written and verified, 0 unchanged\n"));
    EXPECT_EQ(servoctl({"--sim", "restore", saved, "--dry-run"}).out,
              QLatin1String("HR10: 0 -> 77, would be written\ndry run of 1 entry: 1 would be written, 0 unchanged; "
                            "nothing written\n"));
}

// On a terminal restore asks; only "y" or "yes" writes.
TEST(ServoctlBackup, OnATerminalRestoreAsksFirst)
{
    QTemporaryDir dir;
    const QString saved = fileIn(dir, "saved.txt", "HR7 word 9\n");
    ChildProcess sim(SERVOSIM_COMMAND, {});
    const QString line = servedLine(sim);
    for (const auto &[answer, status, value] :
         {std::tuple("n\n", 3, "0"), std::tuple("\n", 3, "0"), std::tuple("Yes\n", 0, "9")}) {
        int master = -1, terminal = -1;
        ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        ChildProcess restore(SERVOCTL_COMMAND, {"-d", line, "restore", saved}, terminal);
        EXPECT_TRUE(restore.waitFor(QStringLiteral("servoctl: write 1 entry to station 1 on %1, RS485,9600,NONE,8,2? "
                                                   "[y/N] ")
                                        .arg(line)))
            << qPrintable(restore.err());
        EXPECT_EQ(::write(master, answer, strlen(answer)), ssize_t(strlen(answer)));
        EXPECT_EQ(restore.finish(), status) << qPrintable(restore.err());
        EXPECT_EQ(servoctl({"-d", line, "read", "HR7"}).out, QStringLiteral("HR7 = %1\n").arg(QLatin1String(value)));
        ::close(master);
        ::close(terminal);
    }
}

// Nothing is written when a read of the plan fails.
TEST(ServoctlBackup, ARestoreThatCannotReadItsPlanWritesNothing)
{
    QTemporaryDir dir;
    const QString saved = fileIn(dir, "saved.txt",
                                 "HR1 word 5 a\nHR2 word 0\nHR20 word 7\n"
                                 "HR21 word 8 past_end\nHR22 word 9\n");
    ChildProcess sim(SERVOSIM_COMMAND, {"--holding", "20"});
    const QString line = servedLine(sim);
    // What it says: docs/servoctl.md's example of a drive with fewer registers.
    EXPECT_EQ(servoctl({"-d", line, "restore", saved, "--yes"}).status, 1);
    EXPECT_EQ(servoctl({"-d", line, "read", "HR20"}).out, QLatin1String("HR20 = 0\n"));
}

// The simulated servo's fault reset reads 0 again once written: never good.
// The restore stops there, saying the drive took the write.
TEST(ServoctlBackup, AReadBackThatDiffersStopsTheRestore)
{
    QTemporaryDir dir;
    const QString saved = fileIn(dir, "saved.txt", "HR5 word 3\nDO2 bit 1 fault_reset\nHR6 word 4\n");
    const Outcome restore = servoctl({"--sim", "--sim-model", "servo", "restore", saved, "--yes"});
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.out, QLatin1String("HR5: 0 -> 3, would be written\nDO2 fault_reset: 0 -> 1, would be written\n"
                                         "HR6: 0 -> 4, would be written\nHR5: 0 -> 3, written, verified\n"
                                         "DO2 fault_reset: 0 -> 1, written, but read back 0\n"));
    EXPECT_TRUE(endsWith(restore.err, "servoctl: DO2 fault_reset: wrote 1, read back 0\nservoctl: restore "
                                      "stopped at DO2 fault_reset (the drive acknowledged its write; the "
                                      "read-back did not confirm it): written and verified: HR5; not "
                                      "reached: HR6\n"));
}

TEST(ServoctlBackup, ABackupThatCannotReadEveryEntryWritesNoFile)
{
    QTemporaryDir dir;
    const QString map = fileIn(dir, "drive.map", kMap);
    const QString saved = dir.filePath(QStringLiteral("drive9.txt"));
    const Outcome backup = servoctl({"--sim", "--station", "9", "--timeout", "100", "backup", "--map", map, "-o", saved});
    EXPECT_EQ(backup.status, 1);
    EXPECT_TRUE(holds(backup.err, "servoctl: read HR10 speed_limit: PLC no response"));
    EXPECT_TRUE(endsWith(backup.err,
                         QStringLiteral("backup stopped at HR10 speed_limit: nothing written to %1\n").arg(saved)));
    EXPECT_FALSE(QFile::exists(saved));
}

// Each with the text the one line must hold (%1: the file), read in
// process as backup and restore read them while the plan is made, before
// the line opens; one run of servoctl shows what a user sees of it. The
// options that go with backup and restore: ServoctlPlan.
TEST(ServoctlBackup, RefusesBadMapsAndBackupsBeforeSendingAnything)
{
    const struct
    {
        std::string text;
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
        {"HR5 word a rpm b # c", false, "%1:1: unexpected b"},
        {"HR5 word a r\"pm", false, "%1:1: unit r\"pm: up to 16 characters, no quote or backslash"},
        {"HR1 word\n\n# x\nHR1.3 bit", false, "%1:4: HR1.3 overlaps HR1 word of line 1"},
        {"HR1SW dword\nHR2 word", false, "%1:2: HR2 overlaps HR1SW dword of line 1"},
        {"DO3 bit\nFN5DO3 bit", false, "%1:2: FN5DO3 repeats DO3 bit of line 1"},
        {"# nothing", false, "%1: no entries"},
        {"HR5 word 65536", true, "%1:1: HR5: invalid value for a word: \"65536\""},
        {"HR5.1 bit 2", true, "%1:1: HR5.1: invalid value for a bit: \"2\""},
        {"HR5 int16 -40000", true,
         "%1:1: HR5: int16 takes a whole number from -32768 to 32767 (0 to 65535 "
         "as older backups wrote it), not -40000"},
        {"HR5 int32 4294967296", true, "%1:1: HR5: int32 takes a whole number from -2147483648 to 2147483647"},
        {"HR5 word", true, "%1:1: HR5: an entry is ADDRESS TYPE VALUE [NAME] [# comment]"},
        // What an older servoctl wrote for a map path holding a newline.
        {"# servoctl 1.0.0 backup\n# map: m\nHR5 word 4242 injected\n" + std::string(kHeaderEnd) + "HR1 word 0", true,
         "%1:3: not a line of a servoctl backup's header (# saved:, # station:, # line: or # map:, each once): HR5 word 4242"},
        {"# servoctl 1.0.0 backup\n# station: 1\n", true, "%1: the servoctl backup's header never ends"},
    };
    for (const auto &c : cases) {
        ParamFile file;
        QString error;
        EXPECT_FALSE(parseParamText(QString::fromStdString(c.text), QStringLiteral("F"),
                                    c.backupFile ? ParamFileKind::Backup : ParamFileKind::Map, &file, &error))
            << c.text;
        EXPECT_TRUE(beginsWith(error, QString::fromUtf8(c.named).arg(QLatin1Char('F')))) << c.named;
        EXPECT_FALSE(error.contains(QLatin1Char('\n'))) << qPrintable(error);
    }
    QTemporaryDir dir;
    const QString path = fileIn(dir, "drive.map", "HR1 word\nDI5 bit\n");
    const Outcome run = servoctl({"--sim", "--trace", "backup", "--map", path, "-o", dir.filePath("new.txt")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.isEmpty()) << qPrintable(run.out);
    EXPECT_EQ(run.err, QStringLiteral("servoctl: %1:2: DI5 bit: DI is read-only; a map holds what restore writes back "
                                      "(HR, FN6HR, DO, FN5DO) (see servoctl --help)\n")
                           .arg(path));
    EXPECT_FALSE(QFile::exists(dir.filePath("new.txt")));
}

} // namespace
