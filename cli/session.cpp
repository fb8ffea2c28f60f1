#include "session.h"

#include <csignal>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QVariant>

#include "communicatorcommand.h"
#include "driverinterface.h"
#include "drv_dev_setting.h"
#include "faultplan.h"
#include "frametrace.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"
#include "termiosline.h"

namespace {

int g_wakePipe[2] = {-1, -1};
volatile sig_atomic_t g_interrupted = 0;

void onInterrupt(int)
{
    g_interrupted = 1;
    const char byte = 0;
    ssize_t ignored = ::write(g_wakePipe[1], &byte, 1);
    (void)ignored;
}

int failure(const QString &context, const QString &text)
{
    std::fprintf(stderr, "servoctl: %s%s%s\n", qPrintable(context), context.isEmpty() ? "" : ": ",
                 qPrintable(text));
    return 1;
}

QStringList describeItems(const Step &step, const QByteArray &data)
{
    QStringList lines;
    int shown = 0;
    for (int i = 0; i < step.count; ++i) {
        quint64 value = 0;
        if (!itemAt(data, *step.type, i, &value))
            break;
        lines.append(QStringLiteral("%1 = %2").arg(step.address.itemLabel(*step.type, i),
                                                   formatValue(value, *step.type, step.format)));
        ++shown;
    }
    if (shown < step.count) {
        lines.append(QStringLiteral("(the driver returned %1 bytes: %2 of %3 items)")
                         .arg(data.size()).arg(shown).arg(step.count));
    }
    return lines;
}

CommunicatorCommand driverCommand(const Step &step)
{
    return CommunicatorCommand(step.type->code, step.count, step.address.text);
}

QString clockText()
{
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return QLatin1String(text);
}

} // namespace

Session::Session(const Options &options)
    : m_options(options)
{
}

Session::~Session()
{
    m_port.reset(); // close the line before its simulator goes
    if (m_simServer)
        m_simServer->stop();
}

int Session::loadDriver(const QString &programDir)
{
    const QString path = m_options.pluginPath.isEmpty() ? DriverLoader::defaultPath(programDir)
                                                        : m_options.pluginPath;
    m_driver = m_loader.load(path, m_options.entry);
    if (!m_driver)
        return failure(QStringLiteral("cannot load the plug-in"), m_loader.errorString());
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
    if (m_options.line) {
        settings = *m_options.line;
    } else {
        QString error;
        if (!LineSettings::parse(m_driver->getStringBasedDefaultDriverSetting(), &settings, &error))
            return failure(QStringLiteral("the driver's default line settings"), error);
    }
    if (m_options.trace)
        m_trace.reset(new FrameTrace(stderr));

    QString path = m_options.device;
    if (path.isEmpty()) {
        if (const int status = startSimulatedLine(settings))
            return status;
        path = m_simServer->path();
    }

    m_port.reset(new SerialPort);
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
    if (!m_port->open(path, settings))
        return failure(QString(), m_port->errorString());
    m_driver->initialize(m_port.get());
    return 0;
}

int Session::startSimulatedLine(const LineSettings &settings)
{
    m_simLine.reset(new SimLine(m_options.simStations));
    m_simLine->setFaults(m_options.simFaults, m_options.simSeed);
    m_simServer.reset(new SimServer(m_simLine.get()));
    m_simServer->setPacing(m_options.simPace);
    if (!m_simServer->openPty(settings) || !m_simServer->start())
        return failure(QStringLiteral("cannot start the simulated line"), m_simServer->errorString());
    QStringList stations;
    for (const int station : m_options.simStations)
        stations.append(QString::number(station));
    const FaultPlan &faults = m_options.simFaults;
    const QString faultText = faults.isEmpty() ? QString() : QStringLiteral(", faults ") + faults.toString();
    std::fprintf(stderr, "servoctl: simulated drives %s on %s (%s)%s\n",
                 qPrintable(stations.join(QLatin1Char(','))), qPrintable(m_simServer->path()),
                 qPrintable(settings.toString()), qPrintable(faultText));
    return 0;
}

int Session::run(const Step &step)
{
    using Handler = int (Session::*)(const Step &);
    Handler handler = nullptr;
    switch (step.action) {
    case Step::Info:
        return info();
    case Step::Station: // each later step carries the station
        return 0;
    case Step::Read:
        handler = &Session::read;
        break;
    case Step::Write:
        handler = &Session::write;
        break;
    case Step::Poll:
        handler = &Session::poll;
        break;
    }
    if (const int status = openLine(step))
        return status;
    const int status = (this->*handler)(step);
    if (m_trace)
        m_trace->flush();
    return status;
}

int Session::info()
{
    std::unique_ptr<DeviceSetting> port(m_driver->getDefaultSerialDeviceSetting());
    std::unique_ptr<DriverSetting> setting(m_driver->getDefaultDriverSetting());
    std::printf("driver:        %s\n", qPrintable(m_driver->name()));
    std::printf("vendor:        %s\n", qPrintable(m_driver->vender()));
    std::printf("version:       %s\n", qPrintable(m_driver->getVersionNumber()));
    std::printf("entry point:   %s\n",
                m_options.entry == DriverLoader::QtPlugin ? "Qt plug-in instance" : "CreateDriver");
    std::printf("block limits:  %d registers, %d bits per request\n",
                m_driver->getBlockAccessSize(), m_driver->getBitBlockAccessSize());
    std::printf("flags:         0x%02X\n", m_driver->supportedCommunicationFlags());
    std::printf("line:          %s\n", qPrintable(m_driver->getStringBasedDefaultDriverSetting()));
    std::printf("default port:  %s, %d baud, %d data bits, stop bits code %d, parity code %d\n",
                qPrintable(port->string), port->baudrate, port->databits, port->stopbits,
                port->parity);
    std::printf("protocol:      time-out %d ms, %d retries, station %d, delay %d ms\n",
                setting->timeout, setting->retry, setting->stationid, setting->delay);
    return 0;
}

int Session::read(const Step &step)
{
    const QByteArray data = m_driver->read(m_port.get(), driverCommand(step));
    if (m_driver->hasError())
        return failure(QStringLiteral("read %1").arg(step.address.text), m_driver->getLastError());
    if (m_trace)
        m_trace->flush();
    for (const QString &line : describeItems(step, data))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return 0;
}

int Session::write(const Step &step)
{
    const bool done = m_driver->write(m_port.get(), driverCommand(step), step.data);
    if (m_driver->hasError() || !done)
        return failure(QStringLiteral("write %1").arg(step.address.text), m_driver->getLastError());
    if (m_trace)
        m_trace->flush();
    std::printf("%s: wrote %d %s\n", qPrintable(step.address.text), step.count,
                step.count == 1 ? step.type->name : step.type->plural);
    std::fflush(stdout);
    return 0;
}

int Session::poll(const Step &step)
{
    if (g_wakePipe[0] < 0 && pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return failure(QStringLiteral("poll"), QStringLiteral("cannot make a pipe"));
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const bool live = isatty(STDOUT_FILENO) && !m_trace;
    const CommunicatorCommand cmd = driverCommand(step);
    std::printf("polling %s (%d %s) every %d ms; Ctrl-C stops\n", qPrintable(step.address.text),
                step.count, step.count == 1 ? step.type->name : step.type->plural,
                m_options.intervalMs);
    int shownLines = 0;
    int polls = 0;
    int ok = 0;
    bool lastFailed = false;
    const qint64 intervalNs = qint64(m_options.intervalMs) * 1000000;
    qint64 next = monotonicNs();
    while (!g_interrupted) {
        const QByteArray data = m_driver->read(m_port.get(), cmd);
        lastFailed = m_driver->hasError();
        ++polls;
        ok += lastFailed ? 0 : 1;
        if (m_trace)
            m_trace->flush();
        QStringList lines;
        lines.append(QStringLiteral("%1  poll %2, %3 good").arg(clockText()).arg(polls).arg(ok));
        if (lastFailed)
            lines.append(QStringLiteral("error: ") + m_driver->getLastError());
        else
            lines += describeItems(step, data);
        if (live && shownLines)
            std::printf("\033[%dA", shownLines);
        for (const QString &line : lines)
            std::printf(live ? "\033[K%s\n" : "%s\n", qPrintable(line));
        if (live) {
            for (int i = lines.size(); i < shownLines; ++i)
                std::printf("\033[K\n");
            shownLines = qMax(shownLines, lines.size());
        }
        std::fflush(stdout);
        if (m_options.polls > 0 && polls >= m_options.polls)
            break;
        next += intervalNs;
        for (qint64 remaining; !g_interrupted && (remaining = next - monotonicNs()) > 0;) {
            pollfd pfd = {g_wakePipe[0], POLLIN, 0};
            const timespec ts = {time_t(remaining / 1000000000), long(remaining % 1000000000)};
            ppoll(&pfd, 1, &ts, nullptr);
        }
    }
    std::printf("%d polls, %d good\n", polls, ok);
    if (lastFailed)
        return failure(QStringLiteral("poll %1").arg(step.address.text), m_driver->getLastError());
    return 0;
}
