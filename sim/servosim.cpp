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
#include <QMap>

#include "deviceaccess.h"
#include "drivemodel.h"
#include "frametrace.h"
#include "loadedvalues.h"
#include "ptylink.h"
#include "simline.h"
#include "simserver.h"
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

// What the program is, for --help.
void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Simulated TECO servo drives sharing one Modbus RTU line.\n\n"
        "Each drive answers functions 1, 2, 3, 4, 5, 6, 15 and 16 with Modbus\n"
        "exceptions 1 (illegal function), 2 (illegal data address) and 3 (illegal\n"
        "data value). Holding registers and coils hold 0 until written. Input\n"
        "register IRn (as servoctl writes it; IR1 is register 0 on the wire)\n"
        "holds station x 1000 + n - 1, and discrete input DIn is on when n - 1\n"
        "is a multiple of 3. Requests to station 0 are broadcasts: every drive\n"
        "executes the writes, none answers.\n\n"
        "--load FILE starts the drives with the values of a servoctl backup (or a\n"
        "file of its lines, ADDRESS TYPE VALUE): those of the station its header\n"
        "names (# station: N; without --stations that drive alone is simulated),\n"
        "or of every drive when it names none. The file is checked whole first:\n"
        "a mistake, a station not simulated or an address beyond --holding or\n"
        "--coils is one line naming the file and its line, status 2.\n\n"
        "--model servo makes each drive a servo whose speed follows a set-point\n"
        "(addresses as servoctl writes them; HR1 is register 0 on the wire): HR1\n"
        "set-point in rpm (signed; beyond +-3000 it trips the drive, until reset),\n"
        "HR2 ramp time constant in ms (200; 0 none), IR1 actual speed in rpm (+-2\n"
        "rpm noise while running, drawn from --seed), IR2-IR3 position in 10000\n"
        "counts a revolution (signed 32-bit, low word first), IR4 status (bit 0\n"
        "ready, 1 running, 2 fault, 3 at speed), DO1 servo on, DO2 fault reset\n"
        "(write 1). Other addresses as above.\n\n"
        "Without --device or --tcp it opens a pseudo-terminal and prints its path\n"
        "as the first line of standard output; point the client at that path.\n"
        "With --tcp it prints tcp://HOST:PORT there instead (servoctl -d takes it).\n"
        "It serves until interrupted and then prints its counters.\n\n"
        "The reference is " TECO_SERVO_DOCS "/servosim.md."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help names the program as a person types it, not by the path it was
// started from (the manual page is made from this text).
int printHelp(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().constFirst();
    const int at = text.indexOf(started);
    if (at >= 0)
        text.replace(at, started.size(), QCoreApplication::applicationName());
    std::fputs(qPrintable(text), stdout);
    return 0;
}

QList<QCommandLineOption> simOptions()
{
    return {
        {QStringLiteral("stations"),
         QStringLiteral("Station numbers of the drives, 1 to 247, e.g. 1,5,7 or 1-3 "
                        "(default 1)."),
         QStringLiteral("LIST"), QStringLiteral("1")},
        {QStringLiteral("device"),
         QStringLiteral("Serve this serial device instead of a pseudo-terminal "
                        "(refused while another program holds it)."),
         QStringLiteral("PATH")},
        {QStringLiteral("line"),
         QStringLiteral("Line settings (default RS485,9600,NONE,8,2; "
                        "DATA is 8, as Modbus RTU frames are)."),
         QStringLiteral("MODE,BAUD,PARITY,DATA,STOP"), QStringLiteral("RS485,9600,NONE,8,2")},
        {QStringLiteral("tcp"),
         QStringLiteral("Serve over TCP instead, RTU frames as they are (CRC "
                        "included, no header), as an Ethernet-to-RS-485 "
                        "converter passes them: one master at a time, a "
                        "second one refused; HOST defaults to 127.0.0.1, PORT "
                        "0 takes a free one (the first line of standard "
                        "output names it as tcp://HOST:PORT)."),
         QStringLiteral("[HOST:]PORT")},
        {QStringLiteral("link"),
         QStringLiteral("Also make PATH a symbolic link to the pseudo-terminal, "
                        "where nothing is or replacing a link into /dev/pts/ "
                        "(anything else is refused; taking over a link to a "
                        "terminal that still exists is said); removed at exit "
                        "while it is still this one's."),
         QStringLiteral("PATH")},
        {QStringLiteral("tap"),
         QStringLiteral("Also make PATH a symbolic link, taken as the line's own is, "
                        "to a second pseudo-terminal that hears every byte of the line, "
                        "requests and answers, as a listen-only adapter wired in "
                        "parallel would; what is written to it never reaches the "
                        "line. Answers are then paced, so that the tap hears the "
                        "line's timing."),
         QStringLiteral("PATH")},
        {QStringLiteral("pace"), QStringLiteral("Send answers at the line's baud rate, after the silent interval.")},
        {QStringLiteral("echo"),
         QStringLiteral("Echo every byte heard (any station, any CRC, noise too) back "
                        "at once, before the answer, as an RS-485 adapter without "
                        "receiver disable hands the master its own request.")},
        {QStringLiteral("faults"),
         QStringLiteral("Inject faults, e.g. drop=0.1,corrupt=0.05,truncate=0.05,"
                        "station=0.02,exception=0.02,delay=0.1:300,late=0.01:1500,"
                        "unheard=0.02,twin=0.02,noise=0.02,twice=0.02 "
                        "(rates from 0 to 1, together at most 1; delay and late "
                        "in ms after the colon, default 200 and 1000: a delay "
                        "within the master's time-out, a late answer after it; "
                        "drop loses the answer of an executed request, unheard "
                        "the request itself; twin is a second drive with the "
                        "same station answering at once; noise a burst between "
                        "frames or inside the answer; twice the answer sent "
                        "again a silent interval after it)."),
         QStringLiteral("LIST")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the fault draws and of the model's noise (default 1)."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("model"),
         QStringLiteral("What the drives do between requests: static (default: "
                        "values change only when written) or servo."),
         QStringLiteral("NAME"), QStringLiteral("static")},
        {QStringLiteral("holding"), QStringLiteral("Number of holding registers (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("input"), QStringLiteral("Number of input registers (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("coils"), QStringLiteral("Number of coils (default 65536)."), QStringLiteral("N"),
         QStringLiteral("65536")},
        {QStringLiteral("discrete"), QStringLiteral("Number of discrete inputs (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("load"),
         QStringLiteral("Start the drives with the values of a servoctl backup FILE "
                        "(see above)."),
         QStringLiteral("FILE")},
        {QStringLiteral("trace"), QStringLiteral("Print every frame on standard error.")},
    };
}

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions(simOptions());
    // The installed completion is written by this at build time.
    QCommandLineOption completion(QStringLiteral("completion"),
                                  QStringLiteral("Print the shell's completion script."), QStringLiteral("SHELL"));
    completion.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(completion);
}

// servosim --completion bash, from the options above: files where a value
// is a PATH or FILE, the models for --model.
QString bashCompletion()
{
    QStringList words{QStringLiteral("--help"), QStringLiteral("--version")};
    QStringList completions; // a case of the script each, its options joined
    QMap<QString, QStringList> optionsOf;
    for (const QCommandLineOption &option : simOptions()) {
        const QString word = QStringLiteral("--") + option.names().constFirst();
        words.append(word);
        if (option.valueName().isEmpty())
            continue;
        QString what = QStringLiteral(":");
        if (option.valueName() == QLatin1String("PATH") || option.valueName() == QLatin1String("FILE")) {
            what = QStringLiteral("compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")");
        } else if (option.names().constFirst() == QLatin1String("model")) {
            what = QStringLiteral("mapfile -t COMPREPLY < <(compgen -W '%1 %2' -- \"$cur\")")
                       .arg(QLatin1String(driveModelName(DriveModel::Static)),
                            QLatin1String(driveModelName(DriveModel::Servo)));
        }
        if (!completions.contains(what))
            completions.append(what);
        optionsOf[what].append(word);
    }
    QString values;
    for (const QString &what : completions)
        values += QStringLiteral("        %1) %2; return ;;\n").arg(optionsOf[what].join(QLatin1Char('|')), what);
    return QStringLiteral("# bash completion for servosim, written by servosim --completion bash\n"
                          "_servosim() {\n"
                          "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                          "    # --name=value: bash splits at the \"=\".\n"
                          "    if [[ $cur == = ]]; then\n"
                          "        prev=${COMP_WORDS[COMP_CWORD-1]} cur=\n"
                          "    elif [[ $prev == = ]]; then\n"
                          "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
                          "    fi\n"
                          "    COMPREPLY=()\n"
                          "    case $prev in\n"
                          "%1"
                          "    esac\n"
                          "    mapfile -t COMPREPLY < <(compgen -W '%2' -- \"$cur\")\n"
                          "}\n"
                          "complete -F _servosim servosim\n")
        .arg(values, words.join(QLatin1Char(' ')));
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
