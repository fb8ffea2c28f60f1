// The termios port on a pseudo-terminal pair: the port opens the slave's
// path, the test plays the line on the master.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include <QRegularExpression>
#include <QStringList>
#include <QVariant>

#include "frametrace.h"
#include "hosttest.h"
#include "termiosline.h"

namespace {

struct LineCase
{
    const char *text;
    const char *error; // null: valid
};

TEST(LineSettings, ParsesTheSettingsTextOrSaysWhatIsWrong)
{
    const LineCase cases[] = {
        {"RS485,9600,NONE,8,2", nullptr},
        {" rs232 , 19200 , even , 7 , 1 ", nullptr},
        {"RS485,9600,NONE,8", "invalid line settings: \"RS485,9600,NONE,8\" (expected "
                              "MODE,BAUD,PARITY,DATABITS,STOPBITS such as RS485,9600,NONE,8,2)"},
        {"RS999,9600,NONE,8,2", "unknown line mode: RS999"},
        {"RS485,fast,NONE,8,2", "invalid baud rate: fast"},
        {"RS485,12345,NONE,8,2", "unsupported baud rate: 12345"},
        {"RS485,9600,MARK,8,2", "unknown parity: MARK"},
        {"RS485,9600,NONE,9,2", "unsupported data bits: 9"},
        {"RS485,9600,NONE,8,3", "unsupported stop bits: 3"},
        {"", "invalid line settings: \"\" (expected MODE,BAUD,PARITY,DATABITS,STOPBITS such as "
             "RS485,9600,NONE,8,2)"},
    };
    for (const LineCase &c : cases) {
        LineSettings settings;
        settings.baudRate = 1234;
        QString error;
        const bool ok = LineSettings::parse(QString::fromLatin1(c.text), &settings, &error);
        EXPECT_EQ(ok, c.error == nullptr) << c.text;
        if (c.error) {
            EXPECT_EQ(error.toStdString(), c.error);
            EXPECT_EQ(settings.baudRate, 1234) << "left untouched";
        }
    }
    LineSettings s;
    QString error;
    ASSERT_TRUE(LineSettings::parse(QStringLiteral("rs232,19200,even,7,1"), &s, &error));
    EXPECT_EQ(s.toString(), QStringLiteral("RS232,19200,EVEN,7,1"));
    EXPECT_EQ(s.characterBits(), 10);
}

TEST(LineSettings, SilentIntervalIsThreeAndAHalfCharactersUpTo19200Baud)
{
    LineSettings s; // 9600 8N2: 11 bits a character
    EXPECT_EQ(s.characterTimeNs(), 1145833);
    EXPECT_EQ(s.silentIntervalNs(), 4010415);
    s.baudRate = 19200;
    EXPECT_EQ(s.silentIntervalNs(), 2005206);
    s.baudRate = 38400;
    EXPECT_EQ(s.silentIntervalNs(), 1750000);
}

// The master side of a pseudo-terminal, and the port on its slave path.
class PortOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        keepOpen = slave;
        path = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, O_NONBLOCK);
        ASSERT_TRUE(port.open(path, QStringLiteral("RS485,1200,NONE,8,2")))
            << qPrintable(port.errorString());
        port.setAnswerTimeout(5000);
    }
    void TearDown() override
    {
        port.close();
        ::close(master);
        ::close(keepOpen);
    }
    void peerWrite(const QByteArray &bytes)
    {
        ASSERT_EQ(::write(master, bytes.constData(), size_t(bytes.size())), bytes.size());
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

TEST_F(PortOnPty, ALateAnswerIsNeverTakenForTheNextRequests)
{
    const QByteArray request = QByteArray::fromHex("010300000001840A");
    port.setAnswerTimeout(300);
    char buffer[8];
    ASSERT_EQ(port.send(request.constData(), request.size()), request.size());
    EXPECT_EQ(port.receive(buffer, 5), 0);
    EXPECT_EQ(peerRead(), request);

    // The drive answers the first request after the port gave up on it,
    // while the port waits to send the next one.
    std::thread lateDrive([this] {
        usleep(100000);
        peerWrite(QByteArray::fromHex("0103020001"));
    });
    const qint64 start = monotonicNs();
    port.setOption(12, 0);
    ASSERT_EQ(port.send(request.constData(), request.size()), request.size());
    lateDrive.join();
    EXPECT_GE(monotonicNs() - start, 250000000LL) << "one more answer time-out of quiet";
    EXPECT_EQ(peerRead(), request);
    peerWrite(QByteArray::fromHex("0103020002"));
    ASSERT_EQ(port.receive(buffer, 5), 5);
    EXPECT_EQ(QByteArray(buffer, 5), QByteArray::fromHex("0103020002"));
}

TEST_F(PortOnPty, ReceiveReturnsWhatWasAskedForAndNeverMore)
{
    peerWrite(QByteArray::fromHex("00112233445566778899"));
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

TEST_F(PortOnPty, ReceiveGivesUpAfterTheTimeOuts)
{
    port.setAnswerTimeout(100);
    const QByteArray request = QByteArray::fromHex("0103");
    qint64 start = monotonicNs();
    port.send(request.constData(), request.size());
    char buffer[8];
    EXPECT_EQ(port.receive(buffer, 5), 0);
    EXPECT_GE(monotonicNs() - start, 100000000) << "waited for the answer time-out";

    // An answer cut short: what came is returned after the inter-character
    // time-out, well before another answer time-out would pass.
    port.setAnswerTimeout(5000);
    port.send(request.constData(), request.size());
    peerWrite(QByteArray::fromHex("010302"));
    start = monotonicNs();
    EXPECT_EQ(port.receive(buffer, 5), 3);
    EXPECT_LT(monotonicNs() - start, 2500000000LL);
    EXPECT_EQ(QByteArray(buffer, 3), QByteArray::fromHex("010302"));
}

TEST_F(PortOnPty, OptionTwelveDiscardsStaleInputAndOthersAreRefused)
{
    peerWrite(QByteArray::fromHex("DEADBEEF"));
    // The pseudo-terminal hands bytes on asynchronously: wait until they are in.
    int pending = 0;
    for (int i = 0; i < 5000 && pending < 4; ++i) {
        usleep(1000);
        ioctl(keepOpen, FIONREAD, &pending);
    }
    ASSERT_EQ(pending, 4);
    EXPECT_FALSE(port.setOption(12, QVariant(1)));
    EXPECT_FALSE(port.setOption(11, QVariant(0)));
    EXPECT_TRUE(port.setOption(12, QVariant(0)));
    port.setAnswerTimeout(50);
    char buffer[4];
    EXPECT_EQ(port.receive(buffer, 4), 0);
}

TEST_F(PortOnPty, TraceShowsEachFrameInHexWithATimestamp)
{
    QStringList lines;
    FrameTrace trace([&lines](const QString &line) { lines.append(line); });
    port.setTrace(&trace);
    const QByteArray request = QByteArray::fromHex("0103000000 0AC5CD");
    port.send(request.constData(), request.size());
    peerWrite(QByteArray::fromHex("01030200 2AB9 9B"));
    char buffer[8];
    EXPECT_EQ(port.receive(buffer, 5), 5);
    EXPECT_EQ(port.receive(buffer + 5, 2), 2);
    port.setAnswerTimeout(50);
    port.send(request.constData(), request.size());
    EXPECT_EQ(port.receive(buffer, 5), 0);
    port.setTrace(nullptr);

    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{6} "));
    for (const QString &line : lines)
        EXPECT_TRUE(stamp.match(line).hasMatch()) << qPrintable(line);
    EXPECT_TRUE(lines[0].endsWith(QLatin1String(" TX 01 03 00 00 00 0A C5 CD")));
    EXPECT_TRUE(lines[1].endsWith(QLatin1String(" RX 01 03 02 00 2A B9 9B")));
    EXPECT_TRUE(lines[3].endsWith(QLatin1String(" -- no answer within 50 ms")));
}

TEST(SerialPortOpen, RefusesWhatIsNotASerialLine)
{
    SerialPort port;
    EXPECT_FALSE(port.open(QStringLiteral("/nonexistent/tty"), QStringLiteral("RS485,9600,NONE,8,2")));
    EXPECT_TRUE(port.errorString().startsWith(QLatin1String("cannot open /nonexistent/tty: ")));
    EXPECT_FALSE(port.open(QStringLiteral("/dev/null"), QStringLiteral("RS485,9600,NONE,8,2")));
    EXPECT_EQ(port.errorString(), QStringLiteral("/dev/null is not a serial device"));
    EXPECT_FALSE(port.open(QStringLiteral("/dev/null"), QStringLiteral("RS485,9600")));
    EXPECT_FALSE(port.isOpen());
    char buffer[4];
    EXPECT_EQ(port.receive(buffer, 4), -1);
    EXPECT_EQ(port.send(buffer, 4), -1);
    EXPECT_FALSE(port.setOption(12, QVariant(0)));
}

} // namespace
