// The port's ways of waiting: a silence never cut short, and long answers
// received whole although the port sleeps through most of their wire time.
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "deadlinesleeper.h"
#include "hosttest.h"
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

// 100 characters at 9600 baud are 115 ms on the wire. The peer writes the
// first byte at once, then the given part of the rest in bursts: all of it
// is received whole; cut short, what came is returned after the
// inter-character time-out, long before the answer time-out.
TEST(LongAnswer, IsReceivedWholeOrCutShortGivesWhatCame)
{
    int master = -1, slave = -1;
    ASSERT_TRUE(openRawPty(&master, &slave));
    SerialPort port;
    ASSERT_TRUE(port.open(QString::fromLocal8Bit(ptsname(master)), QStringLiteral("RS485,9600,NONE,8,2")));
    port.setAnswerTimeout(2000);
    QByteArray answer;
    for (int i = 0; i < 100; ++i)
        answer.append(char(i * 7));
    for (const int upTo : {100, 40}) {
        std::thread peer([&] {
            for (int at = 0; at < upTo; at = at == 0 ? 1 : at + 33) {
                const int n = at == 0 ? 1 : qMin(33, upTo - at);
                ssize_t ignored = ::write(master, answer.constData() + at, size_t(n));
                (void)ignored;
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
    port.close();
    ::close(master);
    ::close(slave);
}
