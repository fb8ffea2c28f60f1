#include "soakreport.h"

#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {

// What the program holds allocated, in every arena: the measure of a leak.
// The resident size also counts code first run late in a run (a rare
// failure's text, the first unplugged line) and thread stacks.
qint64 heapKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd) / 1024;
}

qint64 residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE) / 1024;
}

void printHeading(const SoakOptions &o, const FaultPlan &plan, const SoakTally &t)
{
    std::printf("soak: %lld commands, seed %llu, faults %s, answer time-out %d ms, retries %d-%d, "
                "stations %s\n",
                o.commands, o.seed, qPrintable(plan.toString()), o.timeoutMs, o.minRetries, o.maxRetries,
                qPrintable(o.stations));
    std::printf("time: %.1f s (%.0f commands/s)\n", t.seconds, double(o.commands) / t.seconds);
    qint64 answered = 0;
    for (int f = 0; f < FaultPlan::KindCount; ++f)
        answered += t.endStats.faults[f] - t.startStats.faults[f];
    std::printf("answers drawn: %lld;", answered);
    for (int f = FaultPlan::Drop; f < FaultPlan::KindCount; ++f)
        std::printf(" %s %lld (%.2f%%)", FaultPlan::name(FaultPlan::Kind(f)),
                    t.endStats.faults[f] - t.startStats.faults[f],
                    100.0 * double(t.endStats.faults[f] - t.startStats.faults[f]) / double(qMax<qint64>(answered, 1)));
}

void printKinds(const SoakTally &t)
{
    std::printf("\n\n%-26s %8s %8s %7s %12s %10s %9s\n", "kind", "commands", "requests", "good", "first failed",
                "recovered", "failed");
    KindStats total;
    for (int i = 0; i < int(SoakKind::Count); ++i) {
        const KindStats &k = t.kinds[i];
        std::printf("%-26s %8lld %8lld %7lld %12lld %10lld %9lld\n", soakKindName(SoakKind(i)), k.commands,
                    k.requests, k.good, k.firstFailed, k.recovered, k.failed);
        total.commands += k.commands;
        total.requests += k.requests;
        total.good += k.good;
        total.firstFailed += k.firstFailed;
        total.recovered += k.recovered;
        total.failed += k.failed;
    }
    std::printf("%-26s %8lld %8lld %7lld %12lld %10lld %9lld\n\n", "all", total.commands, total.requests,
                total.good, total.firstFailed, total.recovered, total.failed);
}

// An attempt of one exchange fails on a drop, corrupt, truncate, station,
// exception, unheard or twin fault, on half the noise bursts (those
// inside the answer), and on a delay beyond the time-out: rate p in all.
// Each attempt is a fresh draw: the first fails with p, a command with r
// retries fails for good with p^(r+1). Not so where an answer came after
// the time-out: the drive is busy with it and misses the retries the
// port sends meanwhile; and where the adapter was pulled out. Those
// commands are counted apart.
void printRetries(const SoakOptions &o, const FaultPlan &plan, const SoakTally &t)
{
    double p = plan.rate[FaultPlan::Drop] + plan.rate[FaultPlan::Corrupt] + plan.rate[FaultPlan::Truncate]
               + plan.rate[FaultPlan::WrongStation] + plan.rate[FaultPlan::Exception]
               + plan.rate[FaultPlan::Unheard] + plan.rate[FaultPlan::Twin] + plan.rate[FaultPlan::Noise] / 2;
    p += plan.delayMs > o.timeoutMs ? plan.rate[FaultPlan::Delay] : 0.0;
    std::printf("single-exchange commands: %-8s %8s %22s %22s\n", "retries", "commands", "first failed (pred.)",
                "failed (pred.)");
    for (auto it = t.byRetries.cbegin(); it != t.byRetries.cend(); ++it) {
        const RetryStats &r = it.value();
        const double first = double(r.commands) * p;
        const double final = double(r.commands) * std::pow(p, it.key() + 1);
        std::printf("%26s %-8d %8lld %12lld (%7.1f) %12lld (%7.1f)\n", "", it.key(), r.commands, r.firstFailed,
                    first, r.failed, final);
    }
    std::printf("commands that met an answer after the time-out: %lld, first attempt failed %lld, "
                "failed for good %lld\n",
                t.metLate.commands, t.metLate.firstFailed, t.metLate.failed);
    std::printf("\nfailure texts (without the command's description):\n");
    for (auto it = t.failureTexts.cbegin(); it != t.failureTexts.cend(); ++it)
        std::printf("  %8lld  %s\n", it.value(), qPrintable(it.key()));
}

// True when the heap stayed flat.
bool printMemory(const SoakOptions &o, const SoakTally &t)
{
    std::printf("\nheap in use (KiB) at each tenth:");
    for (const qint64 kib : t.heap)
        std::printf(" %lld", kib);
    std::printf("\nresident memory (KiB) at each tenth:");
    for (const qint64 kib : t.resident)
        std::printf(" %lld", kib);
    // Flat: from the second tenth on (allocators and caches warmed up) the
    // heap may not grow by more than --max-growth (1 MiB).
    const qint64 growth = t.heap.size() >= 2 ? t.heap.last() - t.heap.at(1) : 0;
    const bool flat = growth <= o.maxGrowthKiB;
    std::printf("\nheap growth after warm-up: %lld KiB (%s)\n", growth, flat ? "flat" : "GROWING");
    return flat;
}

} // namespace

void sampleMemory(SoakTally *tally)
{
    tally->heap.append(heapKiB());
    tally->resident.append(residentKiB());
}

bool printReport(const SoakOptions &o, const FaultPlan &plan, const SoakTally &t)
{
    printHeading(o, plan, t);
    printKinds(t);
    printRetries(o, plan, t);
    const bool flat = printMemory(o, t);
    const PortCounters &counters = t.counters;
    std::printf("\nport: %lld late answers dropped (the latest %lld ms after its request), "
                "%lld bytes of noise dropped, %lld answers flagged uncertain (%lld of them "
                "wrong)\n",
                counters.lateAnswers, t.longestLateNs / 1000000, counters.noiseBytes, t.flagged, t.flaggedWrong);
    std::printf("step checks sent: %lld\n", counters.stepChecks);
    std::printf("adapter pulled out %lld times: line lost %lld times, taken up again %lld times\n", t.unplugs,
                t.linesLost, t.recovered);
    std::printf("\nwrong data accepted: %lld\nundefined failure texts: %lld\n", t.wrongData, t.undefinedTexts);
    const bool passed = t.wrongData == 0 && t.undefinedTexts == 0 && flat && t.recovered == t.linesLost;
    std::printf("soak: %s\n", passed ? "passed" : "FAILED");
    return passed;
}
