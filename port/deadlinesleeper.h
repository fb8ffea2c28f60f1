#ifndef DEADLINESLEEPER_H
#define DEADLINESLEEPER_H

#include <QtGlobal>

// Sleeps until a deadline on the monotonic clock and returns within a few
// microseconds after it. The kernel wakes a sleeper late: by the thread's
// timer slack (50 us by default) and by the scheduler, 50 to 200 us here.
// The sleeper learns that lateness from its own wake-ups, asks to be woken
// that much early, and waits out the rest on the clock. Spinning costs CPU
// only for the error of the estimate, not for the whole lateness.
// Not thread-safe: one per port.
class DeadlineSleeper
{
public:
    void sleepUntil(qint64 deadlineNs);

private:
    qint64 m_latenessNs = 60000;
};

#endif // DEADLINESLEEPER_H
