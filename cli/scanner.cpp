#include "scanner.h"

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

// After a setting's last probe went unanswered, how long its answer may
// still come: the driver's default time-out, or the port's late-answer
// horizon (twice the time-out) when longer.
const int kLateGraceMs = 500;

// How often the bytes of an answer coming in are counted.
const qint64 kCountEveryNs = 1000000;

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

LineScanner::LineScanner(DriverInterface *driver, SerialPort *port, const Options &options,
                         DriverRead read)
    : m_driver(driver)
    , m_port(port)
    , m_read(std::move(read))
    , m_options(options)
{
    m_live = isatty(STDERR_FILENO) && !options.trace;
}

bool LineScanner::run(const ScanRequest &request)
{
    const qint64 start = monotonicNs();
    const LineSettings opened = m_port->lineSettings();
    const int timeout = m_port->answerTimeout();
    const int retries = m_port->retryCount();
    m_stations = request.stations;
    m_settings = request.settingsToTry(opened);
    m_port->setRetryCount(m_options.retries >= 0 ? m_options.retries : 0);
    bool completed = true;
    for (int i = 0; i < m_settings.size() && completed; ++i)
        completed = scanAt(i, m_stations);
    if (m_live)
        std::fputs("\r\033[K", stderr);
    if (!m_port->isLost() && m_port->lineSettings().toString() != opened.toString())
        m_port->setLineSettings(opened);
    m_port->setAnswerTimeout(timeout);
    m_port->setRetryCount(retries);
    m_elapsedNs = monotonicNs() - start;
    return completed;
}

bool LineScanner::scanAt(int settingsIndex, const QList<int> &stations)
{
    const LineSettings &settings = m_settings[settingsIndex];
    if (m_port->lineSettings().toString() != settings.toString() && !m_port->setLineSettings(settings))
        return false;
    const int timeout = m_options.timeout >= 0 ? m_options.timeout : defaultScanTimeoutMs(settings);
    m_port->setAnswerTimeout(timeout);
    if (!m_live) {
        std::fprintf(stderr, "servoctl: scanning %s (time-out %d ms): %d %s\n",
                     qPrintable(settings.toString()), timeout, int(stations.size()),
                     stations.size() == 1 ? "station" : "stations");
    }
    bool lastAnswered = false;
    for (int i = 0; i < stations.size(); ++i) {
        if (interruptSignal())
            return false;
        showProgress(settingsIndex, i + 1, int(stations.size()));
        lastAnswered = probe(stations[i], settingsIndex);
        if (m_port->isLost() || m_port->echoFault() != EchoFault::None || interruptSignal())
            return false;
    }
    if (!lastAnswered)
        listenForLateAnswers(settingsIndex);
    return !interruptSignal();
}

// True when the station answered within the time-out, well or not.
bool LineScanner::probe(int station, int settingsIndex)
{
    const PortCounters before = m_port->counters();
    m_port->setStationId(station);
    const CommunicatorCommand command(dataTypeByName(QLatin1String(kProbeType))->code, 1,
                                      QLatin1String(kProbeAddress));
    const qint64 start = monotonicNs();
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
    if (error.isEmpty()) {
        finding.kind = ScanFinding::Answered;
    } else if (code >= 0) {
        finding.kind = ScanFinding::Exception;
        finding.exceptionCode = code;
    } else if (isGarbledAnswerText(error) || noise) {
        finding.kind = ScanFinding::Garbled;
        finding.why = isGarbledAnswerText(error) ? error.section(QLatin1String(" ("), 0, 0)
                                           : QStringLiteral("noise bytes");
    } else {
        return otherAnswered;
    }
    record(finding);
    return true;
}

// The answer of the last station probed may come after its time-out; the
// next setting would garble it.
// The port reads nothing between requests, so the time it would give a
// frame read here is corrected to when its last byte came.
void LineScanner::listenForLateAnswers(int settingsIndex)
{
    const qint64 until = monotonicNs() + qMax(qint64(kLateGraceMs) * 1000000, m_port->lateHorizonNs());
    while (!m_port->isLost() && waitForInput(m_port->handle(), until)) {
        const qint64 lastByteNs = waitForQuiet(m_port->handle(), m_port->interCharacterTimeoutNs());
        if (interruptSignal())
            return;
        const qint64 readNs = monotonicNs();
        m_port->settleInput();
        takeLateAnswers(settingsIndex, readNs - lastByteNs);
        takeOtherStations(settingsIndex);
    }
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

void LineScanner::showProgress(int settingsIndex, int done, int total) const
{
    if (!m_live)
        return;
    std::fprintf(stderr, "\rscanning %s: station %d of %d, %d found\033[K",
                 qPrintable(m_settings[settingsIndex].toString()), done, total, foundCount());
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
