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
#include <sys/prctl.h>

#include <cstdio>
#include <memory>
#include <random>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "countingport.h"
#include "drivertexts.h"
#include "driverinterface.h"
#include "faultplan.h"
#include "plugindriver.h"
#include "frametrace.h"
#include "ptylink.h"
#include "sharedfile.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"
#include "soakcommands.h"
#include "soakoptions.h"
#include "soakreport.h"
#include "soakverify.h"
#include "stationlist.h"
#include "termiosline.h"
#include "unplugger.h"

namespace {

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

// What one command did, as the tally counts it.
struct Outcome
{
    int retries = 0;
    bool unplug = false;
    bool good = false;
    bool firstFailed = false;
    bool uncertain = false;
    bool lost = false;
    bool late = false;
    qint64 requests = 0;
};

// The simulated drives, the line to them, the port and the driver of one
// run, and what the run counted.
class SoakRun
{
public:
    SoakRun(const SoakOptions &o, const FaultPlan &plan, const QList<int> &stations);

    // Each false with the one line to print (exit status 2).
    bool openTrace(QString *error);
    bool openLine(QString *error);
    bool loadDriver(QString *error);
    bool setUpStore(QString *error);
    bool run(QString *error);
    bool report() const { return printReport(m_options, m_plan, m_tally); }

private:
    bool runCommand(qint64 n, QString *error);
    QByteArray send(const SoakCommand &c, qint64 n, int retries);
    void countResult(const SoakCommand &c, qint64 n, const QByteArray &result, const Outcome &outcome);
    bool takeLineUpAgain(QString *error);
    void countRetries(const SoakCommand &c, const Outcome &outcome);

    const SoakOptions m_options;
    const FaultPlan m_plan;
    // Destroyed after the server and the port that write to them.
    std::unique_ptr<FILE, int (*)(FILE *)> m_traceFile{nullptr, &std::fclose};
    std::unique_ptr<FrameTrace> m_portTrace, m_lineTrace;
    SimLine m_line;
    SimServer m_server;
    // The port opens the line by a link, as a USB adapter's fixed name, so
    // that it can take the line up again after the adapter was pulled out.
    const QTemporaryDir m_linkDir;
    PtyLink m_link;
    SerialPort m_serial;
    Unplugger m_unplugger;
    CountingPort m_port;
    PluginDriver m_plugin;
    DriverInterface *m_driver = nullptr;
    SoakCommandMix m_mix;
    std::mt19937_64 m_retryRandom;
    std::mt19937_64 m_unplugRandom;
    StoreModel m_store;
    SoakTally m_tally;
};

SoakRun::SoakRun(const SoakOptions &o, const FaultPlan &plan, const QList<int> &stations)
    : m_options(o)
    , m_plan(plan)
    , m_line(stations)
    , m_server(&m_line)
    , m_link(m_linkDir.filePath(QStringLiteral("ttySOAK")))
    , m_unplugger(&m_server, &m_link)
    , m_port(&m_serial)
    , m_mix(m_line.stations(), o.seed)
    , m_retryRandom(o.seed ^ 0x5EEDULL)
    , m_unplugRandom(o.seed ^ 0xAD0ULL)
{
    m_line.setFaults(plan, o.seed);
}

bool SoakRun::openTrace(QString *error)
{
    if (m_options.trace.isEmpty())
        return true;
    QString refusal;
    m_traceFile.reset(rewriteOwnFile(QFile::encodeName(m_options.trace), &refusal));
    if (!m_traceFile) {
        *error = refusal.isEmpty() ? QStringLiteral("cannot write %1").arg(m_options.trace)
                                   : QStringLiteral("not writing the trace: ") + refusal;
        return false;
    }
    FILE *traceFile = m_traceFile.get();
    const auto sink = [traceFile](const char *side) {
        return
            [traceFile, side](const QString &text) { std::fprintf(traceFile, "%s %s\n", side, qPrintable(text)); };
    };
    m_portTrace.reset(new FrameTrace(sink("port")));
    m_lineTrace.reset(new FrameTrace(sink("line")));
    m_server.setTrace(m_lineTrace.get());
    return true;
}

bool SoakRun::openLine(QString *error)
{
    LineSettings settings;
    if (!LineSettings::parse(QStringLiteral("RS485,115200,NONE,8,2"), &settings, error) || !m_server.openPty(settings)
        || !m_server.start() || !m_link.make(m_server.path()) || !m_serial.open(m_link.path(), settings)) {
        *error = QStringLiteral("cannot set up the line: ") + *error + m_server.errorString()
                 + m_link.errorString() + m_serial.errorString();
        return false;
    }
    m_serial.setAnswerTimeout(m_options.timeoutMs);
    m_serial.setInterCharacterFloor(qMax(1, m_options.timeoutMs / 5));
    m_serial.setFrameDelay(0);
    m_serial.setTrace(m_portTrace.get());
    return true;
}

bool SoakRun::loadDriver(QString *error)
{
    m_driver = m_plugin.get();
    if (!m_driver) {
        *error = QStringLiteral("cannot load the plug-in: ") + m_plugin.errorString();
        return false;
    }
    m_driver->initialize(&m_port);
    return true;
}

// The station list and read-back station, written until it holds.
bool SoakRun::setUpStore(QString *error)
{
    const SoakCommand setUp = m_mix.setUpStore();
    m_serial.setRetryCount(10);
    if (!m_driver->write(&m_port, setUp.cmd, setUp.data)) {
        *error = QStringLiteral("cannot set up the special word store: ") + m_driver->getLastError();
        return false;
    }
    QString ignored;
    verifyGood(setUp, QByteArray(), m_line, m_store, &ignored);
    return true;
}

bool SoakRun::run(QString *error)
{
    const qint64 startNs = monotonicNs();
    m_tally.startStats = m_line.stats();
    for (qint64 n = 0; n < m_options.commands; ++n) {
        if (!runCommand(n, error))
            return false;
        if ((n + 1) % qMax<qint64>(1, m_options.commands / 10) == 0)
            sampleMemory(&m_tally);
    }
    m_tally.seconds = double(monotonicNs() - startNs) / 1e9;
    m_tally.endStats = m_line.stats();
    m_serial.close();
    m_server.stop();
    m_traceFile.reset();
    m_tally.counters = m_serial.counters();
    return true;
}

bool SoakRun::runCommand(qint64 n, QString *error)
{
    const SoakCommand c = m_options.lookAlike ? m_mix.nextLookAlike() : m_mix.next(m_line);
    Outcome outcome;
    outcome.retries = m_options.minRetries
                      + int(m_retryRandom() % quint64(m_options.maxRetries - m_options.minRetries + 1));
    m_serial.setRetryCount(outcome.retries);
    m_serial.setStationId(c.station);
    const qint64 failedBefore = m_port.failedAttempts;
    const qint64 requestsBefore = m_port.requests;
    const qint64 uncertainBefore = m_serial.counters().uncertainAnswers;
    const qint64 lateBefore = m_line.stats().faults[FaultPlan::Late];
    outcome.unplug = double(m_unplugRandom() >> 11) * 0x1p-53 < m_options.unplugRate;
    if (outcome.unplug) {
        ++m_tally.unplugs;
        m_unplugger.schedule(int(m_unplugRandom() % 3000), m_options.replugMs);
    }

    const QByteArray result = send(c, n, outcome.retries);
    outcome.good = !m_driver->hasError();
    outcome.firstFailed = m_port.failedAttempts - failedBefore > 0;
    outcome.uncertain = m_serial.counters().uncertainAnswers > uncertainBefore;
    if (outcome.unplug && !m_unplugger.waitPluggedIn()) {
        *error = QStringLiteral("cannot plug the line back in: ") + m_server.errorString() + m_link.errorString();
        return false;
    }
    outcome.lost = m_serial.isLost();
    for (const LateAnswer &lateAnswer : m_serial.takeLateAnswers())
        m_tally.longestLateNs = qMax(m_tally.longestLateNs, lateAnswer.latenessNs);
    outcome.late = m_plan.lateMs > m_options.timeoutMs && m_line.stats().faults[FaultPlan::Late] > lateBefore;
    outcome.requests = m_port.requests - requestsBefore;

    countResult(c, n, result, outcome);
    if (outcome.lost && !takeLineUpAgain(error))
        return false;
    countRetries(c, outcome);
    return true;
}

// The command through the driver; a read's data.
QByteArray SoakRun::send(const SoakCommand &c, qint64 n, int retries)
{
    if (m_traceFile)
        std::fprintf(m_traceFile.get(), "== %lld %s %s count %d station %d retries %d\n", n, soakKindName(c.kind),
                     qPrintable(c.cmd.address), c.cmd.count, c.station, retries);
    QByteArray result;
    if (c.write)
        m_driver->write(&m_port, c.cmd, c.data);
    else
        result = m_driver->read(&m_port, c.cmd);
    return result;
}

void SoakRun::countResult(const SoakCommand &c, qint64 n, const QByteArray &result, const Outcome &outcome)
{
    KindStats &k = m_tally.kinds[int(c.kind)];
    ++k.commands;
    k.requests += outcome.requests;
    k.firstFailed += outcome.firstFailed;
    if (outcome.good) {
        ++k.good;
        k.recovered += outcome.firstFailed;
        m_tally.flagged += outcome.uncertain;
        QString difference;
        if (!verifyGood(c, result, m_line, m_store, &difference)) {
            if (outcome.uncertain)
                ++m_tally.flaggedWrong; // the port said it could not tell
            else if (++m_tally.wrongData <= 20)
                std::printf("WRONG DATA accepted by command %lld: %s %s count %d station %d: %s\n", n,
                            soakKindName(c.kind), qPrintable(c.cmd.address), c.cmd.count, c.station,
                            qPrintable(difference));
        }
        return;
    }
    ++k.failed;
    const QString text = m_driver->getLastError();
    if (!drivertexts::isDefinedFailure(text, c.cmd, c.station, c.write)) {
        if (++m_tally.undefinedTexts <= 20)
            std::printf("UNDEFINED failure text: %s\n", qPrintable(text));
    }
    const QString tail = drivertexts::description(c.cmd, c.station, c.write);
    ++m_tally.failureTexts[tail.isNull() ? text : text.chopped(tail.size())];
}

// As servoctl does: the same path again, the driver set up anew.
bool SoakRun::takeLineUpAgain(QString *error)
{
    ++m_tally.linesLost;
    if (!m_serial.reopen()) {
        *error = QStringLiteral("cannot take the line up again: ") + m_serial.errorString();
        return false;
    }
    m_driver->initialize(&m_port);
    ++m_tally.recovered;
    return true;
}

void SoakRun::countRetries(const SoakCommand &c, const Outcome &outcome)
{
    RetryStats *r = nullptr;
    if (outcome.late)
        r = &m_tally.metLate;
    else if (singleExchange(c) && !outcome.unplug && !outcome.lost)
        r = &m_tally.byRetries[outcome.retries];
    if (!r)
        return;
    ++r->commands;
    r->firstFailed += outcome.firstFailed;
    r->failed += !outcome.good;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The port sleeps to keep the line's silent interval; the default timer
    // slack would add tens of microseconds to each of those sleeps.
    prctl(PR_SET_TIMERSLACK, 1);

    SoakOptions o;
    QString error;
    FaultPlan plan;
    QList<int> stationList;
    if (!parseSoakOptions(app.arguments(), &o, &error) || !FaultPlan::parse(o.faults, &plan, &error)
        || !parseStationList(o.stations, 1, 247, &stationList, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    SoakRun soak(o, plan, stationList);
    if (!soak.openTrace(&error) || !soak.openLine(&error) || !soak.loadDriver(&error) || !soak.setUpStore(&error)
        || !soak.run(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    return soak.report() ? 0 : 1;
}
