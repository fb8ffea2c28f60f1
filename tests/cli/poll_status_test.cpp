// Why a poll is slow, as the user reads it while it happens.
#include <gtest/gtest.h>

#include "pollstatus.h"

namespace {

TEST(PollStatus, SaysWhyACycleTookLongerThanAsked)
{
    const qint64 ms = 1000000;
    const struct
    {
        qint64 cycleNs;
        int intervalMs;
        PollTrouble trouble;
        const char *since;
        const char *status;
    } cases[] = {
        {20 * ms, 20, {}, "", ""},
        {30 * ms, 20, {}, "", ""}, // within the slack scheduling takes
        {31 * ms, 20, {}, "", "cycle 31 ms (every 20 ms asked)"},
        {1100 * ms, 1000, {}, "", ""}, // a tenth over the interval, no more
        {1101 * ms, 1000, {}, "", "cycle 1101 ms (every 1000 ms asked)"},
        {3500 * ms, 0, {3, 4, 0}, "", "cycle 3500 ms (every 0 ms asked): 3 retries, 4 time-outs"},
        {5 * ms, 20, {1, 0, 1}, "", "cycle 5 ms: 1 retry, 1 CRC error"},
        {405 * ms, 20, {2, 1, 2}, "poll 4", "cycle 405 ms (every 20 ms asked); since poll 4: 2 retries, 1 time-out, 2 CRC errors"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(pollStatus(c.cycleNs, c.intervalMs, c.trouble, QLatin1String(c.since)), QLatin1String(c.status))
            << c.status;
    }
}

} // namespace
