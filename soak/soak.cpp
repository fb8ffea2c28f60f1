// The fault-injection soak: the plug-in loaded through CreateDriver, the
// termios port on one end of a pseudo-terminal, the simulated drives with
// fault injection on the other. Sends commands of every kind and checks
// that every value reported good is the drives' value, that every failure
// carries one of the driver's texts, that retries recover as the fault
// rates predict, and that the heap stays flat.
//
//   servo_soak [--commands N] [--seed S] [--faults PLAN] [--timeout MS]
//              [--stations LIST] [--retries MIN-MAX] [--unplug RATE]
//              [--look-alike] [--trace FILE] [--max-growth KIB]
//
// --look-alike sends only two-word reads of four places of one drive,
// whose answers look alike: the case no master can tell apart.
//
// Besides the line's faults, the adapter is pulled out and plugged back in
// during a command at the --unplug rate; the port must take the line up
// again every time.
//
// Exit status 0 only when no wrong value was accepted without the port
// flagging it uncertain, every failure text was the driver's own, every
// lost line was taken up again and the heap did not grow.
#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include "countingport.h"
#include "drivertexts.h"
#include "driverinterface.h"
#include "faultplan.h"
#include "plugindriver.h"
#include "frametrace.h"
#include "ptylink.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"
#include "soakcommands.h"
#include "termiosline.h"
#include "unplugger.h"

namespace {

struct Options
{
    qint64 commands = 100000;
    quint64 seed = 20261205;
    QString faults = QStringLiteral("drop=0.02,corrupt=0.02,truncate=0.02,station=0.02,"
                                    "exception=0.02,delay=0.02:15,late=0.02:250,"
                                    "unheard=0.02,twin=0.02,noise=0.02");
    int timeoutMs = 50;
    QString stations = QStringLiteral("1,2,3");
    int minRetries = 1;
    int maxRetries = 3;
    double unplugRate = 0.002; // per command
    int replugMs = 20;
    bool lookAlike = false;
    QString trace; // the frames of both ends and each command, for a look at one run
    // Heap growth allowed after the first tenth.
    qint64 maxGrowthKiB = 1024;
};

bool parseOptions(const QStringList &args, Options *o, QString *error)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString name = args.at(i);
        if (name == QLatin1String("--look-alike")) {
            o->lookAlike = true;
            continue;
        }
        const QString value = args.value(++i);
        bool ok = !value.isNull();
        if (name == QLatin1String("--commands"))
            o->commands = value.toLongLong(&ok);
        else if (name == QLatin1String("--seed"))
            o->seed = value.toULongLong(&ok);
        else if (name == QLatin1String("--faults"))
            o->faults = value;
        else if (name == QLatin1String("--timeout"))
            o->timeoutMs = value.toInt(&ok);
        else if (name == QLatin1String("--stations"))
            o->stations = value;
        else if (name == QLatin1String("--trace"))
            o->trace = value;
        else if (name == QLatin1String("--max-growth"))
            o->maxGrowthKiB = value.toLongLong(&ok);
        else if (name == QLatin1String("--unplug")) {
            o->unplugRate = value.toDouble(&ok);
            ok = ok && o->unplugRate >= 0 && o->unplugRate <= 1;
        }
        else if (name == QLatin1String("--retries")) {
            bool ok2 = false;
            o->minRetries = value.section(QLatin1Char('-'), 0, 0).toInt(&ok);
            o->maxRetries = value.section(QLatin1Char('-'), 1, 1).toInt(&ok2);
            ok = ok && ok2 && o->minRetries >= 0 && o->maxRetries >= o->minRetries;
        } else
            ok = false;
        if (!ok || o->commands < 1 || o->timeoutMs < 1) {
            *error = QStringLiteral("usage: servo_soak [--commands N] [--seed S] [--faults PLAN] "
                                    "[--timeout MS] [--stations LIST] [--retries MIN-MAX] "
                                    "[--unplug RATE] [--look-alike] [--trace FILE] "
                                    "[--max-growth KIB]");
            return false;
        }
    }
    return true;
}

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

// Commands whose every attempt is one request and one answer: for them the
// fault rates predict the outcome exactly.
bool singleExchange(const SoakCommand &c)
{
    switch (c.kind) {
    case SoakKind::ReadStore:
    case SoakKind::WriteStore:
    case SoakKind::WriteWordsFn6:
    case SoakKind::WriteRegisterBit:
    case SoakKind::WriteRegisterBitFn6:
    case SoakKind::WriteCoilsFn5:
    case SoakKind::WriteBroadcastWord:
    case SoakKind::WriteBroadcastWordFn6:
    case SoakKind::WriteBroadcastBit:
        return false;
    case SoakKind::WriteDWords:
    case SoakKind::WriteBytes:
        return c.cmd.address.startsWith(QLatin1String("HR"));
    default:
        return true;
    }
}

struct KindStats
{
    qint64 commands = 0, good = 0, failed = 0, firstFailed = 0, recovered = 0, requests = 0;
};

// Single-exchange commands by their retry count.
struct RetryStats
{
    qint64 commands = 0, firstFailed = 0, failed = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The port sleeps to keep the line's silent interval; the default timer
    // slack would add tens of microseconds to each of those sleeps.
    prctl(PR_SET_TIMERSLACK, 1);

    Options o;
    QString error;
    FaultPlan plan;
    QList<int> stationList;
    if (!parseOptions(app.arguments(), &o, &error) || !FaultPlan::parse(o.faults, &plan, &error)
        || !SimLine::parseStations(o.stations, &stationList, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }

    SimLine line(stationList);
    line.setFaults(plan, o.seed);
    SimServer server(&line);
    FILE *traceFile = nullptr;
    std::unique_ptr<FrameTrace> portTrace, lineTrace;
    if (!o.trace.isEmpty()) {
        traceFile = std::fopen(o.trace.toLocal8Bit().constData(), "w");
        if (!traceFile) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(o.trace));
            return 2;
        }
        const auto sink = [traceFile](const char *side) {
            return [traceFile, side](const QString &text) {
                std::fprintf(traceFile, "%s %s\n", side, qPrintable(text));
            };
        };
        portTrace.reset(new FrameTrace(sink("port")));
        lineTrace.reset(new FrameTrace(sink("line")));
        server.setTrace(lineTrace.get());
    }
    // The port opens the line by a link, as a USB adapter's fixed name, so
    // that it can take the line up again after the adapter was pulled out.
    const QTemporaryDir linkDir;
    PtyLink link(linkDir.filePath(QStringLiteral("ttySOAK")));
    LineSettings settings;
    SerialPort serial;
    if (!LineSettings::parse(QStringLiteral("RS485,115200,NONE,8,2"), &settings, &error)
        || !server.openPty(settings) || !server.start() || !link.make(server.path())
        || !serial.open(link.path(), settings)) {
        std::fprintf(stderr, "cannot set up the line: %s%s%s%s\n", qPrintable(error),
                     qPrintable(server.errorString()), qPrintable(link.errorString()),
                     qPrintable(serial.errorString()));
        return 2;
    }
    Unplugger unplugger(&server, &link);
    serial.setAnswerTimeout(o.timeoutMs);
    serial.setInterCharacterFloor(qMax(1, o.timeoutMs / 5));
    serial.setFrameDelay(0);
    serial.setTrace(portTrace.get());
    CountingPort port(&serial);

    PluginDriver plugin;
    DriverInterface *driver = plugin.get();
    if (!driver) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", qPrintable(plugin.errorString()));
        return 2;
    }
    driver->initialize(&port);

    const QList<int> stations = line.stations();
    SoakCommandMix mix(stations, o.seed);
    std::mt19937_64 retryRandom(o.seed ^ 0x5EEDULL);
    std::mt19937_64 unplugRandom(o.seed ^ 0xAD0ULL);
    StoreModel store;
    {
        // The station list and read-back station, written until it holds.
        const SoakCommand setUp = mix.setUpStore();
        serial.setRetryCount(10);
        if (!driver->write(&port, setUp.cmd, setUp.data)) {
            std::fprintf(stderr, "cannot set up the special word store: %s\n",
                         qPrintable(driver->getLastError()));
            return 2;
        }
        QString ignored;
        verifyGood(setUp, QByteArray(), line, store, &ignored);
    }

    KindStats kinds[int(SoakKind::Count)];
    QMap<int, RetryStats> byRetries;
    qint64 wrongData = 0, undefinedTexts = 0, flagged = 0, flaggedWrong = 0;
    qint64 unplugs = 0, linesLost = 0, recovered = 0;
    RetryStats metLate; // commands during which an answer came after the time-out
    qint64 longestLateNs = -1;
    QMap<QString, qint64> failureTexts;
    QList<qint64> heap, resident;
    const qint64 startNs = monotonicNs();
    const SimStats startStats = line.stats();

    for (qint64 n = 0; n < o.commands; ++n) {
        SoakCommand c = o.lookAlike ? mix.nextLookAlike() : mix.next(line);
        const int retries = o.minRetries
            + int(retryRandom() % quint64(o.maxRetries - o.minRetries + 1));
        serial.setRetryCount(retries);
        serial.setStationId(c.station);
        const qint64 failedBefore = port.failedAttempts;
        const qint64 requestsBefore = port.requests;
        const qint64 uncertainBefore = serial.counters().uncertainAnswers;
        const qint64 lateBefore = line.stats().faults[FaultPlan::Late];
        const bool unplug = double(unplugRandom() >> 11) * 0x1p-53 < o.unplugRate;
        if (unplug) {
            ++unplugs;
            unplugger.schedule(int(unplugRandom() % 3000), o.replugMs);
        }

        if (traceFile)
            std::fprintf(traceFile, "== %lld %s %s count %d station %d retries %d\n", n,
                         soakKindName(c.kind), qPrintable(c.cmd.address), c.cmd.count, c.station,
                         retries);
        QByteArray result;
        if (c.write)
            driver->write(&port, c.cmd, c.data);
        else
            result = driver->read(&port, c.cmd);
        const bool good = !driver->hasError();
        const qint64 failedAttempts = port.failedAttempts - failedBefore;
        const bool uncertain = serial.counters().uncertainAnswers > uncertainBefore;
        if (unplug && !unplugger.waitPluggedIn()) {
            std::fprintf(stderr, "cannot plug the line back in: %s%s\n",
                         qPrintable(server.errorString()), qPrintable(link.errorString()));
            return 2;
        }
        const bool lost = serial.isLost();
        for (const LateAnswer &lateAnswer : serial.takeLateAnswers())
            longestLateNs = qMax(longestLateNs, lateAnswer.latenessNs);
        const bool late = plan.lateMs > o.timeoutMs && line.stats().faults[FaultPlan::Late] > lateBefore;

        KindStats &k = kinds[int(c.kind)];
        ++k.commands;
        k.requests += port.requests - requestsBefore;
        const bool firstFailed = failedAttempts > 0;
        k.firstFailed += firstFailed;
        if (good) {
            ++k.good;
            k.recovered += firstFailed;
            flagged += uncertain;
            QString difference;
            if (!verifyGood(c, result, line, store, &difference)) {
                if (uncertain)
                    ++flaggedWrong; // the port said it could not tell
                else if (++wrongData <= 20)
                    std::printf("WRONG DATA accepted by command %lld: %s %s count %d station %d: %s\n",
                                n, soakKindName(c.kind), qPrintable(c.cmd.address), c.cmd.count,
                                c.station, qPrintable(difference));
            }
        } else {
            ++k.failed;
            const QString text = driver->getLastError();
            if (!drivertexts::isDefinedFailure(text, c.cmd, c.station, c.write)) {
                if (++undefinedTexts <= 20)
                    std::printf("UNDEFINED failure text: %s\n", qPrintable(text));
            }
            const QString tail = drivertexts::description(c.cmd, c.station, c.write);
            ++failureTexts[tail.isNull() ? text : text.chopped(tail.size())];
        }
        if (lost) {
            // As servoctl does: the same path again, the driver set up anew.
            ++linesLost;
            if (!serial.reopen()) {
                std::fprintf(stderr, "cannot take the line up again: %s\n", qPrintable(serial.errorString()));
                return 2;
            }
            driver->initialize(&port);
            ++recovered;
        }
        if (late) {
            ++metLate.commands;
            metLate.firstFailed += firstFailed;
            metLate.failed += !good;
        } else if (singleExchange(c) && !unplug && !lost) {
            RetryStats &r = byRetries[retries];
            ++r.commands;
            r.firstFailed += firstFailed;
            r.failed += !good;
        }
        if ((n + 1) % qMax<qint64>(1, o.commands / 10) == 0) {
            heap.append(heapKiB());
            resident.append(residentKiB());
        }
    }
    const double seconds = double(monotonicNs() - startNs) / 1e9;
    const SimStats endStats = line.stats();
    serial.close();
    server.stop();
    if (traceFile)
        std::fclose(traceFile);

    // ---- Report ----------------------------------------------------------
    std::printf("soak: %lld commands, seed %llu, faults %s, answer time-out %d ms, retries %d-%d, "
                "stations %s\n",
                o.commands, o.seed, qPrintable(plan.toString()), o.timeoutMs, o.minRetries,
                o.maxRetries, qPrintable(o.stations));
    std::printf("time: %.1f s (%.0f commands/s)\n", seconds, double(o.commands) / seconds);
    qint64 answered = 0;
    for (int f = 0; f < FaultPlan::KindCount; ++f)
        answered += endStats.faults[f] - startStats.faults[f];
    std::printf("answers drawn: %lld;", answered);
    for (int f = FaultPlan::Drop; f < FaultPlan::KindCount; ++f)
        std::printf(" %s %lld (%.2f%%)", FaultPlan::name(FaultPlan::Kind(f)),
                    endStats.faults[f] - startStats.faults[f],
                    100.0 * double(endStats.faults[f] - startStats.faults[f]) / double(qMax<qint64>(answered, 1)));
    std::printf("\n\n%-26s %8s %8s %7s %12s %10s %9s\n", "kind", "commands", "requests", "good",
                "first failed", "recovered", "failed");
    KindStats total;
    for (int i = 0; i < int(SoakKind::Count); ++i) {
        const KindStats &k = kinds[i];
        std::printf("%-26s %8lld %8lld %7lld %12lld %10lld %9lld\n", soakKindName(SoakKind(i)),
                    k.commands, k.requests, k.good, k.firstFailed, k.recovered, k.failed);
        total.commands += k.commands;
        total.requests += k.requests;
        total.good += k.good;
        total.firstFailed += k.firstFailed;
        total.recovered += k.recovered;
        total.failed += k.failed;
    }
    std::printf("%-26s %8lld %8lld %7lld %12lld %10lld %9lld\n\n", "all", total.commands,
                total.requests, total.good, total.firstFailed, total.recovered, total.failed);

    // An attempt of one exchange fails on a drop, corrupt, truncate, station,
    // exception, unheard or twin fault, on half the noise bursts (those
    // inside the answer), and on a delay beyond the time-out: rate p in all.
    // Each attempt is a fresh draw: the first fails with p, a command with r
    // retries fails for good with p^(r+1). Not so where an answer came after
    // the time-out: the drive is busy with it and misses the retries the
    // port sends meanwhile; and where the adapter was pulled out. Those
    // commands are counted apart.
    double p = plan.rate[FaultPlan::Drop] + plan.rate[FaultPlan::Corrupt]
        + plan.rate[FaultPlan::Truncate] + plan.rate[FaultPlan::WrongStation]
        + plan.rate[FaultPlan::Exception] + plan.rate[FaultPlan::Unheard]
        + plan.rate[FaultPlan::Twin] + plan.rate[FaultPlan::Noise] / 2;
    p += plan.delayMs > o.timeoutMs ? plan.rate[FaultPlan::Delay] : 0.0;
    std::printf("single-exchange commands: %-8s %8s %22s %22s\n", "retries", "commands",
                "first failed (pred.)", "failed (pred.)");
    for (auto it = byRetries.cbegin(); it != byRetries.cend(); ++it) {
        const RetryStats &r = it.value();
        const double first = double(r.commands) * p;
        const double final = double(r.commands) * std::pow(p, it.key() + 1);
        std::printf("%26s %-8d %8lld %12lld (%7.1f) %12lld (%7.1f)\n", "", it.key(), r.commands,
                    r.firstFailed, first, r.failed, final);
    }
    std::printf("commands that met an answer after the time-out: %lld, first attempt failed %lld, "
                "failed for good %lld\n", metLate.commands, metLate.firstFailed, metLate.failed);
    std::printf("\nfailure texts (without the command's description):\n");
    for (auto it = failureTexts.cbegin(); it != failureTexts.cend(); ++it)
        std::printf("  %8lld  %s\n", it.value(), qPrintable(it.key()));

    std::printf("\nheap in use (KiB) at each tenth:");
    for (const qint64 kib : heap)
        std::printf(" %lld", kib);
    std::printf("\nresident memory (KiB) at each tenth:");
    for (const qint64 kib : resident)
        std::printf(" %lld", kib);
    // Flat: from the second tenth on (allocators and caches warmed up) the
    // heap may not grow by more than --max-growth (1 MiB).
    const qint64 growth = heap.size() >= 2 ? heap.last() - heap.at(1) : 0;
    const bool flat = growth <= o.maxGrowthKiB;
    std::printf("\nheap growth after warm-up: %lld KiB (%s)\n", growth, flat ? "flat" : "GROWING");
    const PortCounters counters = serial.counters();
    std::printf("\nport: %lld late answers dropped (the latest %lld ms after its request), "
                "%lld bytes of noise dropped, %lld answers flagged uncertain (%lld of them "
                "wrong)\n",
                counters.lateAnswers, longestLateNs / 1000000, counters.noiseBytes, flagged,
                flaggedWrong);
    std::printf("adapter pulled out %lld times: line lost %lld times, taken up again %lld times\n",
                unplugs, linesLost, recovered);
    std::printf("\nwrong data accepted: %lld\nundefined failure texts: %lld\n", wrongData,
                undefinedTexts);
    const bool passed = wrongData == 0 && undefinedTexts == 0 && flat && recovered == linesLost;
    std::printf("soak: %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
