// The termios port on a pseudo-terminal pair: the port opens the slave's
// path, the test plays the line on the master.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <utility>

#include <QRegularExpression>
#include <QStringList>
#include <QVariant>

#include "bitwise_crc.h"
#include "deadlinesleeper.h"
#include "deviceaccess.h"
#include "frametrace.h"
#include "hosttest.h"
#include "linedebtfile.h"
#include "termiosline.h"

namespace {

// The silent interval is three and a half characters up to 19200 baud, 1.75 ms above.
TEST(LineSettings, ParsesTheSettingsTextOrSaysWhatIsWrong)
{
    const QString usage = QStringLiteral(" (expected MODE,BAUD,PARITY,DATABITS,STOPBITS such as RS485,9600,NONE,8,2)");
    const struct
    {
        const char *text;
        int bits;                     // of a character; 0: invalid
        qint64 characterNs, silentNs; // what a character and the silent interval last
        QString result;               // the settings written anew, or the error
    } cases[] = {
        {"RS485,9600,NONE,8,2", 11, 1145833, 4010415, QStringLiteral("RS485,9600,NONE,8,2")},
        {" rs232 , 19200 , even , 7 , 1 ", 10, 520833, 1822915, QStringLiteral("RS232,19200,EVEN,7,1")},
        {"RS485,19200,NONE,8,2", 11, 572916, 2005206, QStringLiteral("RS485,19200,NONE,8,2")},
        {"RS485,38400,NONE,8,2", 11, 286458, 1750000, QStringLiteral("RS485,38400,NONE,8,2")},
        {"RS485,9600,NONE,8", 0, 0, 0, QStringLiteral("invalid line settings: \"RS485,9600,NONE,8\"") + usage},
        {"RS999,9600,NONE,8,2", 0, 0, 0, QStringLiteral("unknown line mode: RS999")},
        {"RS485,fast,NONE,8,2", 0, 0, 0, QStringLiteral("invalid baud rate: fast")},
        {"RS485,12345,NONE,8,2", 0, 0, 0, QStringLiteral("unsupported baud rate: 12345")},
        {"RS485,9600,MARK,8,2", 0, 0, 0, QStringLiteral("unknown parity: MARK")},
        {"RS485,9600,NONE,9,2", 0, 0, 0, QStringLiteral("unsupported data bits: 9")},
        {"RS485,9600,NONE,8,3", 0, 0, 0, QStringLiteral("unsupported stop bits: 3")},
        {"", 0, 0, 0, QStringLiteral("invalid line settings: \"\"") + usage},
    };
    for (const auto &c : cases) {
        LineSettings settings;
        settings.baudRate = 1234;
        QString error;
        EXPECT_EQ(LineSettings::parse(QString::fromLatin1(c.text), &settings, &error), c.bits != 0) << c.text;
        if (c.bits) {
            EXPECT_EQ(settings.toString(), c.result);
            EXPECT_EQ(settings.characterBits(), c.bits) << c.text;
            EXPECT_EQ(settings.characterTimeNs(), c.characterNs) << c.text;
            EXPECT_EQ(settings.silentIntervalNs(), c.silentNs) << c.text;
        } else {
            EXPECT_EQ(error, c.result);
            EXPECT_EQ(settings.baudRate, 1234) << "left untouched";
        }
    }
    EXPECT_EQ(LineSettings().toString(), QStringLiteral("RS485,9600,NONE,8,2")) << "the default";
}

// EACCES itself needs a user other than root; the hint is judged here on
// what the device and the user's groups are.
TEST(DeviceAccess, APermissionRefusalNamesTheGroupToJoinOrTheLoginToRedo)
{
    const QString join = QStringLiteral("add yourself to the %1 group: sudo adduser $USER %1, then log in again");
    const QString udev = QStringLiteral("/dev/ttyS0 is %1, no group a user may join: a udev rule can give it to the "
                                        "dialout group (GROUP=\"dialout\", MODE=\"0660\"); then sudo adduser $USER "
                                        "dialout, and log in again");
    const struct
    {
        DeviceAccess access;
        QString hint;
    } cases[] = {
        {{true, false, 0660, "root", "dialout", false, false, false}, join.arg("dialout")},
        {{true, false, 0660, "root", "uucp", false, false, false}, join.arg("uucp")},
        {{true, false, 0660, "root", "dialout", false, true, false},
         QStringLiteral("you are in the dialout group, but this login is not yet: log in again (or run newgrp dialout)")},
        {{true, false, 0660, "root", "dialout", false, true, true}, QString()},
        {{true, false, 0640, "root", "dialout", false, false, false}, udev.arg("crw-r----- root dialout")},
        {{true, false, 0660, "root", "root", true, false, false}, udev.arg("crw-rw---- root root")},
        {{true, true, 0620, "anna", "tty", false, true, true}, QString()},
        {{false, false, 0660, "root", "dialout", false, false, false}, QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(permissionHint(QStringLiteral("/dev/ttyS0"), c.access), c.hint) << qPrintable(c.access.group);
    // Only a refusal to open is answered, and only for a device.
    EXPECT_EQ(openFailureHint(QStringLiteral("cannot open /dev/ttyS0: No such file or directory")), QString());
    EXPECT_EQ(openFailureHint(QStringLiteral("cannot lock /dev/null: Permission denied")), QString());
    EXPECT_EQ(openFailureHint(QStringLiteral("cannot open /etc/hostname: Permission denied")), QString());
}

// The master side of a pseudo-terminal, and the port on its slave path.
class PortOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(openRawPty(&master, &keepOpen));
        path = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, O_NONBLOCK);
        ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2"))) << qPrintable(port.errorString());
        port.setAnswerTimeout(5000);
    }
    void TearDown() override
    {
        port.close();
        ::close(master);
        ::close(keepOpen);
    }
    // Written, and waited for until the port's side holds it, unless the
    // port reads meanwhile (a thread playing the drive).
    void deliver(const QByteArray &bytes, bool wait = true)
    {
        int pending = 0, before = 0;
        ioctl(keepOpen, FIONREAD, &before);
        ASSERT_EQ(::write(master, bytes.constData(), size_t(bytes.size())), bytes.size());
        for (int i = 0; wait && i < 5000 && (pending < before + bytes.size()); ++i, usleep(1000))
            ioctl(keepOpen, FIONREAD, &pending);
    }
    QByteArray peerRead()
    {
        QByteArray all;
        char chunk[256];
        for (int i = 0; i < 50 && all.isEmpty(); ++i) {
            usleep(2000);
            ssize_t n;
            while ((n = ::read(master, chunk, sizeof chunk)) > 0)
                all.append(chunk, int(n));
        }
        return all;
    }

    int master = -1;
    int keepOpen = -1;
    QString path;
    SerialPort port;
};

TEST_F(PortOnPty, SendsTheFrameUnchangedAndKeepsTheSilentInterval)
{
    const QByteArray frame = QByteArray::fromHex("010300000000AC5C");
    const qint64 start = monotonicNs();
    EXPECT_EQ(port.send(frame.constData(), frame.size()), frame.size());
    EXPECT_EQ(port.send(frame.constData(), frame.size()), frame.size());
    // 1200 baud 8N2: 3.5 characters of 11 bits are 32 ms.
    EXPECT_GE(monotonicNs() - start, 32083333);
    EXPECT_EQ(peerRead(), frame + frame);
    EXPECT_FALSE(port.kernelRs485()) << "a pseudo-terminal has no RS-485 mode";
}

TEST_F(PortOnPty, ReceiveReturnsWhatWasAskedForAndNeverMore)
{
    deliver(QByteArray::fromHex("00112233445566778899"));
    char buffer[16];
    memset(buffer, 0x55, sizeof buffer);
    const qint64 start = monotonicNs();
    EXPECT_EQ(port.receive(buffer, 4), 4);
    EXPECT_LT(monotonicNs() - start, 2500000000LL) << "returns on arrival, not on time-out";
    EXPECT_EQ(QByteArray(buffer, 5), QByteArray::fromHex("0011223355"));
    EXPECT_EQ(port.receive(buffer, 6), 6);
    EXPECT_EQ(QByteArray(buffer, 7), QByteArray::fromHex("44556677889955"));
    EXPECT_EQ(port.receive(buffer, 0), 0);
    EXPECT_EQ(port.receive(nullptr, 4), 0);
}

TEST_F(PortOnPty, OptionTwelveDiscardsStaleInputAndOthersAreRefused)
{
    deliver(QByteArray::fromHex("DEADBEEF"));
    EXPECT_FALSE(port.setOption(SerialPort::DiscardInputOption, QVariant(1)));
    EXPECT_FALSE(port.setOption(11, QVariant(0)));
    EXPECT_TRUE(port.setOption(SerialPort::DiscardInputOption, QVariant(0)));
    port.setAnswerTimeout(50);
    char buffer[4];
    EXPECT_EQ(port.receive(buffer, 4), 0);
}

TEST_F(PortOnPty, TraceShowsEachFrameInHexWithATimestamp)
{
    QStringList lines;
    FrameTrace trace([&lines](const QString &line) { lines.append(line); });
    port.setTrace(&trace);
    const QByteArray request = QByteArray::fromHex("010300000001840A");
    port.send(request.constData(), request.size());
    deliver(QByteArray::fromHex("010302002A399B"));
    char buffer[8];
    EXPECT_EQ(port.receive(buffer, 5), 5);
    EXPECT_EQ(port.receive(buffer + 5, 2), 2);
    port.setAnswerTimeout(50);
    const qint64 start = monotonicNs();
    port.send(request.constData(), request.size());
    EXPECT_EQ(port.receive(buffer, 5), 0);
    EXPECT_GE(monotonicNs() - start, 50000000) << "waited for the answer time-out";
    port.setTrace(nullptr);

    // Each line's time of day shown as "T".
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{6} "), QRegularExpression::MultilineOption);
    EXPECT_EQ(lines.join(QLatin1Char('\n')).replace(stamp, QStringLiteral("T ")).toStdString(),
              "T TX 01 03 00 00 00 01 84 0A\nT RX 01 03 02 00 2A 39 9B\nT TX 01 03 00 00 00 01 84 0A\n"
              "T -- no answer within 50 ms");
}

// What the judge drops (its cases: tests/rtu) is counted and listed, and
// the real answer that follows is taken: another station's frame, noise.
TEST_F(PortOnPty, WhatCannotAnswerTheRequestIsDroppedAndTheRealAnswerTaken)
{
    const QByteArray request = hexWithCrc("010300000001");
    const QByteArray answer = hexWithCrc("010302002A");
    ASSERT_EQ(port.send(request.constData(), request.size()), request.size());
    EXPECT_EQ(peerRead(), request);
    deliver(hexWithCrc("0203020007") + QByteArray::fromHex("FF00FF") + answer);
    char buffer[7] = {};
    ASSERT_EQ(port.receive(buffer, 5), 5);
    ASSERT_EQ(port.receive(buffer + 5, 2), 2);
    EXPECT_EQ(QByteArray(buffer, 7), answer);
    EXPECT_EQ(port.counters().noiseBytes, 3);
    // Not a late answer of its own: booked to the station asked.
    EXPECT_EQ(port.counters().lateAnswers, 0);
    EXPECT_TRUE(port.takeLateAnswers().isEmpty());
    const QList<OtherStationAnswer> others = port.takeOtherStationAnswers();
    ASSERT_EQ(others.size(), 1);
    EXPECT_EQ(others[0].station, 2);
    EXPECT_EQ(others[0].askedStation, 1);
}

// A request whose answer would look like an owed one's goes after a step
// check: a read the drive answers in its own shape, before which the late
// answer comes and is dropped and measured. The debt outlives the program
// that sent the request: the line's next program checks as well.
TEST_F(PortOnPty, ALookAlikeRequestWaitsForAStepCheck)
{
    port.setAnswerTimeout(400);
    const QByteArray first = hexWithCrc("010300000001");
    const QByteArray second = hexWithCrc("010300020001"); // another register, same answer shape
    char buffer[8];
    port.send(first.constData(), first.size());
    EXPECT_EQ(port.receive(buffer, 5), 0);
    EXPECT_EQ(peerRead(), first);
    port.close();
    ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2")));

    std::thread drive([this] {
        usleep(150000);
        deliver(hexWithCrc("0103020011") + hexWithCrc("01030400330044"), false);
    });
    port.setOption(SerialPort::DiscardInputOption, 0);
    ASSERT_EQ(port.send(second.constData(), second.size()), second.size());
    drive.join();
    EXPECT_EQ(peerRead(), hexWithCrc("010300020002") + second);
    EXPECT_EQ(port.counters().stepChecks, 1);
    deliver(hexWithCrc("0103020022"));
    ASSERT_EQ(port.receive(buffer, 5), 5);
    ASSERT_EQ(port.receive(buffer + 5, 2), 2);
    EXPECT_EQ(QByteArray(buffer, 7), hexWithCrc("0103020022"));

    const QList<LateAnswer> late = port.takeLateAnswers();
    ASSERT_EQ(late.size(), 1);
    EXPECT_EQ(late[0].station, 1);
    EXPECT_GE(late[0].latenessNs, 540000000LL);
}

// Anyone may write the lock folder: a debt that would hold the line for a
// minute holds it no longer than the port's own horizon, twice the answer
// time-out set after open (the line's 5 s one was in force at open).
TEST_F(PortOnPty, ADebtLeftByAnyoneHoldsNoLongerThanThePortsOwnHorizon)
{
    port.close();
    LineDebt planted;
    const qint64 now = monotonicNs(), minute = 60000000000LL;
    planted.quietUntilNs = now + minute;
    planted.owed.append(LineDebt::Owed{hexWithCrc("010300000001"), now, now + minute, 0});
    QString warning;
    leaveLineDebt(keepOpen, planted, lineDebtFolder(), &warning);
    ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2")));
    port.setAnswerTimeout(20);
    const QByteArray lookAlike = hexWithCrc("010300020001");
    const qint64 start = monotonicNs();
    ASSERT_EQ(port.send(lookAlike.constData(), lookAlike.size()), lookAlike.size());
    EXPECT_LT(monotonicNs() - start, 2000000000LL) << "not the 10 s horizon of the time-out at open";
}

// An interrupt of the wait, and a line in use: servoctl's own tests
// (Servoctl.ASignalEndsAnyCommandAndRestoresTheLine, ALineInUseIsRefused).

// The other end goes away while the port waits: it says so at once, and
// the driver is told to stop (no retries, no delay).
TEST_F(PortOnPty, AVanishedDeviceFailsAtOnce)
{
    const QByteArray request = hexWithCrc("010300000001");
    port.send(request.constData(), request.size());
    std::thread unplug([this] {
        usleep(100000);
        ::close(std::exchange(master, -1));
    });
    const qint64 start = monotonicNs();
    char buffer[8];
    EXPECT_LE(port.receive(buffer, 5), 0);
    unplug.join();
    EXPECT_LT(monotonicNs() - start, 1000000000LL) << "not the 5 s time-out";
    EXPECT_TRUE(port.isLost());
    EXPECT_EQ(port.errorString(), QStringLiteral("line lost: %1 (the device hung up)").arg(path));
    EXPECT_EQ(port.send(request.constData(), request.size()), -1);
    EXPECT_EQ(port.retryCount(), 0);
    EXPECT_EQ(port.frameDelay(), 0);
}

// An adapter with local echo, played on the master side: what comes back
// after the request, echo first.
TEST_F(PortOnPty, WithLocalEchoTheRequestIsReadBackBeforeTheAnswer)
{
    const QByteArray request = hexWithCrc("010300000001");
    const QByteArray answer = hexWithCrc("010302002A");
    QByteArray garbled = request;
    garbled[3] = char(0x80);
    const char *const sent = "the line garbled our own request: sent 01 03 00 00 00 01 84 0A, heard ";
    const char *const noEcho = "the line does not echo our own requests back (an adapter without local echo?)";
    const struct
    {
        QByteArray back; // empty: nothing, or with interrupt the signal
        bool interrupt;
        int received; // of the answer's first 5 bytes
        EchoFault fault;
        QString error; // empty: none
    } cases[] = {
        {request + answer, false, 5, EchoFault::None, QString()},
        {garbled + answer, false, 0, EchoFault::None, sent + QLatin1String("01 03 00 80 00 01 84 0A")},
        {request.left(3), false, 0, EchoFault::None, sent + QLatin1String("only 01 03 00")},
        {answer, false, -1, EchoFault::Missing, noEcho},
        {QByteArray(), false, -1, EchoFault::Missing, noEcho},
        {QByteArray(), true, -1, EchoFault::None, QStringLiteral("interrupted")}, // it stays so: last
    };
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    port.setInterruptFd(wake[0]);
    port.setLocalEcho(true);
    port.setAnswerTimeout(300);
    for (const auto &c : cases) {
        ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2"))); // anew after a stop
        std::thread adapter([&] {
            QByteArray heard; // after a garbled request the next one waits a time-out
            for (int i = 0; i < 20 && heard.isEmpty(); ++i)
                heard = peerRead();
            if (c.interrupt)
                EXPECT_EQ(::write(wake[1], "", 1), 1);
            else if (heard == request)
                deliver(c.back, false);
        });
        EXPECT_EQ(port.send(request.constData(), request.size()), c.error.isEmpty() ? request.size() : -1);
        adapter.join();
        char buffer[8];
        EXPECT_EQ(port.receive(buffer, 5), c.received) << qPrintable(c.error);
        EXPECT_EQ(port.echoFault(), c.fault) << qPrintable(c.error);
        EXPECT_EQ(port.errorString(), c.error);
        // A garbled request may be tried again; the wrong setting may not.
        EXPECT_EQ(port.retryCount(), c.error.isEmpty() || c.error.startsWith(QLatin1String(sent)) ? 3 : 0);
    }
    EXPECT_EQ(port.counters().garbledEchoes, 2);
    EXPECT_EQ(port.lastGarbledEcho(), cases[2].error);
    port.setInterruptFd(-1);
    ::close(wake[0]);
    ::close(wake[1]);
}

// Without the setting, a function-6 answer that is the request itself (the
// judge's cases: tests/rtu): on a pseudo-terminal, whose far end keeps no
// time, it is uncertain after the time-out with nothing following it; a line
// known silent takes it at once. An exception answer after the uncertain one
// shows the line echoes: it stops the port at the next request. A stopped
// port fails receive too: the missing echo above.
TEST_F(PortOnPty, WithoutLocalEchoAnAnswerThatIsTheRequestIsUncertainUnlessKnownSilent)
{
    const QByteArray write = hexWithCrc("010600140005");
    for (const bool knownSilent : {false, true}) {
        ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2")));
        port.setKnownSilent(knownSilent);
        port.setAnswerTimeout(knownSilent ? 5000 : 200);
        const PortCounters before = port.counters();
        ASSERT_EQ(port.send(write.constData(), write.size()), write.size());
        EXPECT_EQ(peerRead(), write);
        deliver(write);
        const qint64 start = monotonicNs();
        char buffer[8];
        EXPECT_EQ(port.receive(buffer, 5), 5);
        EXPECT_EQ(port.echoFault(), EchoFault::None);
        EXPECT_EQ(port.counters().uncertainEchoes - before.uncertainEchoes, knownSilent ? 0 : 1);
        if (knownSilent) {
            EXPECT_LT(monotonicNs() - start, 2500000000LL) << "taken at once, not after the time-out";
            continue;
        }
        deliver(hexWithCrc("018602"));
        const QByteArray next = hexWithCrc("020300000001");
        EXPECT_EQ(port.send(next.constData(), next.size()), -1);
        EXPECT_EQ(port.echoFault(), EchoFault::Unexpected);
        EXPECT_EQ(port.errorString(),
                  QStringLiteral("the line echoes our own requests back (an adapter with local echo?)"));
        EXPECT_EQ(port.retryCount(), 0);
        EXPECT_TRUE(port.takeLateAnswers().isEmpty());
    }
}

// 100 characters at 9600 baud are 115 ms on the wire. The peer writes the
// first byte at once, then the given part of the rest in bursts: all of it
// is received whole, although the port sleeps through most of its wire time;
// cut short, what came is returned after the inter-character time-out, long
// before the answer time-out.
TEST_F(PortOnPty, ALongAnswerIsReceivedWholeOrCutShortGivesWhatCame)
{
    ASSERT_TRUE(port.open(path, QStringLiteral("RS485,9600,NONE,8,2")));
    port.setAnswerTimeout(2000);
    QByteArray answer;
    for (int i = 0; i < 100; ++i)
        answer.append(char(i * 7));
    for (const int upTo : {100, 40}) {
        std::thread peer([&] {
            for (int at = 0; at < upTo; at = at == 0 ? 1 : at + 33) {
                deliver(answer.mid(at, at == 0 ? 1 : qMin(33, upTo - at)), false);
                usleep(20000);
            }
        });
        char buffer[100] = {};
        const qint64 start = monotonicNs();
        EXPECT_EQ(port.receive(buffer, 100), upTo);
        EXPECT_LT(monotonicNs() - start, 1000000000LL) << "not the 2 s answer time-out";
        peer.join();
        EXPECT_EQ(QByteArray(buffer, upTo), answer.left(upTo));
    }
}

// A USB adapter that comes back under the same name, opened again:
// Servoctl.PollWaitsForALostLineAndGoesOnWhenItIsBack.

// The port's silences are never cut short.
TEST(DeadlineSleeper, NeverReturnsBeforeTheDeadline)
{
    DeadlineSleeper sleeper;
    // Short and long waits, so that the learned lateness is both smaller and
    // larger than the wait.
    for (const qint64 wait : {0LL, 20000LL, 150000LL, 2000000LL, 30000LL, 1000000LL}) {
        for (int i = 0; i < 5; ++i) {
            const qint64 deadline = monotonicNs() + wait;
            sleeper.sleepUntil(deadline);
            EXPECT_GE(monotonicNs(), deadline) << "wait " << wait;
        }
    }
}

TEST(SerialPortOpen, RefusesWhatIsNotASerialLine)
{
    // A terminal of a login session: a child makes the pseudo-terminal its
    // session's controlling terminal, as a shell's.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const QString sessionTerminal = QString::fromLocal8Bit(ptsname(master));
    const pid_t shell = fork();
    if (shell == 0) {
        setsid();
        ::close(::open(ptsname(master), O_RDWR));
        pause();
        _exit(0);
    }
    usleep(200000);

    SerialPort port;
    const struct
    {
        QString path;
        QString error;
    } refused[] = {
        {QStringLiteral("/dev/null"), QStringLiteral("^/dev/null is not a serial device$")},
        {QStringLiteral("/dev/ptmx"),
         QStringLiteral("^/dev/ptmx is the master side of a new pseudo-terminal, not a line$")},
        {QStringLiteral("/nonexistent/tty"), QStringLiteral("^cannot open /nonexistent/tty: ")},
        {sessionTerminal, QStringLiteral("^%1 is a login session's terminal \\(.+, pid %2\\), not a line$")
                              .arg(QRegularExpression::escape(sessionTerminal))
                              .arg(shell)},
    };
    for (const auto &r : refused) {
        EXPECT_FALSE(port.open(r.path, QStringLiteral("RS485,9600,NONE,8,2")));
        EXPECT_TRUE(QRegularExpression(r.error).match(port.errorString()).hasMatch())
            << qPrintable(port.errorString());
    }
    kill(shell, SIGKILL);
    waitpid(shell, nullptr, 0);
    ::close(master);
    ::close(slave);
    EXPECT_FALSE(port.open(QStringLiteral("/dev/null"), QStringLiteral("RS485,9600")));
    EXPECT_FALSE(port.isOpen());
    char buffer[4];
    EXPECT_EQ(port.receive(buffer, 4), -1);
    EXPECT_EQ(port.send(buffer, 4), -1);
    EXPECT_FALSE(port.setOption(SerialPort::DiscardInputOption, QVariant(0)));
}

} // namespace
