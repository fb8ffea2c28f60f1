// The port's ways of waiting: a silence never cut short, and long answers
// received whole although the port sleeps through most of their wire time.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "deadlinesleeper.h"
#include "serialport.h"
#include "termiosline.h"

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

class LongAnswer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        // 9600 baud: 100 characters are 115 ms on the wire.
        ASSERT_TRUE(port.open(QString::fromLocal8Bit(ptsname(master)),
                              QStringLiteral("RS485,9600,NONE,8,2")));
        port.setAnswerTimeout(2000);
        for (int i = 0; i < 100; ++i)
            answer.append(char(i * 7));
    }
    void TearDown() override
    {
        port.close();
        ::close(master);
        ::close(slave);
    }
    // The first byte at once, then the given part of the rest in bursts.
    std::thread peer(int upTo)
    {
        return std::thread([this, upTo] {
            for (int at = 0; at < upTo; at = at == 0 ? 1 : at + 33) {
                const int n = at == 0 ? 1 : qMin(33, upTo - at);
                ssize_t ignored = ::write(master, answer.constData() + at, size_t(n));
                (void)ignored;
                usleep(20000);
            }
        });
    }

    int master = -1;
    int slave = -1;
    SerialPort port;
    QByteArray answer;
};

TEST_F(LongAnswer, ArrivingInBurstsIsReceivedWhole)
{
    char buffer[100] = {};
    std::thread writer = peer(100);
    EXPECT_EQ(port.receive(buffer, 100), 100);
    writer.join();
    EXPECT_EQ(QByteArray(buffer, 100), answer);
}

TEST_F(LongAnswer, CutShortGivesWhatCame)
{
    char buffer[100] = {};
    std::thread writer = peer(40);
    EXPECT_EQ(port.receive(buffer, 100), 40);
    writer.join();
    EXPECT_EQ(QByteArray(buffer, 40), answer.left(40));
}
