#include "session.h"

#include <cstdio>

#include <poll.h>
#include <unistd.h>

#include <QDateTime>
#include <QVariant>

#include "commandentry.h"
#include "communicatorcommand.h"
#include "driverinterface.h"
#include "drv_dev_setting.h"
#include "csvlog.h"
#include "jsonlines.h"
#include "manualaddress.h"
#include "widecsv.h"
#include "deviceaccess.h"
#include "frametrace.h"
#include "hints.h"
#include "interrupt.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"
#include "stepchecks.h"
#include "storemodel.h"
#include "tcpport.h"
#include "termiosline.h"
#include "watchedport.h"

void warn(const QString &text)
{
    std::fprintf(stderr, "servoctl: %s\n", qPrintable(text));
}

namespace {

QString g_lastFailure;
// How often the path of a lost line is looked for: a stat a quarter second
// costs no CPU worth counting, and the line is back soon after it is.
const int kLostLineLookMs = 250;

} // namespace

QString lastFailureText()
{
    return g_lastFailure;
}

int failure(const QString &context, const QString &text)
{
    g_lastFailure = text;
    std::fprintf(stderr, "servoctl: %s%s%s\n", qPrintable(context), context.isEmpty() ? "" : ": ", qPrintable(text));
    if (const QString hint = openFailureHint(text); !hint.isEmpty())
        std::fprintf(stderr, "servoctl: hint: %s\n", qPrintable(hint));
    return 1;
}

CommunicatorCommand driverCommand(const Step &step)
{
    return CommunicatorCommand(step.type->code, step.count, step.address.text);
}

// A failure the driver reported: its text, then what usually causes it.
int driverFailure(const QString &context, const QString &text, bool modbusTcp, const QString &cost)
{
    failure(context, text);
    if (const QString hint = hintFor(text, modbusTcp); !hint.isEmpty())
        std::fprintf(stderr, "servoctl: hint: %s\n", qPrintable(hint));
    if (!cost.isEmpty())
        std::fprintf(stderr, "servoctl: hint: %s\n", qPrintable(cost));
    return 1;
}

QString uncertainText(int station, const char *what)
{
    return QStringLiteral("the %1 may be a late one for an earlier request that station %2 still "
                          "owed (Modbus RTU cannot tell them apart); raise --timeout")
        .arg(QLatin1String(what))
        .arg(station);
}

QString uncertainEchoText(const char *what)
{
    return QStringLiteral("the %1 may be the line's echo of the request (an adapter with local "
                          "echo?), so the outcome is not known")
        .arg(QLatin1String(what));
}

Session::Session(const Options &options) : m_options(options)
{
}

Session::~Session()
{
    closeLine();
    if (m_jsonFd >= 0)
        ::close(m_jsonFd);
}

void Session::closeLine()
{
    clearLineToRestore();
    if (m_port) {
        m_port->close();
        warnOfLockFolder();
    }
    m_port.reset(); // close the line before its simulator goes
    if (m_simServer)
        m_simServer->stop();
}

int Session::loadDriver(const QString &programDir)
{
    m_pluginPath = m_options.pluginPath.isEmpty() ? DriverLoader::defaultPath(programDir) : m_options.pluginPath;
    m_driver = m_loader.load(m_pluginPath, m_options.entry);
    if (!m_driver)
        return failure(QStringLiteral("cannot load the plug-in %1").arg(m_pluginPath), m_loader.errorString());
    return 0;
}

int Session::openLine(const Step &step)
{
    if (!m_port) {
        if (const int status = startLine())
            return status;
    }
    m_port->setStationId(step.station);
    return 0;
}

int Session::startLine()
{
    LineSettings settings;
    if (!m_options.line) {
        QString error;
        if (!LineSettings::parse(m_driver->getStringBasedDefaultDriverSetting(), &settings, &error))
            return failure(QStringLiteral("the driver's default line settings"), error);
    }
    settings = m_options.lineSettings(settings);
    if (m_options.trace)
        m_trace.reset(new FrameTrace(stderr));

    QString path = m_options.device;
    if (path.isEmpty()) {
        if (const int status = startSimulatedLine(settings))
            return status;
        path = m_simServer->path();
    }

    TcpAddress tcp;
    QString ignored; // a bad tcp:// was refused with the options
    const bool overTcp = isTcpUrl(path) && parseTcpUrl(path, &tcp, &ignored);
    m_port.reset(overTcp ? new TcpPort : new SerialPort);
    if (overTcp && m_options.noLock) {
        static_cast<TcpPort *>(m_port.get())->setLocking(false);
        warn(QStringLiteral("--no-lock: %1 is used without its lock: another master on this machine "
                            "may use the converter's line at the same time")
                 .arg(path));
    }
    m_watched.reset(new WatchedPort(m_port.get(), m_driver, &m_stats));
    std::unique_ptr<DriverSetting> defaults(m_driver->getDefaultDriverSetting());
    m_port->setDriverSetting(*defaults);
    if (m_options.timeout >= 0)
        m_port->setAnswerTimeout(m_options.timeout);
    if (m_options.retries >= 0)
        m_port->setRetryCount(m_options.retries);
    if (m_options.delay >= 0)
        m_port->setFrameDelay(m_options.delay);
    if (m_options.interCharMs >= 0)
        m_port->setInterCharacterFloor(m_options.interCharMs);
    m_port->setTrace(m_trace.get());
    m_port->setInterruptFd(interruptWakeFd());
    m_port->setLocalEcho(m_options.localEcho);
    // Its own simulated line: servoctl knows whether that echoes.
    m_port->setKnownSilent(m_simServer && !m_options.simEcho);
    const bool opened = overTcp ? static_cast<TcpPort *>(m_port.get())->open(tcp, settings) : m_port->open(path, settings);
    if (!opened)
        return failure(QString(), m_port->errorString());
    if (settings.parity != LineSettings::NoParity && isPseudoTerminal(m_port->handle())) {
        LineSettings used = settings;
        used.parity = LineSettings::NoParity;
        std::fprintf(stderr,
                     "servoctl: %s is a pseudo-terminal, which carries no parity: "
                     "the line runs %s\n",
                     qPrintable(path), qPrintable(used.toString()));
    }
    lineOpened();
    return 0;
}

// Set up anew on every open: the driver's option call, and what a second
// signal restores.
void Session::lineOpened()
{
    termios settings;
    if (m_port->savedSettings(&settings))
        setLineToRestore(m_port->handle(), settings);
    warnOfLockFolder();
    m_driver->initialize(m_port.get());
}

// Another user's link or file where the port keeps what the line owes.
void Session::warnOfLockFolder()
{
    for (const QString &warning : m_port->takeWarnings())
        warn(warning + QStringLiteral(": left alone"));
}

QByteArray Session::driverRead(const CommunicatorCommand &command)
{
    const qint64 start = monotonicNs();
    m_watched->beginCall();
    const QByteArray data = m_driver->read(m_watched.get(), command);
    m_watched->endCall();
    m_callNs = monotonicNs() - start;
    return data;
}

bool Session::driverWrite(const CommunicatorCommand &command, const QByteArray &data)
{
    const qint64 start = monotonicNs();
    m_watched->beginCall();
    const bool done = m_driver->write(m_watched.get(), command, data);
    m_watched->endCall();
    m_callNs = monotonicNs() - start;
    return done;
}

int Session::startSimulatedLine(const LineSettings &masterSettings)
{
    // The drives may be set otherwise than servoctl's end of the line.
    const LineSettings settings = m_options.simLine.value_or(masterSettings);
    m_simLine.reset(new SimLine(m_options.simStations));
    m_simLine->setFaults(m_options.simFaults, m_options.simSeed);
    m_simLine->setModel(m_options.simModel, m_options.simSeed);
    m_simServer.reset(new SimServer(m_simLine.get()));
    m_simServer->setPacing(m_options.simPace);
    m_simServer->setEcho(m_options.simEcho);
    if (!m_simServer->openPty(settings) || !m_simServer->start())
        return failure(QStringLiteral("cannot start the simulated line"), m_simServer->errorString());
    QStringList stations;
    for (const int station : m_options.simStations)
        stations.append(QString::number(station));
    const FaultPlan &faults = m_options.simFaults;
    const QString faultText = faults.isEmpty() ? QString() : QStringLiteral(", faults ") + faults.toString();
    const QString modelText = m_options.simModel == DriveModel::Static
                                  ? QString()
                                  : QStringLiteral(", model ") + QLatin1String(driveModelName(m_options.simModel));
    std::fprintf(stderr, "servoctl: simulated drives %s on %s (%s)%s%s\n",
                 qPrintable(stations.join(QLatin1Char(','))), qPrintable(m_simServer->path()),
                 qPrintable(settings.toString()), qPrintable(faultText), qPrintable(modelText));
    if (m_options.simEcho)
        std::fprintf(stderr, "servoctl: the simulated adapter echoes every request back\n");
    return 0;
}

int Session::run(const Step &step, const CommandEntry &command)
{
    // A monitor opens its device itself, read-only.
    if (!command.usesLine || step.action == Step::Monitor)
        return command.run(*this, step);
    if (const int status = openLine(step))
        return status;
    if (const int status = openLog(step))
        return status;
    const int status = command.run(*this, step);
    if (m_trace)
        m_trace->flush();
    return status;
}

// What follows every call of the driver: nothing more after a signal, the
// port's late answers told, a lost line named for what it is, and an echo
// that disagrees with --local-echo said with what to do. kGoOn when the
// command's own outcome decides.
int Session::afterDriverCall(const QString &context, const PortCounters &before)
{
    if (interruptSignal())
        return 0;
    for (const QString &warning : lateAnswerWarnings())
        warn(warning);
    if (m_port->isLost())
        return failure(context, m_port->errorString());
    if (m_port->echoFault() != EchoFault::None)
        return failure(QString(), echoFaultText());
    if (const QString garbled = garbledWarning(before); !garbled.isEmpty())
        warn(garbled);
    return kGoOn;
}

// The whole outcome of a driver call that should have been answered: the
// line's events, the driver's failure with its hint, or an answer that may
// be another request's (never shown as if it were this one's). kGoOn when
// it went well.
int Session::callOutcome(const QString &context, const PortCounters &before, bool done, int station, const char *what)
{
    if (const int status = afterDriverCall(context, before); status != kGoOn)
        return status;
    if (m_driver->hasError() || !done) {
        const QString text = failureText();
        const qint64 requests = m_port->counters().requests - before.requests;
        const QString cost = costHint(text, m_callNs, requests, m_port->retryCount(), m_port->answerTimeout());
        return driverFailure(context, text, isModbusTcpUrl(m_options.device), cost);
    }
    if (m_port->counters().uncertainAnswers > before.uncertainAnswers)
        return failure(context, uncertainText(station, what));
    if (m_port->counters().uncertainEchoes > before.uncertainEchoes)
        return failure(context, uncertainEchoText(what));
    return kGoOn;
}

QString Session::echoFaultText() const
{
    const char *hint = m_port->echoFault() == EchoFault::Unexpected ? "try --local-echo" : "leave out --local-echo";
    return QStringLiteral("%1: %2").arg(m_port->errorString(), QLatin1String(hint));
}

// A request the line garbled on the way out, when the command's own
// failure does not already say so: a retry went through, or the last
// attempt failed otherwise.
QString Session::garbledWarning(const PortCounters &before) const
{
    if (m_port->counters().garbledEchoes == before.garbledEchoes || (m_driver->hasError() && m_port->echoGarbled())) {
        return QString();
    }
    return m_port->lastGarbledEcho();
}

// The driver's text, or what the line did that explains it better: a
// garbled request, or bytes that never let the answer end.
QString Session::failureText() const
{
    if (m_port->echoGarbled())
        return m_port->lastGarbledEcho();
    return m_port->neverSilent() ? m_port->lastNeverSilent() : m_driver->getLastError();
}

void Session::lookForAnswersTooMany()
{
    if (!m_port || interruptSignal())
        return;
    m_port->listenForAnswersTooMany();
    for (const QString &warning : lateAnswerWarnings())
        warn(warning);
}

// The late answers the port dropped since the last call, as lines for the
// user: each station's latest lateness when it grows, and once a station
// that sent an answer nothing awaited.
QStringList Session::lateAnswerWarnings()
{
    QStringList warnings;
    // Not late answers: another drive answered the station asked.
    for (const OtherStationAnswer &other : m_port->takeOtherStationAnswers()) {
        if (other.askedStation < 0) {
            if (!m_reportedUnasked.contains(other.station)) {
                m_reportedUnasked.insert(other.station);
                warnings.append(QStringLiteral("station %1 sent an answer that no request awaited "
                                               "(a late answer, or another master on the line)")
                                    .arg(other.station));
            }
            continue;
        }
        m_stats.addOtherStation(other.askedStation, other.station);
        const QPair<int, int> pair(other.askedStation, other.station);
        if (m_reportedOthers.contains(pair))
            continue;
        m_reportedOthers.insert(pair);
        warnings.append(QStringLiteral("station %1 answered a request to station %2 (another drive "
                                       "answered: check the station numbers and the wiring)")
                            .arg(other.station)
                            .arg(other.askedStation));
    }
    for (const LateAnswer &late : m_port->takeLateAnswers()) {
        if (late.latenessNs < 0) {
            m_stats.addLate(late.station);
            if (late.doubtsLastAnswer) {
                // It fits the request the station answered last: that
                // answer may have been the one before, sent again.
                m_answerInDoubt = true;
                m_reportedUnasked.insert(late.station);
                warnings.append(QStringLiteral("station %1 sent an answer too many: what was read from it "
                                               "may belong to earlier requests (a drive or converter that "
                                               "answers twice, or another master on the line)")
                                    .arg(late.station));
                continue;
            }
            if (!m_reportedUnasked.contains(late.station)) {
                m_reportedUnasked.insert(late.station);
                warnings.append(QStringLiteral("station %1 sent an answer that no request awaited "
                                               "(a late answer, or another master on the line)")
                                    .arg(late.station));
            }
            continue;
        }
        const qint64 ms = (late.latenessNs + 999999) / 1000000;
        m_stats.addLate(late.station);
        if (ms <= m_reportedLateMs.value(late.station, 0))
            continue;
        m_reportedLateMs.insert(late.station, ms);
        warnings.append(QStringLiteral("station %1 answered %2 ms after its request; raise "
                                       "--timeout (now %3 ms)")
                            .arg(late.station)
                            .arg(ms)
                            .arg(m_port->answerTimeout()));
    }
    return warnings;
}

// The device went away (a USB adapter pulled out): waits, without polling
// the line, until the same path can be opened again. False on a signal.
bool Session::waitForLineBack()
{
    QString said; // why the path, once back, cannot be opened: said once each
    for (;;) {
        if (interruptSignal())
            return false;
        if (tryLineBack(&said))
            return true;
        pollfd pfd = {interruptWakeFd(), POLLIN, 0};
        ::poll(&pfd, 1, kLostLineLookMs);
    }
}

bool Session::tryLineBack(QString *said)
{
    clearLineToRestore();
    m_port->close();
    // A TCP line is back when it takes a connection again.
    const TcpPort *tcp = dynamic_cast<const TcpPort *>(m_port.get());
    if (!tcp && access(m_options.device.toLocal8Bit().constData(), F_OK) != 0)
        return false;
    if (m_port->reopen()) {
        lineOpened();
        return true;
    }
    if (!(tcp && tcp->isAbsent()) && m_port->errorString() != *said) {
        *said = m_port->errorString();
        warn(QStringLiteral("%1 is back but cannot be taken up: %2; waiting").arg(m_options.device, *said));
    }
    return false;
}
