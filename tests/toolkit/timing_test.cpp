#include <gtest/gtest.h>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

#include "qt_test_compat.h"
#include "tools.h"

namespace {

volatile sig_atomic_t alarms = 0;

TEST(HRSleep, SleepsTheFullTimeAcrossSignals)
{
    struct sigaction action = {};
    action.sa_handler = [](int) { alarms = alarms + 1; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: nanosleep returns EINTR
    struct sigaction previous;
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);

    itimerval timer = {{0, 100000}, {0, 100000}}; // an alarm every 100 ms
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const qint64 start = CurrentMSecsSinceBoot();
    HRSleep(1500);
    const qint64 slept = CurrentMSecsSinceBoot() - start;
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_GE(alarms, 3);
    EXPECT_GE(slept, 1500);
    HRSleep(0);
}

TEST(Diagnostics, ClockAndProcesses)
{
    qint64 last = CurrentMSecsSinceBoot();
    for (int i = 0; i < 1000; ++i) {
        const qint64 now = CurrentMSecsSinceBoot();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_TRUE(ProcessIsRunning(getpid()));
    EXPECT_TRUE(ProcessIsRunning(1)); // exists even where we may not signal it
    for (long long pid : {0x7FFFFFF0LL, 0LL, -1LL, 0x100000000LL + getpid()})
        EXPECT_FALSE(ProcessIsRunning(pid)) << pid;
}

TEST(Diagnostics, DumpByteArrayShowsHexThenTextUpToTheFirstZero)
{
    DebugCapture capture;
    const struct
    {
        QByteArray in;
        QString out;
    } cases[] = {
        {QByteArray("AB\n"), "(0X41 0X42 0Xa ) : AB\n"},
        {QByteArray(), "() : "},
        {QByteArray("A\0B", 3), "(0X41 0X0 0X42 ) : A"},
        {QByteArray("\xFF\x80", 2), QString("(0Xff 0X80 ) : ") + QChar(0xFF) + QChar(0x80)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dumpByteArray(c.in), c.out);
        EXPECT_EQ(DebugCapture::messages().value(DebugCapture::messages().size() - 1), c.out);
    }
    EXPECT_EQ(DebugCapture::messages().size(), 4);
}

} // namespace
