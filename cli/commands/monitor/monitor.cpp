// servoctl monitor: a listener on a line it does not own. It opens the
// device read-only and never writes, sets no modem line and takes no lock:
// the master keeps the line, and a second adapter wired in parallel hears
// what the first one says and what the drives answer.
#include "monitor.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>

#include "backup.h"
#include "commandwords.h"
#include "commands.h"
#include "csvlog.h"
#include "dataout.h"
#include "interrupt.h"
#include "linelock.h"
#include "linelistener.h"
#include "lowlatency.h"
#include "monitorjson.h"
#include "monitorpairer.h"
#include "monitorreport.h"
#include "monitortimeline.h"
#include "pcapwriter.h"
#include "session.h"
#include "systemerror.h"
#include "termiosline.h"
#include "writeall.h"

namespace {

// A request unanswered this long has none; a later answer is shown late.
const qint64 kAnswerWaitNs = 1000000000;

QString clockText(qint64 epochMs)
{
    return QDateTime::fromMSecsSinceEpoch(epochMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

qint64 realtimeMinusMonotonicNs()
{
    timespec real;
    clock_gettime(CLOCK_REALTIME, &real);
    return qint64(real.tv_sec) * 1000000000 + real.tv_nsec - monotonicNs();
}

// One listening, from the open device to the statistics.
class Listener
{
public:
    Listener(const Step &step, const Options &options)
        : m_step(step), m_options(options), m_settings(options.lineSettings(LineSettings())), m_pairer(kAnswerWaitNs)
    {
    }
    ~Listener() { close(); }

    int run();

private:
    int open();
    void close();
    bool openFiles();
    bool listen();
    bool handle(const QList<HeardFrame> &frames, qint64 nowNs);
    bool show(const Transaction &t);
    qint64 epochNs(qint64 monotonic) const { return monotonic + m_clockOffsetNs; }
    int fail(const QString &text);

    const Step &m_step;
    const Options &m_options;
    LineSettings m_settings;
    MonitorJudging m_judging;
    std::unique_ptr<LineListener> m_listener; // once the device is open
    MonitorPairer m_pairer;
    std::unique_ptr<MonitorStats> m_stats;
    std::unique_ptr<MonitorTimeline> m_timeline;
    CsvLog m_csv;
    bool m_csvOpen = false;
    PcapWriter m_pcap;
    bool m_pcapOpen = false;
    int m_fd = -1;
    termios m_saved = {};
    bool m_lowLatencyOurs = false;
    qint64 m_clockOffsetNs = 0;
    qint64 m_requests = 0;
    bool m_done = false;
    bool m_toldTooFast = false;
};

} // namespace

int openListening(const QString &path, QString *error)
{
    // Read-only: nothing this program does can reach the line.
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool busy = fd < 0 && errno == EBUSY;
    const QString secondReader = QStringLiteral(": a second reader would take bytes from it (a monitor listens "
                                                "through an adapter of its own)");
    if (fd < 0) {
        *error = busy ? lineInUseText(path) + secondReader : systemError("cannot open %1", path);
        return -1;
    }
    const QString notALine = whyNotALine(fd);
    if (!notALine.isEmpty()) {
        *error = path + QLatin1Char(' ') + notALine;
        ::close(fd);
        return -1;
    }
    // One reader a device: on the master's own device, or beside another
    // monitor, every byte read here would be taken from the other. Held
    // until the end, so that neither can start on this one meanwhile.
    if (!claimLine(fd, path, error)) {
        *error += secondReader;
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeListening(int fd)
{
    releaseLine(fd);
    ::close(fd);
}

namespace {

int Listener::fail(const QString &text)
{
    return failure(QStringLiteral("monitor"), text);
}

int Listener::open()
{
    const QString path = m_options.device;
    QString error;
    m_fd = openListening(path, &error);
    if (m_fd < 0)
        return fail(error);
    if (tcgetattr(m_fd, &m_saved) != 0)
        return fail(systemError("cannot read the line settings of %1", path));
    if (!configureTerminal(m_fd, m_settings, &error))
        return fail(QStringLiteral("%1: %2").arg(path, error));
    setLineToRestore(m_fd, m_saved);
    m_lowLatencyOurs = enableLowLatency(m_fd) == LowLatency::Enabled;
    tcflush(m_fd, TCIFLUSH); // what came before is no part of this listening
    return 0;
}

void Listener::close()
{
    if (m_fd < 0)
        return;
    if (m_lowLatencyOurs)
        disableLowLatency(m_fd);
    tcsetattr(m_fd, TCSANOW, &m_saved);
    clearLineToRestore();
    closeListening(m_fd);
    m_fd = -1;
}

bool Listener::openFiles()
{
    QString error;
    if (!m_options.csvPath.isEmpty()) {
        if (!m_csv.open(m_options.csvPath, lineText(m_options, m_settings), &error)) {
            fail(error);
            return false;
        }
        m_csvOpen = true;
    }
    if (!m_options.pcapPath.isEmpty()) {
        if (!m_pcap.open(m_options.pcapPath, &error)) {
            fail(error);
            return false;
        }
        m_pcapOpen = true;
    }
    return true;
}

bool Listener::show(const Transaction &t)
{
    const HeardFrame &first = t.kind == Transaction::Exchange || t.kind == Transaction::Late ? t.request : t.answer;
    const qint64 epochMs = epochNs(first.beginNs) / 1000000;
    const ParamFile *map = m_options.mapPath.isEmpty() ? nullptr : &m_step.params;
    if (m_options.json) {
        // A reader gone away (| head) is a signal, which ends the listening.
        if (const int error = writeAll(dataOutputFd(), jsonTransaction(epochMs, t, m_judging, map, m_options.format))) {
            if (!interruptSignal())
                fail(QStringLiteral("standard output: %1").arg(systemReason(error)));
            return false;
        }
    } else {
        std::printf("%s %s\n", qPrintable(clockText(epochMs)),
                    qPrintable(describeTransaction(t, m_judging, map, m_options.format)));
        std::fflush(stdout);
    }
    m_stats->add(t);
    // Said once, as soon as it shows: every answer time after it would be unknown too.
    if (!m_toldTooFast && m_stats->answersTooFastForTheBaud()) {
        m_toldTooFast = true;
        warn(QStringLiteral("monitor: answers begin before their requests end at %1 baud: %2")
                 .arg(m_settings.baudRate)
                 .arg(tooFastText()));
    }
    if (m_timeline)
        m_timeline->add(t);
    if (m_csvOpen && t.kind == Transaction::Exchange) { // a late answer's values the master dropped
        // The master's writes too: what it commanded, beside what it read.
        for (const MonitorValue &value : transactionValues(t, map)) {
            const LogKind kind = value.read           ? LogKind::Read
                                 : value.station == 0 ? LogKind::Broadcast
                                                      : LogKind::Write;
            if (!m_csv.append(epochMs, value.station, value.label, formatValue(value.raw, *value.type, ValueFormat::Hex),
                              formatValue(value.raw, *value.type, m_options.format), kind)) {
                fail(m_csv.errorString());
                return false;
            }
        }
        if (!m_csv.flush()) {
            fail(m_csv.errorString());
            return false;
        }
    }
    if (t.kind == Transaction::Exchange && ++m_requests == m_options.count)
        m_done = true;
    return true;
}

bool Listener::handle(const QList<HeardFrame> &frames, qint64 nowNs)
{
    QList<Transaction> done;
    for (const HeardFrame &frame : frames) {
        // A reader gone away (| wireshark, closed) is a signal, which ends the listening.
        if (m_pcapOpen && !m_pcap.append(frame.bytes, epochNs(frame.beginNs) / 1000)) {
            if (!interruptSignal())
                fail(m_pcap.errorString());
            return false;
        }
        m_pairer.add(frame, &done);
    }
    if (nowNs >= 0)
        m_pairer.idle(nowNs, &done);
    else
        m_pairer.finish(&done);
    for (const Transaction &t : qAsConst(done)) {
        if (m_done)
            return true;
        if (!show(t)) // a log or standard output that failed ends the listening
            return false;
    }
    return true;
}

// False when the listening failed (the status then is 1).
bool Listener::listen()
{
    const qint64 endNs = m_options.durationS > 0 ? monotonicNs() + qint64(m_options.durationS) * 1000000000 : -1;
    while (!m_done && !interruptSignal()) {
        qint64 deadline = endNs;
        if (const qint64 due = m_pairer.deadlineNs(); due >= 0 && (deadline < 0 || due < deadline))
            deadline = due;
        QList<HeardFrame> frames;
        const LineListener::End end = m_listener->listen(deadline, &frames);
        if (end == LineListener::End::Failed) {
            fail(systemError("waiting on %1", m_options.device));
            return false;
        }
        const qint64 now = monotonicNs();
        if (!handle(frames, now))
            return false;
        if (end == LineListener::End::Lost) {
            fail(QStringLiteral("%1 was closed").arg(m_options.device));
            return false;
        }
        if (endNs >= 0 && now >= endNs)
            break;
    }
    return true;
}

int Listener::run()
{
    if (const int status = open())
        return status;
    const bool pty = isPseudoTerminal(m_fd);
    m_judging = {m_settings.characterTimeNs(), m_settings.silentIntervalNs(), !pty,
                 pty ? m_settings.silentIntervalNs() / 2 : 0};
    m_listener.reset(new LineListener(m_fd, m_settings, pty, interruptWakeFd()));
    m_stats.reset(new MonitorStats(m_judging));
    if (!m_options.timelinePath.isEmpty())
        m_timeline.reset(new MonitorTimeline(m_judging));
    if (!openFiles())
        return 1;
    m_clockOffsetNs = realtimeMinusMonotonicNs();
    if (pty) {
        warn(QStringLiteral("monitor: %1 is a pseudo-terminal: it hands each frame over whole, so gaps "
                            "inside frames are not judged, a frame is taken to end its characters' time "
                            "after it began, and a silence is too short below %2 (its timing jitters)")
                 .arg(m_options.device, ms(m_judging.tooSoonBelowNs())));
    }
    std::printf("monitoring %s, listen-only; Ctrl-C stops\n", qPrintable(lineText(m_options, m_settings)));
    std::fflush(stdout);
    bool ok = listen();
    if (ok && !m_done && !interruptSignal()) {
        QList<HeardFrame> frames;
        m_listener->finish(&frames);
        ok = handle(frames, -1);
    }
    if (m_options.stats) {
        std::printf("statistics (%s)\n", qPrintable(lineText(m_options, m_settings)));
        for (const QString &line : m_stats->table())
            std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }
    if (ok && m_timeline && !interruptSignal()) {
        QString error;
        if (!m_timeline->draw(m_options.timelinePath, lineText(m_options, m_settings), m_clockOffsetNs, &error))
            return fail(error);
        std::printf("%s: timeline of the last %d transactions\n", qPrintable(m_options.timelinePath), m_timeline->size());
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}

bool buildMonitor(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    step->stations = chain->stations;
    step->station = chain->stations.first();
    if (!command.args.isEmpty()) {
        *error = QStringLiteral("monitor takes no arguments: %1").arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    if (options.sim) {
        *error = QStringLiteral("monitor listens to a device (-d), not to the built-in simulated line "
                                "(servosim --tap makes a line to listen to)");
        return false;
    }
    if (!options.stations.isEmpty()) {
        *error = QStringLiteral("monitor hears every station: --station goes with the commands that ask");
        return false;
    }
    if (options.mapPath.isEmpty())
        return true;
    step->paramPath = options.mapPath;
    return readParamFile(options.mapPath, ParamFileKind::Map, &step->params, error);
}

int runMonitor(Session &session, const Step &step)
{
    Listener listener(step, session.options());
    return listener.run();
}

} // namespace

extern const CommandEntry monitorCommand = {
    "monitor",
    Step::Monitor,
    true,
    false,
    false,
    true,
    buildMonitor,
    runMonitor,
    "monitor -d DEVICE",
    "listen to a line through an adapter of its\n"
    "own, never sending: one line per request and\n"
    "answer, timed and judged (see \"Monitoring\"\n"
    "below)"};
