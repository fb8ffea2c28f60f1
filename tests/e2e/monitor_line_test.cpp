// servoctl monitor on servosim's tap, beside servoctl poll on the line
// itself: what the monitor tells must be what the poller and the drives did.
#include <csignal>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <modbus/modbus.h>

#include "csvlog.h"
#include "linelock.h"
#include "plan.h"
#include "servoctl_run.h"
#include "test_files.h"

namespace {

// How many requests the monitor's statistics judged too soon; -1 when absent.
qint64 tooSoon(const QString &out)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\), (\\d+) requests too soon[ \n]")).match(out);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// The monitor's statistics row of a station, by column.
QStringList statsRow(const QString &out, int station)
{
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() > 6 && fields[0] == QString::number(station) && !line.startsWith(QLatin1String("station")))
            return fields;
    }
    return {};
}

// A log's rows as "station address raw".
QStringList csvRows(const QString &path)
{
    QList<CsvLogRow> rows;
    QString error;
    EXPECT_TRUE(readCsvLog(path, &rows, &error)) << qPrintable(error);
    QStringList result;
    for (const CsvLogRow &row : rows)
        result.append(QStringLiteral("%1 %2 %3").arg(row.station).arg(row.address).arg(row.raw));
    return result;
}

TEST(MonitorOnTap, HearsEveryRequestAndValueThePollerSawAndSendsNothing)
{
    for (const char *line : {"RS485,9600,NONE,8,2", "RS485,115200,NONE,8,1"}) {
        SCOPED_TRACE(line);
        QTemporaryDir dir;
        TappedLine sim(dir, QLatin1String(line), QStringLiteral("1-3"), QString());
        ASSERT_TRUE(sim.ready());
        const int polls = 20; // two reads a station each: IR1 2, HR7
        const int requests = 3 * 2 * polls;
        const QString pcap = dir.filePath(QStringLiteral("line.pcap"));
        ChildProcess monitor(SERVOCTL_COMMAND,
                             {"-d", sim.tap, "--line", line, "--stats", "--count", QString::number(requests),
                              "--csv", dir.filePath(QStringLiteral("heard.csv")), "--pcap", pcap, "monitor"});
        ASSERT_TRUE(monitor.waitFor(QStringLiteral("listen-only; Ctrl-C stops\n")));
        const Outcome poll = servoctl({"-d", sim.link, "--line", line, "--station", "1-3", "--polls",
                                       QString::number(polls), "--interval", "0", "--csv",
                                       dir.filePath(QStringLiteral("polled.csv")), "poll", "IR1", "2", "HR7"});
        ASSERT_EQ(poll.status, 0) << qPrintable(poll.err);
        ASSERT_EQ(monitor.finish(30000), 0) << qPrintable(monitor.err());
        const QString simErr = sim.stop();
        EXPECT_FALSE(simErr.contains(QLatin1String("written on the tap"))) << qPrintable(simErr);
        const QString twice = QString::number(2 * polls);
        for (int station = 1; station <= 3; ++station)
            EXPECT_EQ(statsRow(monitor.out(), station).mid(1, 6), QStringList({twice, twice, "0", "0", "0", "0"}))
                << qPrintable(monitor.out());
        const QStringList heard = csvRows(dir.filePath(QStringLiteral("heard.csv")));
        EXPECT_EQ(heard.size(), 3 * polls * 3);
        EXPECT_EQ(heard, csvRows(dir.filePath(QStringLiteral("polled.csv"))));
        EXPECT_EQ(heard.value(0), QStringLiteral("1 IR1 1000")); // station 1's IR1
        // servoctl keeps its silences. On a pseudo-terminal a monitor that the
        // machine wakes late reads an answer late and sees the silence after it
        // short: a few in a hundred on a virtual machine that now and then
        // wakes a process milliseconds late, against most of a master's that
        // keeps none (below).
        EXPECT_LE(tooSoon(monitor.out()), requests / 10) << qPrintable(monitor.out());

        // Every frame captured: a header, and per frame a record header and
        // its bytes (8 a request; 9 and 7 the answers). The records' bytes:
        // PcapWriter's test; read by tshark: PipesItsCaptureIntoTshark.
        EXPECT_EQ(QFileInfo(pcap).size(), 24 + 3 * polls * (2 * (16 + 8) + 16 + 9 + 16 + 7));
    }
}

// --pcap - piped into tshark as into Wireshark on a live line, CRCs checked:
// every request decoded, and the answers tshark finds damaged are as many
// as the monitor and servosim count.
TEST(MonitorOnTap, PipesItsCaptureIntoTshark)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/tshark")))
        GTEST_SKIP() << "tshark is not installed";
    QTemporaryDir dir;
    const QString line = QStringLiteral("RS485,19200,NONE,8,2");
    TappedLine sim(dir, line, QStringLiteral("1"), QStringLiteral("corrupt=0.3"));
    ASSERT_TRUE(sim.ready());
    const int polls = 20;
    ChildProcess piped("/bin/sh",
                       QStringList{"-c",
                                   "{ \"$@\"; echo \"servoctl $?\" >&2; } | /usr/bin/tshark -r - -o "
                                   "'uat:user_dlts:\"User 0 (DLT=147)\",\"mbrtu\",\"0\",\"\",\"0\",\"\"' "
                                   "-o mbrtu.crc_verification:TRUE -T fields -e mbrtu.crc16.status -e _ws.col.Info",
                                   "sh"}
                           + QString::fromLocal8Bit(SERVOCTL_COMMAND).split(QLatin1Char('|'))
                           + QStringList{"-d", sim.tap, "--line", line, "--stats", "--count",
                                         QString::number(polls), "--pcap", "-", "monitor"});
    ASSERT_TRUE(piped.waitFor(QStringLiteral("listen-only; Ctrl-C stops\n")));
    servoctl({"-d", sim.link, "--line", line, "--polls", QString::number(polls), "--interval", "0", "--retries",
              "0", "poll", "HR1", "2"});
    ASSERT_EQ(piped.finish(30000), 0) << qPrintable(piped.err());
    const qint64 corrupt = counted(sim.stop().section(QLatin1Char('\n'), -2), "corrupt");
    // The monitor's text went to standard error, the capture alone through the pipe.
    EXPECT_TRUE(holds(piped.err(), "\nservoctl 0\n"));
    EXPECT_EQ(statsRow(piped.err(), 1).value(5).toLongLong(), corrupt) << qPrintable(piped.err());
    const QStringList packets = piped.out().trimmed().split(QLatin1Char('\n'));
    EXPECT_EQ(packets.size(), 2 * polls) << qPrintable(piped.out());
    EXPECT_EQ(packets
                  .filter(QRegularExpression(QStringLiteral("^1\t +Query: Unit: +1, Func: +3: Read Holding Registers$")))
                  .size(),
              polls)
        << qPrintable(piped.out());
    // Good CRCs only where the monitor and servosim saw no damage.
    EXPECT_EQ(packets.filter(QRegularExpression(QStringLiteral("^1\t"))).size(), 2 * polls - corrupt);
}

// libmodbus's RTU client polling back to back sends each request as soon as
// the answer is in: the monitor must flag those silences.
TEST(MonitorOnTap, FlagsAMasterThatKeepsNoSilence)
{
    QTemporaryDir dir;
    const QString line = QStringLiteral("RS485,9600,NONE,8,1");
    TappedLine sim(dir, line, QStringLiteral("1"), QString());
    ASSERT_TRUE(sim.ready());
    const int requests = 40;
    ChildProcess monitor(SERVOCTL_COMMAND,
                         {"-d", sim.tap, "--line", line, "--stats", "--count", QString::number(requests), "monitor"});
    ASSERT_TRUE(monitor.waitFor(QStringLiteral("listen-only; Ctrl-C stops\n")));
    modbus_t *client = modbus_new_rtu(sim.link.toLocal8Bit().constData(), 9600, 'N', 8, 1);
    ASSERT_NE(client, nullptr);
    modbus_set_slave(client, 1);
    ASSERT_EQ(modbus_connect(client), 0);
    uint16_t registers[2];
    int answered = 0;
    for (int i = 0; i < requests; ++i)
        answered += modbus_read_registers(client, 0, 2, registers) == 2;
    modbus_close(client);
    modbus_free(client);
    EXPECT_EQ(answered, requests);
    ASSERT_EQ(monitor.finish(30000), 0) << qPrintable(monitor.err());
    sim.stop();
    EXPECT_EQ(statsRow(monitor.out(), 1).mid(1, 3), QStringList({"40", "40", "0"})) << qPrintable(monitor.out());
    // All but the first (which follows nothing) are flagged, less those the
    // monitor read late (then with their answers: not judged); on a loaded
    // machine a quarter of them were. A monitor blind to it flags none.
    EXPECT_GE(tooSoon(monitor.out()), requests / 2) << qPrintable(monitor.out());
    EXPECT_TRUE(holds(monitor.err(), "a silence is too short below 1.82 ms"));
}

// --format json read back with Python's json module, --timeline's picture
// and the statistics, from one listening to a line with faults: what the
// monitor counts is what servosim did. (Each verdict, noise's and a late
// answer's too, from given frames: MonitorPairer and MonitorStats.)
TEST(MonitorOnTap, WritesJsonLinesAndATimeline)
{
    QTemporaryDir dir;
    TappedLine sim(dir, QStringLiteral("RS485,9600,NONE,8,2"), QStringLiteral("1"),
                   QStringLiteral("drop=0.2,exception=0.2,corrupt=0.2"));
    ASSERT_TRUE(sim.ready());
    const int polls = 30;
    const QString png = dir.filePath(QStringLiteral("timeline.png"));
    ChildProcess monitor(SERVOCTL_COMMAND, {"-d", sim.tap, "--format", "json", "--timeline", png, "--stats",
                                            "--count", QString::number(polls), "monitor"});
    ASSERT_TRUE(monitor.waitFor(QStringLiteral("listen-only; Ctrl-C stops\n")));
    servoctl({"-d", sim.link, "--polls", QString::number(polls), "--interval", "0", "--retries", "0", "--timeout",
              "300", "poll", "HR7", "2"});
    ASSERT_EQ(monitor.finish(30000), 0) << qPrintable(monitor.err());
    const QString simErr = sim.stop().section(QLatin1Char('\n'), -2);
    const QString jsonl = fileIn(dir, QStringLiteral("monitor.jsonl"), monitor.out().toUtf8());
    // A line a transaction: kind station function address quantity, raws,
    // flags, the exception's name; and whether the hex frames agree. The
    // flags of timing are left out: a monitor the machine wakes late (under
    // the sanitizers) hears gaps and short silences servosim never made.
    ChildProcess python("/usr/bin/python3", {"-c", R"(
import json, sys
timing = ("gap_in_request", "gap_in_answer", "short_silence", "answer_time_unknown")
for line in open(sys.argv[1]):
    o = json.loads(line)
    req = bytes.fromhex(o["request"])
    ok = req[0] == o["station"] and req[1] == o["function"] and (o["answer"] is None) == ("no_answer" in o["flags"])
    print(o["kind"], o["station"], o["function"], o["address"], o["quantity"],
          ",".join(str(v["raw"]) for v in o["values"]) or "-", ",".join(f for f in o["flags"] if f not in timing) or "-",
          o.get("exception_name", "-"), "ok" if ok else "frames disagree")
)",
                                             jsonl});
    ASSERT_EQ(python.finish(), 0) << qPrintable(python.err());
    const QStringList lines = python.out().trimmed().split(QLatin1Char('\n'));
    EXPECT_EQ(lines.size(), polls) << qPrintable(monitor.out());
    EXPECT_EQ(lines.filter(QStringLiteral("exchange 1 3 HR7 2 0,0 - - ok")).size(),
              polls - counted(simErr, "drop") - counted(simErr, "exception") - counted(simErr, "corrupt"))
        << qPrintable(python.out());
    EXPECT_EQ(lines.filter(QStringLiteral("exchange 1 3 HR7 2 - no_answer - ok")).size(), counted(simErr, "drop"));
    EXPECT_EQ(lines.filter(QStringLiteral("exchange 1 3 HR7 2 - exception server device busy ok")).size(),
              counted(simErr, "exception"));
    EXPECT_EQ(lines.filter(QStringLiteral(" - crc_error - ok")).size(), counted(simErr, "corrupt"));
    EXPECT_TRUE(endsWith(monitor.err(), QStringLiteral("%1: timeline of the last %2 transactions\n").arg(png).arg(polls)));
    // The statistics beside the JSON, on standard error: requests, answered,
    // no answer, exceptions, CRC errors.
    EXPECT_EQ(statsRow(monitor.err(), 1).mid(1, 5),
              QStringList({QString::number(counted(simErr, "requests")),
                           QString::number(polls - counted(simErr, "drop")), QString::number(counted(simErr, "drop")),
                           QStringLiteral("06x%1").arg(counted(simErr, "exception")),
                           QString::number(counted(simErr, "corrupt"))}))
        << qPrintable(monitor.err());
    EXPECT_EQ(contentsOf(png).left(8).toHex(), "89504e470d0a1a0a");
}

QString ownName()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

// One reader a device: a monitor on the master's own device would take its
// answers, two monitors would split the bytes, and a master cannot start on
// the device a monitor listens to.
TEST(MonitorOnTap, RefusesADeviceAnotherReaderHolds)
{
    QTemporaryDir dir;
    TappedLine sim(dir, QStringLiteral("RS485,9600,NONE,8,2"), QStringLiteral("1"), QString());
    ASSERT_TRUE(sim.ready());
    const int master = ::open(sim.link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QString error;
    ASSERT_TRUE(claimLine(master, sim.link, &error)) << qPrintable(error);
    const Outcome held = servoctl({"-d", sim.link, "monitor"});
    EXPECT_EQ(held.status, 1);
    EXPECT_EQ(held.err, QStringLiteral("servoctl: monitor: %1 is in use by %2 (pid %3): a second reader would take "
                                       "bytes from it (a monitor listens through an adapter of its own)\n")
                            .arg(sim.link, ownName(), QString::number(getpid())));
    ::close(master);

    // A monitor holds its device: what a second reader is told is above.
    ChildProcess monitor(SERVOCTL_COMMAND, {"-d", sim.tap, "--stats", "monitor"});
    ASSERT_TRUE(monitor.waitFor(QStringLiteral("listen-only; Ctrl-C stops\n")));
    const Outcome second = servoctl({"-d", sim.tap, "read", "HR1"});
    EXPECT_EQ(second.status, 1);
    // The holder by its process name: servoctl, or the emulator it runs under.
    EXPECT_TRUE(holds(second.err, QStringLiteral("%1 is in use by ").arg(sim.tap)));
    EXPECT_TRUE(holds(second.err, QStringLiteral(" (pid %1)").arg(monitor.pid())));
    // It runs until stopped, so stopping it is no failure: it ends with its statistics.
    monitor.signal(SIGTERM);
    EXPECT_EQ(monitor.finish(5000), 0);
    EXPECT_TRUE(holds(monitor.out(), QStringLiteral("statistics (%1, RS485,9600,NONE,8,2)\n").arg(sim.tap)));
    EXPECT_FALSE(monitor.err().contains(QLatin1String("interrupted"))) << qPrintable(monitor.err());
}

} // namespace
