#ifndef ANSWERJUDGE_P_H
#define ANSWERJUDGE_P_H

// The judgement's bounds, shared by its files (answerjudge*.cpp).

#include "modbuscrc.h"
#include "rtulength.h"

namespace answerjudge {

constexpr qint64 kMs = 1000000;
// A drive that stalls leaves every request sent meanwhile owed; evicting one
// would let its late answer pass unflagged.
constexpr int kMaxOwedAnswers = 64;
// A debt file's count of carries, kept sane whoever wrote it.
constexpr int kMaxCarriedKept = 1 << 20;
// Step checks read at most this many registers or bits.
constexpr int kMaxCheckRegisters = 125;
constexpr int kMaxCheckBits = 2000;
constexpr qint64 kMinOwedMemoryNs = 30000 * kMs;
// What the drives get to carry out a broadcast before the next request:
// the turnaround delay masters commonly keep.
constexpr qint64 kBroadcastTurnaroundNs = 200 * kMs;
// A line that never falls silent does not grow the input beyond this.
constexpr int kMaxInput = 1024;
// Arrival times kept for the input's bytes; older ones take a later time.
constexpr int kMaxArrivals = 64;
// An answer on the wire may be this many characters shorter than its
// length says (a drive's clock runs up to a few per cent fast).
constexpr int kEarlySlackCharacters = 2;

inline bool isWholeFrameAt(const char *data, int size, int *length)
{
    *length = rtuAnswerLength(data, size);
    return *length > 0 && size >= *length && hasValidModbusCrc(data, *length);
}

} // namespace answerjudge

#endif // ANSWERJUDGE_P_H
