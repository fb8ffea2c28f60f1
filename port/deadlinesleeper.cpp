#include "deadlinesleeper.h"

#include <cerrno>
#include <ctime>

#include "termiosline.h"

namespace {

// Beyond this the machine is overloaded; spinning longer would not help it.
const qint64 kMaxLatenessNs = 500000;

} // namespace

void DeadlineSleeper::sleepUntil(qint64 deadlineNs)
{
    const qint64 wakeNs = deadlineNs - m_latenessNs;
    if (wakeNs > monotonicNs()) {
        const timespec ts = {time_t(wakeNs / 1000000000), long(wakeNs % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        // Follows the lower edge of the lateness: down at once, up slowly.
        // An occasional late wake-up then costs a little silence, and a
        // loaded machine does not make every wait spin long.
        const qint64 late = monotonicNs() - wakeNs;
        if (late < m_latenessNs)
            m_latenessNs = late;
        else
            m_latenessNs = qMin(m_latenessNs + (late - m_latenessNs) / 16, kMaxLatenessNs);
    }
    while (monotonicNs() < deadlineNs) {
    }
}
