#include <gtest/gtest.h>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

#include <QStringList>

#include "tools.h"

namespace {

volatile sig_atomic_t alarms = 0;

void countAlarm(int)
{
    alarms = alarms + 1;
}

TEST(HRSleep, SleepsTheFullTimeAcrossSignals)
{
    struct sigaction action = {};
    action.sa_handler = countAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: nanosleep returns EINTR
    struct sigaction previous;
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);

    // Three alarms, 100 ms apart, inside a 1500 ms sleep.
    itimerval timer = {{0, 100000}, {0, 100000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const qint64 start = CurrentMSecsSinceBoot();
    HRSleep(1500);
    const qint64 slept = CurrentMSecsSinceBoot() - start;
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_GE(alarms, 3);
    EXPECT_GE(slept, 1500);
}

TEST(HRSleep, ZeroReturns)
{
    HRSleep(0);
}

TEST(Clock, NeverGoesBackwards)
{
    qint64 last = CurrentMSecsSinceBoot();
    EXPECT_GT(last, 0);
    for (int i = 0; i < 1000; ++i) {
        const qint64 now = CurrentMSecsSinceBoot();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(ProcessIsRunning, FindsOnlyExistingProcesses)
{
    EXPECT_TRUE(ProcessIsRunning(getpid()));
    EXPECT_TRUE(ProcessIsRunning(1)); // exists even when we may not signal it
    EXPECT_FALSE(ProcessIsRunning(0x7FFFFFF0)); // above any pid_max
    EXPECT_FALSE(ProcessIsRunning(0));
    EXPECT_FALSE(ProcessIsRunning(-1));
    EXPECT_FALSE(ProcessIsRunning(0x100000000LL + getpid()));
}

QStringList &debugMessages()
{
    static QStringList list;
    return list;
}

TEST(DumpByteArray, HexThenTextUpToTheFirstZero)
{
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtDebugMsg)
                debugMessages().append(text);
        });
    const struct { QByteArray in; QString out; } cases[] = {
        {QByteArray("AB\n"), "(0X41 0X42 0Xa ) : AB\n"},
        {QByteArray(), "() : "},
        {QByteArray("A\0B", 3), "(0X41 0X0 0X42 ) : A"},
        {QByteArray("\xFF\x80", 2), QString("(0Xff 0X80 ) : ") + QChar(0xFF) + QChar(0x80)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dumpByteArray(c.in), c.out);
    qInstallMessageHandler(previous);
    ASSERT_EQ(debugMessages().size(), 4);
    EXPECT_EQ(debugMessages().first(), cases[0].out);
}

} // namespace
