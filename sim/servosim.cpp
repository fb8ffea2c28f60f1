// servosim: simulated TECO servo drives on one Modbus RTU line, served on a
// pseudo-terminal or a serial device, for trying the driver without drives.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "deviceaccess.h"
#include "drivemodel.h"
#include "frametrace.h"
#include "loadedvalues.h"
#include "ptylink.h"
#include "simline.h"
#include "simserver.h"
#include "servosimoptions.h"
#include "simtap.h"
#include "stationlist.h"

namespace {

std::atomic<SimServer *> g_server{nullptr};
static_assert(std::atomic<SimServer *>::is_always_lock_free, "read in a signal handler");

// Async-signal-safe: requestStop() only sets an atomic flag and writes to a
// pipe. errno is kept for the code the signal interrupted.
void onSignal(int)
{
    const int savedErrno = errno;
    if (SimServer *server = g_server.load())
        server->requestStop();
    errno = savedErrno;
}

// While it lives, SIGINT, SIGTERM and SIGHUP ask the server to stop.
class StopOnSignals
{
public:
    explicit StopOnSignals(SimServer *server)
    {
        g_server.store(server);
        struct sigaction action = {};
        action.sa_handler = onSignal;
        for (const int number : {SIGINT, SIGTERM, SIGHUP})
            sigaction(number, &action, nullptr);
    }
    ~StopOnSignals() { g_server.store(nullptr); }

    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;
};

int fail(const QString &text)
{
    std::fprintf(stderr, "servosim: %s\n", qPrintable(text));
    if (const QString hint = openFailureHint(text); !hint.isEmpty())
        std::fprintf(stderr, "servosim: hint: %s\n", qPrintable(hint));
    return 2;
}

void printStats(const SimStats &s, qint64 echoed)
{
    std::fprintf(stderr,
                 "servosim: %lld requests, %lld answered, %lld broadcasts, "
                 "%lld for other stations, %lld bad frames, %lld exceptions",
                 s.frames, s.answered, s.broadcasts, s.otherStations, s.badFrames, s.exceptions);
    if (s.otherBaud)
        std::fprintf(stderr, ", %lld at another baud rate", s.otherBaud);
    if (echoed)
        std::fprintf(stderr, ", %lld echoed", echoed);
    // Injected faults by their --faults names, apart from what the drives
    // themselves answered ("exception 11" beside "0 exceptions").
    const char *separator = "; injected: ";
    for (int kind = FaultPlan::Drop; kind < FaultPlan::KindCount; ++kind) {
        if (s.faults[kind]) {
            std::fprintf(stderr, "%s%s %lld", separator, FaultPlan::name(FaultPlan::Kind(kind)), s.faults[kind]);
            separator = ", ";
        }
    }
    std::fprintf(stderr, "\n");
}

// The command line, checked whole before anything is opened.
struct SimSettings
{
    QList<int> stations;
    LineSettings lineSettings;
    FaultPlan faults;
    quint64 seed = 0;
    DriveModel model = DriveModel::Static;
    SimAreaSizes sizes;
    TcpAddress tcp;      // port -1: no --tcp
    LoadedValues loaded; // no path: no --load
};

// Empty when the arguments go together, else what is wrong.
QString argumentsError(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
    // Each option once, as servoctl takes them: of two, neither is surely meant.
    QStringList given;
    for (const QString &name : parser.optionNames()) {
        if (given.contains(name))
            return QStringLiteral("--%1 given twice").arg(name);
        given.append(name);
    }
    for (const QString &name :
         {QStringLiteral("link"), QStringLiteral("device"), QStringLiteral("tap"), QStringLiteral("load")}) {
        if (parser.isSet(name) && parser.value(name).isEmpty())
            return QStringLiteral("--%1 takes a path, not an empty one").arg(name);
    }
    // A link names a pseudo-terminal; a device has its own name.
    if (parser.isSet(QStringLiteral("link")) && parser.isSet(QStringLiteral("device")))
        return QStringLiteral("--link goes with a pseudo-terminal, not with --device");
    if (parser.isSet(QStringLiteral("tcp")) && parser.isSet(QStringLiteral("device")))
        return QStringLiteral("--device and --tcp name two lines: give one");
    if (parser.isSet(QStringLiteral("tcp")) && parser.isSet(QStringLiteral("link")))
        return QStringLiteral("--link goes with a pseudo-terminal, not with --tcp");
    if (parser.isSet(QStringLiteral("tap"))
        && parser.value(QStringLiteral("tap")) == parser.value(QStringLiteral("link")))
        return QStringLiteral("--tap and --link name one path: the tap needs a name of its own");
    return QString();
}

bool readAreaSizes(const QCommandLineParser &parser, SimAreaSizes *sizes, QString *error)
{
    int *const sizeFields[] = {&sizes->holdingRegisters, &sizes->inputRegisters, &sizes->coils, &sizes->discreteInputs};
    const char *const sizeNames[] = {"holding", "input", "coils", "discrete"};
    for (int i = 0; i < 4; ++i) {
        const QString text = parser.value(QLatin1String(sizeNames[i]));
        bool ok = false;
        *sizeFields[i] = text.toInt(&ok);
        if (!ok || *sizeFields[i] < 0 || *sizeFields[i] > 65536) {
            *error = QStringLiteral("invalid --%1: %2 (0 to 65536)").arg(QLatin1String(sizeNames[i]), text);
            return false;
        }
    }
    return true;
}

bool readSettings(const QCommandLineParser &parser, SimSettings *s, QString *error)
{
    if (!parseStationList(parser.value(QStringLiteral("stations")), 1, 247, &s->stations, error))
        return false;
    if (!LineSettings::parse(parser.value(QStringLiteral("line")), &s->lineSettings, error))
        return false;
    if (s->lineSettings.dataBits != 8) {
        *error = QStringLiteral("unsupported data bits for Modbus RTU: %1 (its frames are 8 data bits)")
                     .arg(s->lineSettings.dataBits);
        return false;
    }
    if (!FaultPlan::parse(parser.value(QStringLiteral("faults")), &s->faults, error))
        return false;
    bool ok = false;
    s->seed = parser.value(QStringLiteral("seed")).toULongLong(&ok);
    if (!ok) {
        *error = QStringLiteral("invalid seed: %1").arg(parser.value(QStringLiteral("seed")));
        return false;
    }
    if (!parseDriveModel(parser.value(QStringLiteral("model")), &s->model, error))
        return false;
    s->tcp.port = -1;
    if (parser.isSet(QStringLiteral("tcp")) && !parseListenAddress(parser.value(QStringLiteral("tcp")), &s->tcp, error))
        return false;
    if (!readAreaSizes(parser, &s->sizes, error))
        return false;
    return !parser.isSet(QStringLiteral("load"))
           || readLoadedValues(parser.value(QStringLiteral("load")), parser.isSet(QStringLiteral("stations")),
                               s->sizes, &s->stations, &s->loaded, error);
}

void printServing(const QCommandLineParser &parser, const SimSettings &s, const SimServer &server)
{
    std::printf("%s\n", qPrintable(server.path()));
    std::fflush(stdout);
    QStringList names;
    for (int station : s.stations)
        names.append(QString::number(station));
    // Values from a real drive's backup are still simulated ones: said.
    const QString loaded = s.loaded.path.isEmpty()
                               ? QString()
                               : QStringLiteral(", %1 values from %2 into station%3 %4")
                                     .arg(s.loaded.entries)
                                     .arg(s.loaded.path, QLatin1String(s.loaded.stations.size() > 1 ? "s" : ""),
                                          stationListText(s.loaded.stations));
    std::fprintf(stderr, "servosim: drives %s on %s (%s), faults %s, model %s%s\n", qPrintable(names.join(',')),
                 qPrintable(server.path()), qPrintable(s.lineSettings.toString()), qPrintable(s.faults.toString()),
                 driveModelName(s.model), qPrintable(loaded));
    if (!parser.isSet(QStringLiteral("device")) && s.tcp.port < 0 && s.lineSettings.parity != LineSettings::NoParity)
        std::fprintf(stderr, "servosim: a pseudo-terminal carries no parity: a master's parity "
                             "cannot be checked here, its baud rate can\n");
}

// Serves until interrupted; the exit status.
int serve(const QCommandLineParser &parser, const SimSettings &s)
{
    SimLine line(s.stations, s.sizes);
    line.setFaults(s.faults, s.seed);
    line.setModel(s.model, s.seed);
    applyLoadedValues(s.loaded, &line);
    SimServer server(&line);
    const bool opened = s.tcp.port >= 0 ? server.openTcp(s.tcp, s.lineSettings)
                        : parser.isSet(QStringLiteral("device"))
                            ? server.openDevice(parser.value(QStringLiteral("device")), s.lineSettings)
                            : server.openPty(s.lineSettings);
    if (!opened)
        return fail(server.errorString());
    // Whoever finds the link or reads the path may interrupt at once; the
    // link must go all the same.
    const StopOnSignals stopOnSignals(&server);
    PtyLink link(parser.value(QStringLiteral("link")));
    if (!link.path().isEmpty() && !link.make(server.path()))
        return fail(link.errorString());
    if (!link.notice().isEmpty())
        std::fprintf(stderr, "servosim: %s\n", qPrintable(link.notice()));
    SimTap tap;
    PtyLink tapLink(parser.value(QStringLiteral("tap")));
    if (!tapLink.path().isEmpty()) {
        if (!tap.open(s.lineSettings))
            return fail(tap.errorString());
        if (!tapLink.make(tap.path()))
            return fail(tapLink.errorString());
        if (!tapLink.notice().isEmpty())
            std::fprintf(stderr, "servosim: %s\n", qPrintable(tapLink.notice()));
        server.setTap(&tap);
    }
    FrameTrace trace(stderr);
    if (parser.isSet(QStringLiteral("trace")))
        server.setTrace(&trace);
    server.setPacing(parser.isSet(QStringLiteral("pace")) || !tapLink.path().isEmpty());
    server.setEcho(parser.isSet(QStringLiteral("echo")));

    printServing(parser, s, server);
    if (!tapLink.path().isEmpty()) {
        std::fprintf(stderr, "servosim: tap %s (%s) hears the line, listen-only\n", qPrintable(tapLink.path()),
                     qPrintable(tap.path()));
    }
    const bool served = server.run();
    link.remove();
    tapLink.remove();
    printStats(line.stats(), server.echoedFrames());
    if (const qint64 stray = tap.writtenByListener())
        std::fprintf(stderr, "servosim: %lld bytes written on the tap, dropped (a listener never sends)\n", stray);
    if (!served)
        return fail(server.errorString());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Sleeps of a few hundred microseconds matter on a pseudo-terminal.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("servosim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SERVOSIM_VERSION));

    QCommandLineParser parser;
    describe(parser);
    addOptions(parser);
    // parse() so that a mistake exits 2 like every other; process() then
    // answers only --help-all and --version.
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return printHelp(parser);
    if (parser.isSet(QStringLiteral("completion"))) {
        if (parser.value(QStringLiteral("completion")) != QLatin1String("bash"))
            return fail(QStringLiteral("--completion: bash is the one shell served"));
        std::fputs(qPrintable(bashCompletion()), stdout);
        return 0;
    }
    parser.process(app);
    QString error = argumentsError(parser);
    SimSettings settings;
    if (!error.isEmpty() || !readSettings(parser, &settings, &error))
        return fail(error);
    return serve(parser, settings);
}
