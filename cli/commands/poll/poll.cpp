// servoctl's poll: every address of every station, again and again, with
// as few requests a cycle as the driver's limits allow.
#include "commandwords.h"
#include "session.h"

#include <cstdio>
#include <ctime>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDateTime>

#include "communicatorcommand.h"
#include "driverinterface.h"
#include "failuretexts.h"
#include "fetchplan.h"
#include "frametrace.h"
#include "interrupt.h"
#include "manualaddress.h"
#include "pollstatus.h"
#include "serialport.h"
#include "stationlist.h"
#include "tcpport.h"
#include "termiosline.h"

namespace {

QString clockText(qint64 epochMs)
{
    return QDateTime::fromMSecsSinceEpoch(epochMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

int terminalRows()
{
    winsize size = {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 ? size.ws_row : 24;
}

QString itemsText(const std::vector<Step> &items)
{
    QStringList texts;
    for (const Step &item : items) {
        texts.append(QStringLiteral("%1 (%2 %3)")
                         .arg(shownLabel(item.address.text, item.address.manualForm))
                         .arg(item.count)
                         .arg(QLatin1String(item.count == 1 ? item.type->name : item.type->plural)));
    }
    return texts.join(QStringLiteral(", "));
}

std::vector<Step> itemsOf(const Step &step, const Fetch &fetch)
{
    std::vector<Step> items;
    for (const int index : fetch.items)
        items.push_back(step.items[size_t(index)]);
    return items;
}

// Before each line of a poll of several stations: whose it is.
QString stationPrefix(const Step &step, int station)
{
    return step.stations.size() > 1 ? QStringLiteral("station %1  ").arg(station) : QString();
}

QString labelsOf(const Step &step, const Fetch &fetch)
{
    QStringList labels;
    for (const int index : fetch.items)
        labels.append(step.items[size_t(index)].address.text);
    return labels.join(QStringLiteral(", "));
}

// What one poll has seen so far.
struct PollRun
{
    explicit PollRun(const Step &polled) : step(polled) {}

    const Step &step;
    QMap<int, QList<Fetch>> fetches; // by station: what each cycle asks for
    bool live = false;
    int shownLines = 0;
    int polls = 0;
    int good = 0;
    int uncertain = 0;
    int linesLost = 0;
    bool logFailed = false;
    QString lastError;                // of the last cycle, if one of its reads failed
    QString lastErrorContext;         // "poll" and what that read was for
    QString echoFault;                // ends the poll: every read would fail alike
    QStringList lines;                // the cycle's display
    QString status;                   // why the cycle was slow, if it was
    qint64 cycleNs = 0;               // the last cycle's reads took
    PollTrouble statusTrouble;        // counted when standard error last heard why
    qint64 statusAtNs = 0;            // and when
    int statusPoll = 1;               // the first poll it has not heard of
    QMap<int, QStringList> itemLines; // the station's, by item: shown in the order typed
};

enum class FetchOutcome { Good, Failed, Uncertain, LineBack, EndPoll };

// What the line did around a read (a signal, an echo fault, late answers,
// the device gone): Good when the read's own outcome decides.
FetchOutcome lineEvents(Session &session, PollRun *run, const PortCounters &before)
{
    if (interruptSignal())
        return FetchOutcome::EndPoll;
    if (session.port()->echoFault() != EchoFault::None) {
        run->echoFault = session.echoFaultText();
        return FetchOutcome::EndPoll;
    }
    // What changed on the line is said once, above the live display.
    QStringList warnings = session.lateAnswerWarnings();
    if (const QString garbled = session.garbledWarning(before); !garbled.isEmpty())
        warnings.append(garbled);
    for (const QString &warning : warnings)
        warn(warning);
    if (!warnings.isEmpty())
        run->shownLines = 0;
    if (session.port()->isLost()) {
        // Said once; then no polls, and no CPU, until the device is back.
        ++run->linesLost;
        warn(session.port()->errorString());
        if (!session.waitForLineBack())
            return FetchOutcome::EndPoll;
        warn(QStringLiteral("line back: %1").arg(session.options().device));
        return FetchOutcome::LineBack;
    }
    return FetchOutcome::Good;
}

// Each item of a fetch that failed, as a JSON line; true when that fails.
bool logFetchFailure(Session &session, PollRun *run, int station, const Fetch &fetch, const QString &text, qint64 readAtMs)
{
    for (const int item : fetch.items) {
        if (session.logFailure(run->step.items[size_t(item)], station, text, readAtMs)) {
            run->logFailed = true;
            return true;
        }
    }
    return false;
}

// The fetch's items from its answer, on the display and in the log.
FetchOutcome showFetch(Session &session, PollRun *run, int station, const Fetch &fetch, const QByteArray &data, qint64 readAtMs)
{
    const QString prefix = stationPrefix(run->step, station);
    for (const int item : fetch.items) {
        const Step &itemStep = run->step.items[size_t(item)];
        Step logged = itemStep;
        logged.station = station;
        const QByteArray itemBytes = itemData(fetch, itemStep, data);
        for (const QString &line : describeItems(itemStep, itemBytes))
            run->itemLines[item].append(prefix + line);
        if (session.logValues(logged, itemValues(itemStep, itemBytes), readAtMs)) {
            run->logFailed = true;
            return FetchOutcome::EndPoll;
        }
    }
    return FetchOutcome::Good;
}

// Reads fetch index of the station's list and shows its items; a merged
// read that the drive refuses is split into the items' own reads.
FetchOutcome pollFetch(Session &session, PollRun *run, int station, QList<Fetch> *fetches, int index, QString *error)
{
    const Fetch fetch = fetches->at(index);
    const PortCounters before = session.port()->counters();
    const QByteArray data = session.driverRead(driverCommand(fetch.read));
    const qint64 readAtMs = QDateTime::currentMSecsSinceEpoch();
    if (const FetchOutcome outcome = lineEvents(session, run, before); outcome != FetchOutcome::Good)
        return outcome;
    const QString prefix = stationPrefix(run->step, station);
    if (session.driver()->hasError()) {
        // 0x02: the drive lacks a register of the run; other codes pass.
        if (fetch.merged() && driverExceptionCode(session.failureText()) == 0x02) {
            warn(QStringLiteral("station %1 refused %2 in one read (%3): reading them one by one")
                     .arg(station)
                     .arg(itemsText(itemsOf(run->step, fetch)), session.failureText()));
            run->shownLines = 0;
            fetches->removeAt(index);
            const QList<Fetch> own = splitFetch(fetch, run->step.items);
            for (int i = own.size() - 1; i >= 0; --i)
                fetches->insert(index, own[i]);
            return pollFetch(session, run, station, fetches, index, error);
        }
        const QString labels = run->step.items.size() > 1 ? labelsOf(run->step, fetch) + QStringLiteral(": ") : QString();
        *error = session.failureText();
        run->itemLines[fetch.items.first()].append(prefix + labels + QStringLiteral("error: ") + *error);
        return logFetchFailure(session, run, station, fetch, *error, readAtMs) ? FetchOutcome::EndPoll : FetchOutcome::Failed;
    }
    // Values that may be another request's are not shown as if they were these.
    const bool echoDoubt = session.port()->counters().uncertainEchoes > before.uncertainEchoes;
    if (session.port()->counters().uncertainAnswers > before.uncertainAnswers || echoDoubt) {
        const QString text = QStringLiteral("uncertain: ")
                             + (echoDoubt ? uncertainEchoText("answer") : uncertainText(station, "answer"));
        if (run->live)
            run->itemLines[fetch.items.first()].append(prefix + text);
        else
            warn(QStringLiteral("poll %1: %2").arg(labelsOf(run->step, fetch), text));
        return logFetchFailure(session, run, station, fetch, text, readAtMs) ? FetchOutcome::EndPoll : FetchOutcome::Uncertain;
    }
    return showFetch(session, run, station, fetch, data, readAtMs);
}

void showCycle(Session &session, PollRun *run)
{
    if (session.trace())
        session.trace()->flush();
    QStringList lines;
    lines.append(QStringLiteral("%1  poll %2, %3 good")
                     .arg(clockText(QDateTime::currentMSecsSinceEpoch()))
                     .arg(run->polls)
                     .arg(run->good)
                 + (run->uncertain ? QStringLiteral(", %1 uncertain").arg(run->uncertain) : QString())
                 + (run->live && !run->status.isEmpty() ? QStringLiteral("; ") + run->status : QString()));
    lines += run->lines;
    if (session.options().stats && run->live)
        lines += session.statsLines();
    // A display taller than the terminal cannot be redrawn in place: it scrolls.
    const bool inPlace = run->live && qMax(lines.size(), run->shownLines) < terminalRows();
    if (inPlace && run->shownLines)
        std::printf("\033[%dA", run->shownLines);
    for (const QString &line : qAsConst(lines))
        std::printf(inPlace ? "\033[K%s\n" : "%s\n", qPrintable(line));
    if (inPlace) {
        for (int i = lines.size(); i < run->shownLines; ++i)
            std::printf("\033[K\n");
        run->shownLines = qMax(run->shownLines, lines.size());
    }
    std::fflush(stdout);
}

// Why the poll is slow, on a terminal standard error when the display is
// not one: at most once a second, the retries and failures since.
void reportTrouble(Session &session, PollRun *run)
{
    const qint64 now = monotonicNs();
    if (run->live || !isatty(STDERR_FILENO) || now - run->statusAtNs < 1000000000)
        return;
    const PollTrouble trouble = PollTrouble::of(session.stats(), run->step.stations);
    const QString status = pollStatus(run->cycleNs, session.options().intervalMs, trouble - run->statusTrouble,
                                      QStringLiteral("poll %1").arg(run->statusPoll));
    if (!status.isEmpty())
        warn(QStringLiteral("poll %1: %2").arg(run->polls).arg(status));
    run->statusTrouble = trouble;
    run->statusAtNs = now;
    run->statusPoll = run->polls + 1;
}

// One cycle: false when the poll ends (a signal, an echo fault, a line
// lost and not back).
bool pollCycle(Session &session, PollRun *run)
{
    const qint64 startNs = monotonicNs();
    const PollTrouble before = PollTrouble::of(session.stats(), run->step.stations);
    run->lines.clear();
    QString cycleError;
    QString cycleErrorContext;
    bool cycleDoubtful = false;
    for (const int station : run->step.stations) {
        session.port()->setStationId(station);
        run->itemLines.clear();
        QList<Fetch> &fetches = run->fetches[station];
        for (int i = 0; i < fetches.size(); ++i) {
            QString error;
            const FetchOutcome outcome = pollFetch(session, run, station, &fetches, i, &error);
            if (outcome == FetchOutcome::EndPoll)
                return false;
            if (outcome == FetchOutcome::LineBack) {
                run->shownLines = 0;
                return true;
            }
            if (outcome == FetchOutcome::Failed) {
                cycleError = error;
                cycleErrorContext = QStringLiteral("poll %1").arg(labelsOf(run->step, fetches.at(i)));
                if (run->step.stations.size() > 1)
                    cycleErrorContext += QStringLiteral(" at station %1").arg(station);
            }
            cycleDoubtful = cycleDoubtful || outcome == FetchOutcome::Uncertain;
        }
        for (const QStringList &lines : qAsConst(run->itemLines))
            run->lines += lines;
    }
    if (session.endWideRow()) {
        run->logFailed = true;
        return false;
    }
    ++run->polls;
    run->good += cycleError.isEmpty() && !cycleDoubtful ? 1 : 0;
    run->uncertain += cycleDoubtful ? 1 : 0;
    run->lastError = cycleError;
    run->lastErrorContext = cycleErrorContext;
    run->cycleNs = monotonicNs() - startNs;
    run->status = pollStatus(run->cycleNs, session.options().intervalMs,
                             PollTrouble::of(session.stats(), run->step.stations) - before);
    showCycle(session, run);
    reportTrouble(session, run);
    return true;
}

int pollSummary(const PollRun &run, bool modbusTcp)
{
    QString summary = QStringLiteral("%1 %2, %3 good")
                          .arg(run.polls)
                          .arg(QLatin1String(run.polls == 1 ? "poll" : "polls"))
                          .arg(run.good);
    if (run.uncertain)
        summary += QStringLiteral(", %1 uncertain").arg(run.uncertain);
    if (run.linesLost) {
        summary += QStringLiteral(", line lost %1 %2").arg(run.linesLost).arg(QLatin1String(run.linesLost == 1 ? "time" : "times"));
    }
    std::printf("%s\n", qPrintable(summary));
    std::fflush(stdout);
    if (!run.echoFault.isEmpty())
        return failure(QString(), run.echoFault);
    if (run.logFailed)
        return 1;
    if (!run.lastError.isEmpty())
        return driverFailure(run.lastErrorContext, run.lastError, modbusTcp);
    return 0;
}

// poll ADDRESS [TYPE] [COUNT] [FORMAT] [ADDRESS ...]: a word that is an
// address begins the next one.
bool buildPollItems(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    QList<QStringList> targets;
    for (const QString &arg : command.args) {
        Address address;
        QString ignored;
        if (targets.isEmpty() || parseManualAddress(arg, options.zeroBased, &address, &ignored))
            targets.append(QStringList());
        targets.last().append(arg);
    }
    for (const QStringList &args : qAsConst(targets)) {
        Step item = *step;
        if (!buildTarget(command.name, args, options, chain, &item, error))
            return false;
        step->items.push_back(item);
    }
    const Step first = step->items.front();
    step->address = first.address;
    step->type = first.type;
    step->count = first.count;
    step->format = first.format;
    return true;
}

bool buildPoll(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, true, step, error) && needsAddress(command, error)
           && buildPollItems(command, options, chain, step, error);
}

int runPoll(Session &session, const Step &step)
{
    PollRun run(step);
    run.live = isatty(STDOUT_FILENO) && !session.trace();
    // Only an address's own read can go past the standard: merged ones stop at it.
    for (const Step &item : step.items)
        warnPastStandard(QStringLiteral("poll %1").arg(item.address.text), item);
    int reads = 0;
    for (const int station : step.stations) {
        run.fetches.insert(station, planFetches(step.items));
        reads += run.fetches[station].size();
    }
    QString header = QStringLiteral("polling ") + itemsText(step.items);
    if (step.stations.size() > 1)
        header += QStringLiteral(" at stations ") + stationListText(step.stations);
    header += QStringLiteral(" every %1 ms").arg(session.options().intervalMs);
    if (step.items.size() > 1 || step.stations.size() > 1)
        header += QStringLiteral(", %1 %2 a cycle").arg(reads).arg(QLatin1String(reads == 1 ? "read" : "reads"));
    std::printf("%s; Ctrl-C stops\n", qPrintable(header));
    std::fflush(stdout);
    const qint64 intervalNs = qint64(session.options().intervalMs) * 1000000;
    qint64 next = monotonicNs();
    while (!interruptSignal()) {
        if (!pollCycle(session, &run))
            break;
        if (session.options().polls > 0 && run.polls >= session.options().polls)
            break;
        next += intervalNs;
        if (run.linesLost && run.shownLines == 0)
            next = qMax(next, monotonicNs());
        for (qint64 remaining; !interruptSignal() && (remaining = next - monotonicNs()) > 0;) {
            pollfd pfd = {interruptWakeFd(), POLLIN, 0};
            const timespec ts = {time_t(remaining / 1000000000), long(remaining % 1000000000)};
            ppoll(&pfd, 1, &ts, nullptr);
        }
    }
    return pollSummary(run, isModbusTcpUrl(session.options().device));
}

} // namespace

extern const CommandEntry pollCommand = {
    "poll",
    Step::Poll,
    true,
    true,
    false,
    true,
    buildPoll,
    runPoll,
    "poll ADDRESS [TYPE] [COUNT] [FORMAT] [ADDRESS ...]",
    "read every address of every --station again\n"
    "every --interval until Ctrl-C, with times to\n"
    "the millisecond; addresses of one function\n"
    "within 125 registers or 2000 bits share a\n"
    "read; a lost line (an adapter pulled out) is\n"
    "waited for and taken up again at the same\n"
    "path; \"then\" may follow only with --polls"};
