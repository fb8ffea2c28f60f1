// servoctl --line auto: the rate told from what a listener hears, and the
// scan that must not speak beside another master.
#include <csignal>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "lineauto.h"
#include "monitorframer.h"
#include "servoctl_run.h"

namespace {

// A request of 8 bytes and an answer of 9, in turn, each read as it came:
// begun a silent interval (and slackNs of the other side's own time) after
// the one before it went by on the wire. Every fifth read of ours is 40%
// late, which shortens the gap after it.
QList<HeardFrame> pacedFrames(const LineSettings &line, int count, qint64 slackNs)
{
    QList<HeardFrame> frames;
    qint64 due = 0;
    int lastSize = 0;
    for (int i = 0; i < count; ++i) {
        HeardFrame frame;
        frame.bytes = QByteArray(i % 2 ? 9 : 8, '\0');
        due += lastSize * line.characterTimeNs() + line.silentIntervalNs() + slackNs;
        const qint64 gap = lastSize * line.characterTimeNs() + line.silentIntervalNs();
        frame.beginNs = due + (i % 5 == 4 ? gap * 2 / 5 : 0);
        frame.silenceBeforeNs = i ? line.silentIntervalNs() : -1;
        lastSize = frame.bytes.size();
        frames.append(frame);
    }
    return frames;
}

TEST(LineAuto, TellsEachRateByThePaceOfItsFrames)
{
    for (const int rate : lineAutoRates()) {
        for (const char *shape : {"RS485,%1,NONE,8,2", "RS485,%1,NONE,8,1", "RS485,%1,EVEN,8,1"}) {
            LineSettings line;
            QString error;
            ASSERT_TRUE(LineSettings::parse(QString::fromLatin1(shape).arg(rate), &line, &error));
            SCOPED_TRACE(line.toString().toStdString());
            EXPECT_EQ(rateFromPace(pacedFrames(line, 20, 300000), LineSettings()), rate);
        }
    }
    // Four gaps tell nothing yet, nor frames read together.
    LineSettings line;
    EXPECT_EQ(rateFromPace(pacedFrames(line, 4, 0), line), -1);
    QList<HeardFrame> together = pacedFrames(line, 20, 0);
    for (HeardFrame &frame : together)
        frame.silenceBeforeNs = -1;
    EXPECT_EQ(rateFromPace(together, line), -1);
}

// servosim at 19200 with a tap: a quiet line is said so and a scan then
// searches the rates; beside a poller the monitor finds the rate and a scan
// keeps quiet.
TEST(LineAutoOnTap, QuietLineThenAMasterBesideWhichScanKeepsQuiet)
{
    const QString line = QStringLiteral("RS485,19200,NONE,8,2");
    QTemporaryDir dir;
    TappedLine sim(dir, line, QStringLiteral("1-3"), QString());
    ASSERT_TRUE(sim.ready());
    const QString none = QStringLiteral("servoctl: line auto: no traffic heard at 9600, 19200, 38400, 57600, 115200, "
                                        "4800, 2400, 1200 baud");
    const Outcome quiet = servoctl({"-d", sim.tap, "--line", "auto", "monitor"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err, none + QLatin1Char('\n'));
    EXPECT_TRUE(quiet.out.isEmpty());
    const Outcome searched = servoctl({"-d", sim.link, "--line", "auto", "scan", "1"});
    ASSERT_EQ(searched.status, 0) << qPrintable(searched.err);
    EXPECT_TRUE(beginsWith(searched.err, none + QLatin1String("; the scan searches the rates\n")));
    EXPECT_TRUE(holds(searched.out, "      1  RS485,19200,NONE,8,2 "));

    ChildProcess poller(SERVOCTL_COMMAND,
                        {"-d", sim.link, "--line", line, "--station", "1-3", "--interval", "0", "poll", "HR1", "2"});
    ASSERT_TRUE(poller.waitFor(QStringLiteral("HR1")));
    const Outcome monitor = servoctl({"-d", sim.tap, "--line", "auto", "--count", "3", "monitor"});
    ASSERT_EQ(monitor.status, 0) << qPrintable(monitor.err);
    EXPECT_TRUE(beginsWith(monitor.err, "servoctl: line auto: RS485,19200,NONE,8,2 ("));
    EXPECT_TRUE(holds(monitor.err, " good CRCs); on a pseudo-terminal only the baud rate can be found, "
                                   "by the frames' pace, not the parity or stop bits\n"));
    EXPECT_TRUE(beginsWith(monitor.out, QStringLiteral("monitoring %1, RS485,19200,NONE,8,2, listen-only").arg(sim.tap)));
    const Outcome scan = servoctl({"-d", sim.tap, "--line", "auto", "scan", "1-3"});
    EXPECT_EQ(scan.status, 1);
    EXPECT_TRUE(holds(scan.err, "good CRCs): another master is active, and a scan would collide with "
                                "it (--line auto monitor listens to it)\n"));
    EXPECT_TRUE(scan.out.isEmpty()) << qPrintable(scan.out);
    poller.signal(SIGTERM);
    poller.finish();
    sim.stop();
}

} // namespace
