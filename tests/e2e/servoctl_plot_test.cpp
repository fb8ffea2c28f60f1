// servoctl's CSV log, and plot drawing one: the writer and reader directly,
// plot as a user runs it.
#include <csignal>

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "csvlog.h"
#include "servoctl_run.h"
#include "test_files.h"

namespace {

// Any log plot reads: what it draws is pinned with a map below.
const char kLog[] = "time,station,address,raw,value\n2026-12-06T06:10:01.000,1,IR1,0x03E8,1000\n";

// Bad logs fail when plot runs (status 1), naming the file, line and word;
// a wrong command line fails before (status 2). No image is left behind.
TEST(ServoctlPlot, RefusesBadLogsAndCommandLines)
{
    const QByteArray header = "time,station,address,raw,value\n";
    const QByteArray now = "time,station,address,raw,value,kind,error\n";
    const QByteArray good = "2026-12-06T06:10:01.000,1,IR1,0x03E8,1000\n";
    const struct
    {
        QByteArray log;
        int status;
        const char *said;                   // after "servoctl: "; LOG stands for the log's path
        QStringList args = {"-o", "x.png"}; // after "plot LOG"
    } cases[] = {
        {header + good + "2026-12-06T06:10:02.000,248,IR1,0x03E8,1\n", 1, "LOG:3: not a station (0 to 247): 248"},
        {header + "2026-12-06T06:10:01,1,IR1,0x03E8,1\n", 1,
         "LOG:2: not a time such as 2026-12-06T06:10:01.123+01:00: 2026-12-06T06:10:01"},
        {now + "2026-12-06T06:10:01.000+1:300,1,IR1,,,read,x\n", 1,
         "LOG:2: not a time such as 2026-12-06T06:10:01.123+01:00: 2026-12-06T06:10:01.000+1:300"},
        {now + "2026-12-06T06:10:01.000+01:00,1,IR1,0x03E8,1000,wrote,\n", 1,
         "LOG:2: not a kind (read, write or broadcast): wrote"},
        {now + "2026-12-06T06:10:01.000+01:00,1,IR1,0x03E8,1000,read,timed out\n", 1,
         "LOG:2: a failed read with a value: 0x03E8,1000"},
        {now + "2026-12-06T06:10:01.000+01:00,1,HR1,,,write,timed out\n", 1, "LOG:2: not a raw value such as 0x03E8: "},
        {now + "2026-12-06T06:10:01.000+01:00,1,HR1,0x0001,1,write,\n", 1, "LOG: no reads to plot, only writes"},
        {header + "2026-12-06T06:10:01.000,1,\"a\nb\",1000,1\n", 1, "LOG:2: not a raw value such as 0x03E8: 1000"},
        {header + good + good.left(good.size() - 1) + ",5\n", 1, "LOG:3: a row has 5 fields, this one 6:"},
        {header + "2026-12-06T06:10:01.000,1,IR1,0x03E8,\"1\n", 1, "LOG:2: a quoted field is never closed: 1"},
        {"time,station,address,value\n" + good, 1,
         "LOG:1: not a servoctl log, whose first line is time,station,address,raw,value,kind,error: "
         "time,station,address,value"},
        {header, 1, "LOG: no rows to plot"},
        {header + "2026-12-06T06:10:01.000,1,IR2,0x7FC00000,nan\n", 1, "LOG: no value to draw, every one is nan or inf"},
        {header + good, 2, "-o: DIR/log.csv exists: servoctl never replaces a file", {"-o", "log.csv"}},
        {header + good, 2, "plot needs -o OUT.png", {}},
        {header + good, 2, "plot takes one CSV log: LOG extra", {"extra", "-o", "x.png"}},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const QString log = fileIn(dir, QStringLiteral("log.csv"), c.log);
        QStringList args = {"plot", log};
        for (const QString &arg : c.args)
            args.append(arg.endsWith(QLatin1String(".csv")) || arg.endsWith(QLatin1String(".png")) ? dir.filePath(arg) : arg);
        const Outcome run = servoctl(args);
        const QString said = QString::fromUtf8(c.said).replace(QLatin1String("LOG"), log).replace(QLatin1String("DIR"), dir.path());
        EXPECT_EQ(run.status, c.status) << c.said;
        EXPECT_TRUE(beginsWith(run.err, "servoctl: " + said));
        EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << qPrintable(run.err);
        EXPECT_EQ(contentsOf(log), c.log) << "the log is untouched";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"log.csv"});
    }
}

// gnuplot looked up on PATH, and what it says when it fails passed on.
TEST(ServoctlPlot, SaysWhenGnuplotIsMissingOrFails)
{
    QTemporaryDir dir;
    const QString log = fileIn(dir, QStringLiteral("log.csv"), kLog);
    fileIn(dir, QStringLiteral("gnuplot"),
           "#!/bin/sh\necho warming up >&2\necho '\"plot.gp\" line 9: out of ink' >&2\nexit 1\n", 0500);
    const QByteArray path = qgetenv("PATH");
    for (const auto &[binDir, said] :
         {std::pair<QString, const char *>{dir.filePath("none"), "plot needs gnuplot (apt-get install gnuplot-nox)"},
          {dir.path(), "gnuplot: \"plot.gp\" line 9: out of ink"}}) {
        qputenv("PATH", binDir.toLocal8Bit());
        const Outcome run = servoctl({"plot", log, "-o", dir.filePath("x.png")});
        qputenv("PATH", path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, QStringLiteral("servoctl: %1\n").arg(QString::fromUtf8(said)));
        EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));
    }
}

// Whether process pid has ended (a zombie has, whoever is to reap it).
bool ended(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// A gnuplot that hangs, deaf to SIGTERM, with a child of its own: servoctl
// ended by a signal (or a second one, which ends it at once) ends them both.
TEST(ServoctlPlot, EndsAHangingGnuplotWhenItEnds)
{
    QTemporaryDir dir;
    const QString log = fileIn(dir, QStringLiteral("log.csv"), kLog);
    const QString sleeper = dir.filePath(QStringLiteral("sleeper"));
    fileIn(dir, QStringLiteral("gnuplot"),
           "#!/bin/sh\ntrap '' TERM\n/bin/sleep 600 &\necho $! > '" + sleeper.toLocal8Bit() + "'\nwait\n", 0500);
    for (const bool twice : {false, true}) {
        QFile::remove(sleeper);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", dir.path().toLocal8Bit());
        ChildProcess plot(SERVOCTL_COMMAND, {"plot", log, "-o", dir.filePath("x.png")});
        qputenv("PATH", path);
        QByteArray pid;
        for (int i = 0; i < 3000 && pid.isEmpty(); ++i) {
            usleep(10000);
            QFile file(sleeper);
            if (file.open(QIODevice::ReadOnly))
                pid = file.readAll().trimmed();
        }
        ASSERT_FALSE(pid.isEmpty()) << "the hanging gnuplot never started";
        plot.signal(SIGTERM);
        if (twice)
            plot.signal(SIGINT);
        EXPECT_EQ(plot.finish(), twice ? -1 : 143) << qPrintable(plot.err());
        bool gone = false;
        for (int i = 0; i < 1000 && !(gone = ended(pid_t(pid.toInt()))); ++i)
            usleep(10000);
        EXPECT_TRUE(gone) << "gnuplot's child outlived servoctl";
        EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));
    }
}

// servoctl plot with a gnuplot on PATH that keeps the script and data it is
// given in dir's "seen" folder and hands them to the real one.
Outcome plotKeepingScript(const QTemporaryDir &dir, const QStringList &args)
{
    const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    QDir(dir.path()).mkdir(QStringLiteral("seen"));
    fileIn(dir, QStringLiteral("gnuplot"),
           "#!/bin/sh\n/bin/cp plot.gp *.dat '" + dir.filePath(QStringLiteral("seen")).toLocal8Bit() + "'\nexec '"
               + gnuplot.toLocal8Bit() + "' \"$@\"\n",
           0500);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit());
    const Outcome run = servoctl(QStringList{"plot"} + args);
    qputenv("PATH", path);
    return run;
}

// A log of a speed, a position and a status bit, named by a map: a panel
// each on one time axis, named with their units, the bit in steps.
TEST(ServoctlPlot, DrawsAPanelForEachSignalNamedByTheMap)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gnuplot")).isEmpty())
        GTEST_SKIP() << "no gnuplot";
    QTemporaryDir dir;
    QByteArray log = "time,station,address,raw,value\n";
    for (int i = 0; i < 50; ++i) {
        const int speed = qMin(1500, i * 40), on = i >= 38;
        const QByteArray at = QString::asprintf("2026-12-06T06:10:%02d.%03d,1,", i / 20, i % 20 * 50).toLatin1();
        log += QString::asprintf("%sIR1,0x%04x,%d\n%sIR2,0x%08x,%d\n%sIR4.1,0x%d,%d\n", at.constData(), speed,
                                 speed, at.constData(), i * 900, i * 900, at.constData(), on, on)
                   .toLatin1();
    }
    // Names a user may give: the script quotes them.
    const QString csv = fileIn(dir, QStringLiteral("speed log.csv"), log);
    const QString image = dir.filePath(QStringLiteral("it's \"the\" plot.png"));
    // An old map's line, without a unit, is read as before.
    const QString map = fileIn(dir, QStringLiteral("signals.map"),
                               "IR1 word speed rpm  # actual\nIR2 dword position counts\nIR4.1 bit at_speed\n");
    const Outcome run = plotKeepingScript(dir, {csv, "--map", map, "-o", image});
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out, image + QStringLiteral(": plot of 150 rows, 3 lines in 3 panels, 1200x700\n"));
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    // PNG signature, then the IHDR chunk (13 bytes): width 1200 and height 700, big-endian.
    EXPECT_EQ(contentsOf(image).left(24).toHex(), "89504e470d0a1a0a0000000d49484452000004b0000002bc");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4) << "nothing left beside the image";
    const QString script = QString::fromUtf8(contentsOf(dir.filePath("seen/plot.gp")));
    EXPECT_TRUE(holds(script, "set multiplot layout 3,1 title 'speed log.csv, 2026-12-06 06:10:00'"));
    EXPECT_EQ(script.count(QLatin1String("\nplot ")), 3);
    // The panels in the log's order, sharing the x range; numbers under the bottom one only.
    EXPECT_TRUE(matches(script, "(?s)set ylabel 'speed \\(rpm\\)'.*set ylabel 'position \\(counts\\)'.*set ylabel 'at_speed'"));
    EXPECT_TRUE(holdsOnce(script, "set xrange [0:2.45]"));
    EXPECT_EQ(script.count(QLatin1String("set format x ''")), 2);
    EXPECT_TRUE(matches(script, "(?s)set ylabel 'at_speed'.*set xlabel 'time \\(s\\)'"));
    EXPECT_TRUE(script.contains(QLatin1String("'0.dat' using 1:2 with linespoints linetype 1 pointtype 7 pointsize 0.8 title 'speed'")));
    EXPECT_TRUE(script.contains(QLatin1String("'1.dat' using 1:2 with linespoints linetype 2 pointtype 7 pointsize 0.8 title 'position'")));
    EXPECT_TRUE(script.contains(QLatin1String("'2.dat' using 1:2 with steps linetype 3 title 'at_speed'")));
    EXPECT_TRUE(matches(script, "(?s)set ylabel 'at_speed'.*set ytics 1\n"));

    // A map that is wrong stops the run before plot reads anything.
    const QString bad = fileIn(dir, QStringLiteral("bad.map"), "IR1 word speed rpm\nIR1 dword again\n");
    const Outcome refused = servoctl({"plot", csv, "--map", bad, "-o", dir.filePath("bad.png")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, QStringLiteral("servoctl: %1:2: IR1 repeats IR1 of line 1 (see servoctl --help)\n").arg(bad));
}

// Two drives' set-points in one panel: the second line dashed, the first
// broken at its failed read (NaN in its data) and crossed at the foot,
// each write marked at its time and labelled, the unacknowledged one red.
TEST(ServoctlPlot, BreaksLinesAtFailedReadsAndMarksWrites)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gnuplot")).isEmpty())
        GTEST_SKIP() << "no gnuplot";
    QTemporaryDir dir;
    const QString csv = fileIn(
        dir, QStringLiteral("log.csv"),
        "time,station,address,raw,value,kind,error\n"
        "2026-12-06T06:10:00.000+05:30,1,HR1,0x0000,0,read,\n"
        "2026-12-06T06:10:00.000+05:30,2,HR1,0x0000,0,read,\n"
        "2026-12-06T06:10:00.500+05:30,1,HR1,,,read,PLC no response\n"
        "2026-12-06T06:10:00.500+05:30,2,HR1,0x0000,0,read,\n"
        "2026-12-06T06:10:01.500+05:30,1,HR1,0x04B0,1200,write,\n"
        "2026-12-06T06:10:01.600+05:30,2,HR1,0xFCE0,-800,write,PLC no response\n"
        "2026-12-06T06:10:02.000+05:30,1,HR1,0x04B0,1200,read,\n"
        "2026-12-06T06:10:02.000+05:30,2,HR1,0x0000,0,read,\n");
    const Outcome run = plotKeepingScript(dir, {csv, "-o", dir.filePath("log.png")});
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out,
              dir.filePath("log.png")
                  + QStringLiteral(": plot of 8 rows (1 failed read, 2 writes), 2 lines in 1 panel, 1200x700\n"));
    EXPECT_EQ(contentsOf(dir.filePath("seen/0.dat")), "0.0000 0\n0.5000 NaN\n2.0000 1200\n");
    EXPECT_EQ(contentsOf(dir.filePath("seen/0-failed.dat")), "0.5000\n");
    const QString script = QString::fromUtf8(contentsOf(dir.filePath("seen/plot.gp")));
    for (const char *line :
         {"title 'log.csv, 2026-12-06 06:10:00 +05:30'",
          "set arrow from 1.5, graph 0 to 1.5, graph 1 nohead front linewidth 1.5 dashtype 2 linecolor rgb '#333333'",
          "set arrow from 1.6, graph 0 to 1.6, graph 1 nohead front linewidth 1.5 dashtype 3 linecolor rgb '#cc0000'",
          "set label 'station 1 HR1 := 1200' at first 1.5, screen ",
          "set label 'station 2 HR1 := -800 (unconfirmed)' at first 1.6, screen ",
          "'0.dat' using 1:2 with steps linetype 1 title 'station 1 HR1'",
          "'0-failed.dat' using 1:(-60) with points linetype 1 pointtype 2",
          "'1.dat' using 1:2 with steps linetype 2 dashtype 2 title 'station 2 HR1'"})
        EXPECT_TRUE(script.contains(QLatin1String(line))) << line << "\n" << qPrintable(script);
    EXPECT_FALSE(QFile::exists(dir.filePath("seen/1-failed.dat")));
}

TEST(ServoctlPlot, LogQuotesFieldsAndReadsItsOwnRowsBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "XST-5:30"); // 5 h 30 min east of UTC, without time zone data
    tzset();
    const qint64 ms = QDateTime(QDate(2026, 12, 6), QTime(0, 40, 1, 123), Qt::UTC).toMSecsSinceEpoch();
    QString error;
    {
        CsvLog log;
        // A device path may hold quotes and commas: the comment keeps to its line.
        ASSERT_TRUE(log.open(path, QStringLiteral("/dev/serial/\"a,b\", RS485,9600,NONE,8,2"), &error))
            << qPrintable(error);
        EXPECT_TRUE(log.append(ms, 2, QStringLiteral("HR100 low"), QStringLiteral("0xE8"), QStringLiteral("a,\"b\"\nc")));
        EXPECT_TRUE(log.append(ms + 1, 247, QStringLiteral("IR2SW"), QStringLiteral("0x3F800000"), QStringLiteral("1.0")));
        EXPECT_TRUE(log.append(ms + 2, 3, QStringLiteral("IR1"), QString(), QString(), LogKind::Read,
                               QStringLiteral("PLC no response")));
        EXPECT_TRUE(log.append(ms + 3, 0, QStringLiteral("HR1"), QStringLiteral("0x0001"), QStringLiteral("1"),
                               LogKind::Broadcast));
        EXPECT_TRUE(log.flush());
        EXPECT_FALSE(CsvLog().open(path, QString(), &error));
        EXPECT_TRUE(error.contains(QLatin1String("servoctl never replaces a file"))) << qPrintable(error);
    }
    EXPECT_EQ(contentsOf(path).toStdString(),
              "# line: /dev/serial/\"a,b\", RS485,9600,NONE,8,2\n"
              "time,station,address,raw,value,kind,error\n"
              "2026-12-06T06:10:01.123+05:30,2,HR100 low,0xE8,\"a,\"\"b\"\"\nc\",read,\n"
              "2026-12-06T06:10:01.124+05:30,247,IR2SW,0x3F800000,1.0,read,\n"
              "2026-12-06T06:10:01.125+05:30,3,IR1,,,read,PLC no response\n"
              "2026-12-06T06:10:01.126+05:30,0,HR1,0x0001,1,broadcast,\n");
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
    QList<CsvLogRow> rows;
    ASSERT_TRUE(readCsvLog(path, &rows, &error)) << qPrintable(error);
    // Line, time after ms (read back by its offset, in any time zone),
    // station, address, raw, value, kind and error of each.
    QStringList read;
    for (const CsvLogRow &r : rows)
        read << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                    .arg(QString::number(r.line), QString::number(r.epochMs - ms), QString::number(r.station), r.address,
                         QString::number(r.raw, 16), r.value, QString::fromLatin1(logKindName(r.kind)), r.error);
    EXPECT_EQ(read, QStringList({"3 0 2 HR100 low e8 a,\"b\"\nc read ", "5 1 247 IR2SW 3f800000 1.0 read ",
                                 "6 2 3 IR1 0  read PLC no response", "7 3 0 HR1 1 1 broadcast "}));
}

} // namespace
