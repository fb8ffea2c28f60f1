#include "scanner.h"

#include <algorithm>
#include <cstdio>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "communicatorcommand.h"
#include "driverinterface.h"
#include "failuretexts.h"
#include "interrupt.h"
#include "serialport.h"
#include "termiosline.h"
#include "values.h"

namespace {

// The probe: HR1, one word, as a read command would send it.
const char kProbeAddress[] = "HR1";
const char kProbeType[] = "word";
// The probe and its answer, in characters.
const int kProbeRequestChars = 8;
const int kProbeAnswerChars = 7;

// After a setting's last probe went unanswered, how long its answer may
// still come: the driver's default time-out, or the port's late-answer
// horizon (twice the time-out) when longer.
const int kLateGraceMs = 500;

// What a sweep gives a drive to begin answering after its silent interval:
// a turn-round, and a USB adapter's latency timer where the device does not
// deliver with low latency. Drives slower than that are found all the same
// (their answers come during a later probe and they are probed again).
const qint64 kTurnroundNs = 6000000;
const qint64 kAdapterLatencyNs = 16000000;

// Several settings are swept this many stations at a time, after 1-10 and 247.
const int kBlockStations = 10;

// How often the bytes of an answer coming in are counted.
const qint64 kCountEveryNs = 1000000;

bool isLikelyStation(int station)
{
    return (station >= 1 && station <= 10) || station == kLastStation;
}

// Waits until fd has input or untilNs passes; false on a signal or at the end.
bool waitForInput(int fd, qint64 untilNs)
{
    for (qint64 remaining; !interruptSignal() && (remaining = untilNs - monotonicNs()) > 0;) {
        pollfd pfds[2] = {{fd, POLLIN, 0}, {interruptWakeFd(), POLLIN, 0}};
        const timespec ts = {time_t(remaining / 1000000000), long(remaining % 1000000000)};
        if (ppoll(pfds, 2, &ts, nullptr) > 0 && pfds[0].revents)
            return !interruptSignal();
    }
    return false;
}

// Leaves the input unread until no byte has come for quietNs, so that the
// port sees whole frames; returns when the last byte came.
qint64 waitForQuiet(int fd, qint64 quietNs)
{
    int count = -1;
    qint64 grewNs = monotonicNs();
    while (!interruptSignal() && monotonicNs() - grewNs < quietNs) {
        int now = 0;
        if (ioctl(fd, FIONREAD, &now) != 0)
            break;
        if (now != count) {
            count = now;
            grewNs = monotonicNs();
        }
        sleepUntilNs(monotonicNs() + kCountEveryNs);
    }
    return grewNs;
}

} // namespace

LineScanner::LineScanner(DriverInterface *driver, SerialPort *port, const Options &options, DriverRead read)
    : m_driver(driver), m_port(port), m_read(std::move(read)), m_options(options)
{
    m_live = isatty(STDERR_FILENO) && !options.trace;
}

QList<int> LineScanner::probeOrder(const QList<int> &stations)
{
    QList<int> likely, rest;
    for (const int station : stations)
        (isLikelyStation(station) ? likely : rest).append(station);
    std::sort(likely.begin(), likely.end());
    std::sort(rest.begin(), rest.end());
    return likely + rest;
}

bool LineScanner::run(const ScanRequest &request)
{
    const qint64 start = monotonicNs();
    const LineSettings opened = m_port->lineSettings();
    const int timeout = m_port->answerTimeout();
    const int retries = m_port->retryCount();
    const qint64 firstByte = m_port->firstByteTimeoutNs();
    m_stations = request.stations;
    m_settings = request.settingsToTry(opened);
    m_sweeps = QList<Sweep>();
    for (int i = 0; i < m_settings.size(); ++i)
        m_sweeps.append(Sweep());
    m_port->setRetryCount(m_options.retries >= 0 ? m_options.retries : 0);

    // One setting is swept whole; several a block at a time, so that the
    // stations a drive most likely has are tried at every setting first.
    const QList<int> order = probeOrder(m_stations);
    QList<QList<int>> blocks;
    for (const int station : order) {
        const bool likely = isLikelyStation(station);
        if (blocks.isEmpty()
            || (m_settings.size() > 1 && !likely
                && (isLikelyStation(blocks.last().last()) || blocks.last().size() >= kBlockStations)))
            blocks.append(QList<int>());
        blocks.last().append(station);
    }
    const bool stopAtFirst = m_settings.size() > 1 && !m_options.allSettings;
    bool completed = true;
    int chosen = -1;
    for (int b = 0; b < blocks.size() && completed && chosen < 0; ++b) {
        for (int i = 0; i < m_settings.size() && completed; ++i) {
            completed = sweepBlock(i, blocks[b], b == blocks.size() - 1);
            if (completed && stopAtFirst && foundAt(i)) {
                chosen = i;
                break;
            }
        }
    }
    if (chosen >= 0) {
        for (int b = m_sweeps[chosen].nextBlock; b < blocks.size() && completed; ++b)
            completed = sweepBlock(chosen, blocks[b], b == blocks.size() - 1);
    }
    if (m_live)
        std::fputs("\r\033[K", stderr);
    if (!m_port->isLost() && m_port->lineSettings().toString() != opened.toString())
        m_port->setLineSettings(opened);
    m_port->setAnswerTimeout(timeout);
    m_port->setRetryCount(retries);
    m_port->setFirstByteTimeout(firstByte);
    m_elapsedNs = monotonicNs() - start;
    return completed;
}

int LineScanner::settingsProbed() const
{
    int probed = 0;
    for (const Sweep &sweep : m_sweeps)
        probed += sweep.probed > 0 ? 1 : 0;
    return probed;
}

int LineScanner::timeoutMs(int settingsIndex) const
{
    return m_options.timeout >= 0 ? m_options.timeout : defaultScanTimeoutMs(m_settings[settingsIndex]);
}

bool LineScanner::useSettings(int settingsIndex)
{
    const LineSettings &settings = m_settings[settingsIndex];
    if (m_port->lineSettings().toString() != settings.toString() && !m_port->setLineSettings(settings))
        return false;
    m_port->setAnswerTimeout(timeoutMs(settingsIndex));
    return true;
}

bool LineScanner::sweepBlock(int settingsIndex, const QList<int> &block, bool lastBlock)
{
    if (!useSettings(settingsIndex))
        return false;
    Sweep &sweep = m_sweeps[settingsIndex];
    const LineSettings &settings = m_settings[settingsIndex];
    const qint64 timeoutNs = qint64(timeoutMs(settingsIndex)) * 1000000;
    if (sweep.probed == 0) {
        if (!m_live) {
            std::fprintf(stderr, "servoctl: scanning %s (time-out %d ms): %d %s\n",
                         qPrintable(settings.toString()), timeoutMs(settingsIndex), int(m_stations.size()),
                         m_stations.size() == 1 ? "station" : "stations");
        }
        const bool prompt = m_port->lowLatency() || isPseudoTerminal(m_port->handle());
        sweep.floorNs = qMin(settings.silentIntervalNs() + kTurnroundNs + (prompt ? 0 : kAdapterLatencyNs), timeoutNs);
        sweep.firstByteNs = sweep.floorNs;
    }
    ++sweep.nextBlock;
    bool lastAnswered = false;
    qint64 lastAskedNs = monotonicNs();
    for (const int station : block) {
        if (interruptSignal())
            return false;
        ++sweep.probed;
        showProgress(settingsIndex);
        lastAskedNs = monotonicNs();
        lastAnswered = probe(station, settingsIndex, true);
        if (m_port->isLost() || m_port->echoFault() != EchoFault::None || interruptSignal())
            return false;
    }
    // The last probes' answers may still come within the whole time-out;
    // after a setting's very last one, later still.
    const qint64 graceNs = qMax(qint64(kLateGraceMs) * 1000000, m_port->lateHorizonNs());
    const bool longListen = lastBlock && !lastAnswered;
    if (!listenUntil(settingsIndex, longListen ? monotonicNs() + graceNs : lastAskedNs + timeoutNs))
        return !interruptSignal() && !m_port->isLost();
    if (sweep.suspects.isEmpty())
        return true;
    bool confirmedAnswered = false;
    if (!confirmSuspects(settingsIndex, &confirmedAnswered))
        return false;
    if (lastBlock && !confirmedAnswered)
        listenUntil(settingsIndex, monotonicNs() + graceNs);
    return !interruptSignal() && !m_port->isLost();
}

// The stations whose answers came after their window, once more with the
// whole time-out: answered now, they show their time; late again, the
// --timeout that would do.
bool LineScanner::confirmSuspects(int settingsIndex, bool *lastAnswered)
{
    QList<int> suspects;
    suspects.swap(m_sweeps[settingsIndex].suspects);
    std::sort(suspects.begin(), suspects.end());
    m_confirming = true;
    for (const int station : suspects) {
        const QPair<int, int> key(station, settingsIndex);
        const auto known = m_findings.constFind(key);
        if (known != m_findings.constEnd()
            && (known->kind == ScanFinding::Answered || known->kind == ScanFinding::Exception))
            continue;
        const ScanFinding before = m_findings.take(key);
        const bool hadOne = before.station == station;
        *lastAnswered = probe(station, settingsIndex, false);
        if (hadOne && !m_findings.contains(key))
            m_findings.insert(key, before);
        if (m_port->isLost() || m_port->echoFault() != EchoFault::None || interruptSignal())
            break;
    }
    m_confirming = false;
    return !m_port->isLost() && m_port->echoFault() == EchoFault::None && !interruptSignal();
}

// True when the station answered within its window, well or not.
bool LineScanner::probe(int station, int settingsIndex, bool fast)
{
    Sweep &sweep = m_sweeps[settingsIndex];
    const PortCounters before = m_port->counters();
    m_port->setFirstByteTimeout(fast ? sweep.firstByteNs : -1);
    m_port->setStationId(station);
    const CommunicatorCommand command(dataTypeByName(QLatin1String(kProbeType))->code, 1, QLatin1String(kProbeAddress));
    const qint64 start = monotonicNs();
    if (fast)
        sweep.recent.append(qMakePair(station, start));
    m_read(command);
    const qint64 responseNs = monotonicNs() - start;
    takeLateAnswers(settingsIndex);
    const bool otherAnswered = takeOtherStations(settingsIndex, station);

    ScanFinding finding;
    finding.station = station;
    finding.settingsIndex = settingsIndex;
    finding.responseNs = responseNs;
    const QString error = m_driver->hasError() ? m_driver->getLastError() : QString();
    const int code = driverExceptionCode(error);
    const bool noise = m_port->counters().noiseBytes > before.noiseBytes;
    // Bytes that began no frame during a sweep, whatever this probe got: an
    // answer that came after its window, cut short by our next request.
    if (noise && fast)
        suspectRecent(settingsIndex, start);
    if (error.isEmpty()) {
        finding.kind = ScanFinding::Answered;
    } else if (code >= 0) {
        finding.kind = ScanFinding::Exception;
        finding.exceptionCode = code;
    } else if (isGarbledAnswerText(error) || (noise && !fast)) {
        finding.kind = ScanFinding::Garbled;
        finding.why = isGarbledAnswerText(error) ? error.section(QLatin1String(" ("), 0, 0) : QStringLiteral("noise bytes");
    } else {
        return otherAnswered;
    }
    if (finding.kind != ScanFinding::Garbled)
        learnFirstByte(settingsIndex, responseNs, !fast);
    record(finding);
    return true;
}

// Drives on one line begin answering within about the same time. Where
// most of those found so far came after the window (asked again, they
// answered within the time-out), widening it to their typical first byte
// and a turn-round costs less than asking each again; otherwise it stays.
void LineScanner::learnFirstByte(int settingsIndex, qint64 responseNs, bool late)
{
    Sweep &sweep = m_sweeps[settingsIndex];
    const LineSettings &settings = m_settings[settingsIndex];
    QList<qint64> &seen = sweep.readsNs;
    seen.insert(std::lower_bound(seen.begin(), seen.end(), responseNs), responseNs);
    sweep.lateDrives += late ? 1 : 0;
    if (sweep.lateDrives < 2 || 2 * sweep.lateDrives < seen.size())
        return;
    const qint64 typicalNs = seen[seen.size() / 2] - (kProbeRequestChars + kProbeAnswerChars) * settings.characterTimeNs();
    const qint64 timeoutNs = qint64(timeoutMs(settingsIndex)) * 1000000;
    sweep.firstByteNs = qMax(sweep.floorNs, qMin(typicalNs + kTurnroundNs, timeoutNs));
}

// Once asked again with the whole time-out, a station is late for good.
void LineScanner::suspect(int settingsIndex, int station)
{
    QList<int> &suspects = m_sweeps[settingsIndex].suspects;
    if (!m_confirming && m_stations.contains(station) && !suspects.contains(station))
        suspects.append(station);
}

// Every station asked within twice the late-answer horizon before
// heardSinceNs, when the noise began to be heard, may be the one whose
// answer it was: a drive may be later than the time-out, and a frame heard
// in pieces is noise only once it is whole.
void LineScanner::suspectRecent(int settingsIndex, qint64 heardSinceNs)
{
    Sweep &sweep = m_sweeps[settingsIndex];
    const qint64 since = heardSinceNs - 2 * m_port->lateHorizonNs();
    while (!sweep.recent.isEmpty() && sweep.recent.first().second < since)
        sweep.recent.removeFirst();
    for (const auto &asked : sweep.recent)
        suspect(settingsIndex, asked.first);
}

bool LineScanner::foundAt(int settingsIndex) const
{
    for (const ScanFinding &finding : m_findings) {
        if (finding.settingsIndex == settingsIndex && finding.isFound())
            return true;
    }
    return false;
}

// Late answers and others' frames that come while no probe is out.
// The port reads nothing between requests, so the time it would give a
// frame read here is corrected to when its last byte came.
bool LineScanner::listenUntil(int settingsIndex, qint64 untilNs)
{
    for (qint64 waitedFromNs = monotonicNs(); !m_port->isLost() && waitForInput(m_port->handle(), untilNs);
         waitedFromNs = monotonicNs()) {
        const qint64 lastByteNs = waitForQuiet(m_port->handle(), m_port->interCharacterTimeoutNs());
        if (interruptSignal())
            return false;
        const qint64 readNs = monotonicNs();
        const qint64 noiseBefore = m_port->counters().noiseBytes;
        m_port->settleInput();
        takeLateAnswers(settingsIndex, readNs - lastByteNs);
        takeOtherStations(settingsIndex);
        if (m_port->counters().noiseBytes > noiseBefore)
            suspectRecent(settingsIndex, waitedFromNs);
    }
    return !interruptSignal() && !m_port->isLost();
}

// A frame from a station nothing was owed by answers the station asked, not
// itself: that station is there, but answers with another number (or
// another drive answers for it); the number in the frame is listed nowhere.
bool LineScanner::takeOtherStations(int settingsIndex, int station)
{
    bool answered = false;
    for (const OtherStationAnswer &other : m_port->takeOtherStationAnswers()) {
        if (!m_stations.contains(other.askedStation))
            continue;
        ScanFinding finding;
        finding.station = other.askedStation;
        finding.settingsIndex = settingsIndex;
        finding.kind = ScanFinding::OtherStation;
        finding.answeredAs = other.station;
        record(finding);
        answered = answered || other.askedStation == station;
    }
    return answered;
}

// A station whose answer came after the time-out is there all the same.
void LineScanner::takeLateAnswers(int settingsIndex, qint64 readLateNs)
{
    for (const LateAnswer &late : m_port->takeLateAnswers()) {
        if (!m_stations.contains(late.station))
            continue;
        ScanFinding finding;
        finding.station = late.station;
        finding.settingsIndex = settingsIndex;
        finding.kind = ScanFinding::Late;
        finding.latenessNs = late.latenessNs < 0 ? -1 : qMax<qint64>(late.latenessNs - readLateNs, 0);
        record(finding);
        suspect(settingsIndex, late.station);
    }
}

// A station's first answer at a setting counts, but one in its own number
// tells more than one in another's, and that more than a garbled one.
void LineScanner::record(const ScanFinding &finding)
{
    const auto rank = [](ScanFinding::Kind kind) {
        return kind == ScanFinding::Garbled ? 0 : kind == ScanFinding::OtherStation ? 1 : 2;
    };
    const QPair<int, int> key(finding.station, finding.settingsIndex);
    const auto known = m_findings.constFind(key);
    if (known == m_findings.constEnd() || rank(finding.kind) > rank(known->kind))
        m_findings.insert(key, finding);
}

void LineScanner::showProgress(int settingsIndex) const
{
    if (!m_live)
        return;
    std::fprintf(stderr, "\rscanning %s: station %d of %d, %d found\033[K",
                 qPrintable(m_settings[settingsIndex].toString()), m_sweeps[settingsIndex].probed,
                 int(m_stations.size()), foundCount());
    std::fflush(stderr);
}

int LineScanner::foundCount() const
{
    int found = 0;
    for (const ScanFinding &finding : m_findings) {
        if (finding.isFound())
            ++found;
    }
    return found;
}
