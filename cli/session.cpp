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

int failure(const QString &context, const QString &text, int status = 1)
{
    std::fprintf(stderr, "servoctl: %s%s%s\n", qPrintable(context), context.isEmpty() ? "" : ": ",
                 qPrintable(text));
    return status;
}

int misuse(const QString &text)
{
    return failure(QString(), text + QStringLiteral(" (see servoctl --help)"), 2);
}

// ADDRESS [TYPE] [COUNT] [FORMAT], the last three in any order.
struct Target
{
    QString address;
    const DataType *type = nullptr;
    int count = 1;
    ValueFormat format = ValueFormat::Decimal;
};

bool parseTarget(const QStringList &args, ValueFormat defaultFormat, Target *target, QString *error)
{
    if (args.isEmpty()) {
        *error = QStringLiteral("an address is needed, such as HR100");
        return false;
    }
    target->address = args[0];
    target->type = dataTypeByName(QStringLiteral("word"));
    target->format = defaultFormat;
    for (const QString &arg : args.mid(1)) {
        bool isNumber = false;
        const int number = arg.toInt(&isNumber);
        if (const DataType *type = dataTypeByName(arg))
            target->type = type;
        else if (parseValueFormat(arg, &target->format))
            continue;
        else if (isNumber)
            target->count = number;
        else {
            *error = QStringLiteral("not a data type, count or format: %1").arg(arg);
            return false;
        }
    }
    return true;
}

QStringList describeItems(const Target &target, const QByteArray &data)
{
    QStringList lines;
    int shown = 0;
    for (int i = 0; i < target.count; ++i) {
        quint64 value = 0;
        if (!itemAt(data, *target.type, i, &value))
            break;
        lines.append(QStringLiteral("%1 = %2").arg(itemLabel(target.address, *target.type, i),
                                                   formatValue(value, *target.type, target.format)));
        ++shown;
    }
    if (shown < target.count) {
        lines.append(QStringLiteral("(the driver returned %1 bytes: %2 of %3 items)")
                         .arg(data.size()).arg(shown).arg(target.count));
    }
    return lines;
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

int Session::openLine()
{
    if (m_port)
        return 0;
    const QString lineText = m_options.line.isEmpty() ? m_driver->getStringBasedDefaultDriverSetting()
                                                      : m_options.line;
    LineSettings settings;
    QString error;
    if (!LineSettings::parse(lineText, &settings, &error))
        return misuse(error);
    if (m_options.trace)
        m_trace.reset(new FrameTrace(stderr));

    QString path = m_options.device;
    if (path.isEmpty()) {
        QList<int> stations;
        FaultPlan faults;
        if (!SimLine::parseStations(m_options.simStations, &stations, &error)
            || !FaultPlan::parse(m_options.simFaults, &faults, &error)) {
            return misuse(error);
        }
        m_simLine.reset(new SimLine(stations));
        m_simLine->setFaults(faults, m_options.simSeed);
        m_simServer.reset(new SimServer(m_simLine.get()));
        m_simServer->setPacing(m_options.simPace);
        if (!m_simServer->openPty(settings) || !m_simServer->start())
            return failure(QStringLiteral("cannot start the simulated line"), m_simServer->errorString());
        path = m_simServer->path();
        std::fprintf(stderr, "servoctl: simulated drives %s on %s (%s)%s\n",
                     qPrintable(m_options.simStations), qPrintable(path), qPrintable(lineText),
                     faults.isEmpty() ? "" : qPrintable(QStringLiteral(", faults ") + faults.toString()));
    }

    m_port.reset(new SerialPort);
    std::unique_ptr<DriverSetting> defaults(m_driver->getDefaultDriverSetting());
    m_port->setDriverSetting(*defaults);
    if (m_options.timeout >= 0)
        m_port->setAnswerTimeout(m_options.timeout);
    if (m_options.retries >= 0)
        m_port->setRetryCount(m_options.retries);
    if (m_options.station >= 0)
        m_port->setStationId(m_options.station);
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

int Session::run(const Command &command)
{
    if (command.name == QLatin1String("info")) {
        if (!command.args.isEmpty())
            return misuse(QStringLiteral("info takes no arguments"));
        return info();
    }
    if (command.name == QLatin1String("station")) {
        bool ok = false;
        const int station = command.args.value(0).toInt(&ok);
        if (command.args.size() != 1 || !ok || station < 0)
            return misuse(QStringLiteral("station takes one station number"));
        m_options.station = station;
        if (m_port)
            m_port->setStationId(station);
        return 0;
    }
    using Handler = int (Session::*)(const QStringList &);
    Handler handler = nullptr;
    if (command.name == QLatin1String("read"))
        handler = &Session::read;
    else if (command.name == QLatin1String("write"))
        handler = &Session::write;
    else if (command.name == QLatin1String("poll"))
        handler = &Session::poll;
    else
        return misuse(QStringLiteral("unknown command: %1").arg(command.name));
    const int status = (this->*handler)(command.args);
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

int Session::read(const QStringList &args)
{
    Target target;
    QString error;
    if (!parseTarget(args, m_options.format, &target, &error))
        return misuse(QStringLiteral("read: ") + error);
    if (const int status = openLine())
        return status;
    const CommunicatorCommand cmd(target.type->code, target.count, target.address);
    const QByteArray data = m_driver->read(m_port.get(), cmd);
    if (m_driver->hasError())
        return failure(QStringLiteral("read %1").arg(target.address), m_driver->getLastError());
    if (m_trace)
        m_trace->flush();
    for (const QString &line : describeItems(target, data))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return 0;
}

int Session::write(const QStringList &args)
{
    if (args.size() < 3)
        return misuse(QStringLiteral("write needs an address, a data type and values"));
    const DataType *type = dataTypeByName(args[1]);
    if (!type) {
        return misuse(QStringLiteral("write: unknown data type: %1 (one of %2)")
                          .arg(args[1], dataTypeNames().join(QStringLiteral(", "))));
    }
    QByteArray data;
    QString error;
    if (!encodeValues(args.mid(2), *type, &data, &error))
        return misuse(QStringLiteral("write: ") + error);
    if (const int status = openLine())
        return status;
    const int count = args.size() - 2;
    const CommunicatorCommand cmd(type->code, count, args[0]);
    const bool done = m_driver->write(m_port.get(), cmd, data);
    if (m_driver->hasError() || !done)
        return failure(QStringLiteral("write %1").arg(args[0]), m_driver->getLastError());
    if (m_trace)
        m_trace->flush();
    std::printf("%s: wrote %d %s\n", qPrintable(args[0]), count,
                count == 1 ? type->name : type->plural);
    std::fflush(stdout);
    return 0;
}

int Session::poll(const QStringList &args)
{
    Target target;
    QString error;
    if (!parseTarget(args, m_options.format, &target, &error))
        return misuse(QStringLiteral("poll: ") + error);
    if (const int status = openLine())
        return status;
    if (g_wakePipe[0] < 0 && pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return failure(QStringLiteral("poll"), QStringLiteral("cannot make a pipe"));
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const bool live = isatty(STDOUT_FILENO) && !m_trace;
    const CommunicatorCommand cmd(target.type->code, target.count, target.address);
    std::printf("polling %s (%d %s) every %d ms; Ctrl-C stops\n", qPrintable(target.address),
                target.count, target.count == 1 ? target.type->name : target.type->plural,
                m_options.intervalMs);
    int shownLines = 0;
    int polls = 0;
    int ok = 0;
    bool lastFailed = false;
    const qint64 intervalNs = qint64(qMax(m_options.intervalMs, 0)) * 1000000;
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
            lines += describeItems(target, data);
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
        return failure(QStringLiteral("poll %1").arg(target.address), m_driver->getLastError());
    return 0;
}
