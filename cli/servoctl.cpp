// servoctl: commissions TECO servo drives through the driver plug-in, on a
// serial line or on the built-in simulated line.
#include <cstdio>

#include <sys/prctl.h>

#include <QCoreApplication>
#include <QStringList>

#include "session.h"

namespace {

const char kHelp[] = R"(Usage: servoctl [OPTIONS] COMMAND [ARGS...] [then COMMAND [ARGS...]]...

Loads the TECO servo driver plug-in through its entry point, as the panel
runtime does, and runs commands against drives on a serial line. Without
--device it starts a simulated line of three drives (stations 1, 2 and 3)
on a pseudo-terminal and works on that.

Commands:
  info                         identity, limits and default settings of the driver
  read ADDRESS [TYPE] [COUNT] [FORMAT]
                               read COUNT items (default 1) of TYPE (default word)
  write ADDRESS TYPE VALUE...  write the values, one item each
  poll ADDRESS [TYPE] [COUNT] [FORMAT]
                               read again every --interval until Ctrl-C
  station N                    address station N in the commands that follow
Several commands run in one session (the same line and the same driver, so
the special store keeps its words) when joined by the word "then"; the first
that fails ends the run. Options may also follow the commands; they apply to
the whole run.

Addresses are the runtime's: HR100 (holding register 100, read with function 3,
written with 16), FN6HR100 (written with function 6), HR100.3 (bit 3 of it),
DO5 (coil, written with 15), FN5DO5 (written with 5), DI5 (discrete input),
IR100 or any other letters (input register, function 4), HR100SW (double word
with the high word first). HR60000 to HR60010 are the driver's special store:
60000 station count, 60001-60008 station list, 60009 read-back station,
60010 the word broadcast to register 1300 of the listed drives.

Data types: bit, byte, word, dword, qword, block (bytes), bit2 (bits).
Formats: dec (default), hex, signed, bits.
Values: decimal (negative ones in two's complement), 0x hexadecimal, 0b binary;
bits also on, off, true, false.

Options:
  -d, --device PATH        serial device of the line (e.g. /dev/ttyUSB0)
      --line TEXT          line settings MODE,BAUD,PARITY,DATA,STOP
                           (default: the driver's, RS485,9600,NONE,8,2)
      --station N          station number (default: the driver's, 1)
      --timeout MS         answer time-out (default: the driver's, 500)
      --retries N          retries after a failed attempt (default: the driver's, 3)
      --delay MS           delay before each attempt (default: the driver's, 0)
      --inter-char MS      least inter-character time-out (default 20)
  -f, --format FORMAT      how values print: dec, hex, signed or bits
      --interval MS        time between polls (default 1000)
      --polls N            stop polling after N reads
      --trace              print every frame, with timestamps, on standard error
      --entry ENTRY        plugin (Qt's plug-in loader, default) or create
                           (the plain entry CreateDriver)
      --plugin PATH        the plug-in library (default: ../lib/libteco_servo.so
                           beside the program, else the one it was built with)
  The simulated line (without --device):
      --sim-stations LIST  station numbers of its drives (default 1,2,3)
      --sim-faults LIST    inject faults, e.g. drop=0.1,corrupt=0.05,truncate=0.05,
                           station=0.02,exception=0.02,delay=0.1:300
      --sim-seed N         seed of the fault draws (default 1)
      --sim-pace           answer at the line's baud rate
  -h, --help               this text

Exit status: 0 done, 1 a command failed (the driver's error text is printed),
2 the command line was wrong.

Examples:
  servoctl info
  servoctl read HR100 word 4 hex
  servoctl write HR100 word 4660 -2 then read HR100 word 2 signed
  servoctl station 2 then write HR5 word 1 then station 3 then read HR5
  servoctl --trace write DO1 bit 1 0 1 then read DO1 bit 3
  servoctl -d /dev/ttyUSB0 --station 5 poll HR1 word 2 --interval 200
)";

struct KnownOption
{
    const char *name;
    bool takesValue;
};

const KnownOption kOptions[] = {
    {"device", true},   {"line", true},       {"station", true},      {"timeout", true},
    {"retries", true},  {"delay", true},      {"inter-char", true},   {"format", true},
    {"interval", true}, {"polls", true},      {"trace", false},       {"entry", true},
    {"plugin", true},   {"sim-stations", true}, {"sim-faults", true}, {"sim-seed", true},
    {"sim-pace", false},
};

bool toNumber(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

// False with a text when the option or its value is wrong.
bool applyOption(const QString &name, const QString &value, Options *o, QString *error)
{
    bool ok = true;
    if (name == QLatin1String("device"))
        o->device = value;
    else if (name == QLatin1String("line"))
        o->line = value;
    else if (name == QLatin1String("station"))
        ok = toNumber(value, &o->station);
    else if (name == QLatin1String("timeout"))
        ok = toNumber(value, &o->timeout);
    else if (name == QLatin1String("retries"))
        ok = toNumber(value, &o->retries);
    else if (name == QLatin1String("delay"))
        ok = toNumber(value, &o->delay);
    else if (name == QLatin1String("inter-char"))
        ok = toNumber(value, &o->interCharMs);
    else if (name == QLatin1String("format"))
        ok = parseValueFormat(value, &o->format);
    else if (name == QLatin1String("interval"))
        ok = toNumber(value, &o->intervalMs);
    else if (name == QLatin1String("polls"))
        ok = toNumber(value, &o->polls);
    else if (name == QLatin1String("trace"))
        o->trace = true;
    else if (name == QLatin1String("entry")) {
        ok = value == QLatin1String("plugin") || value == QLatin1String("create");
        o->entry = value == QLatin1String("create") ? DriverLoader::CreateDriverEntry
                                                     : DriverLoader::QtPlugin;
    } else if (name == QLatin1String("plugin"))
        o->pluginPath = value;
    else if (name == QLatin1String("sim-stations"))
        o->simStations = value;
    else if (name == QLatin1String("sim-faults"))
        o->simFaults = value;
    else if (name == QLatin1String("sim-seed"))
        o->simSeed = value.toULongLong(&ok);
    else if (name == QLatin1String("sim-pace"))
        o->simPace = true;
    if (!ok)
        *error = QStringLiteral("invalid value for --%1: %2").arg(name, value);
    return ok;
}

// Options begin with "--" anywhere, or are -d, -f, -h before the first
// command (after it, "-5" is a value).
bool parseArguments(const QStringList &args, Options *options, QList<Command> *commands,
                    bool *help, QString *error)
{
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            *help = true;
            return true;
        }
        const bool shortOption = commands->isEmpty() && arg.size() == 2 && arg[0] == QLatin1Char('-');
        if (shortOption) {
            if (arg == QLatin1String("-d"))
                arg = QStringLiteral("--device");
            else if (arg == QLatin1String("-f"))
                arg = QStringLiteral("--format");
        }
        if (arg.startsWith(QLatin1String("--"))) {
            QString name = arg.mid(2);
            QString value;
            const int equals = name.indexOf(QLatin1Char('='));
            if (equals >= 0) {
                value = name.mid(equals + 1);
                name.truncate(equals);
            }
            const KnownOption *known = nullptr;
            for (const KnownOption &candidate : kOptions) {
                if (name == QLatin1String(candidate.name))
                    known = &candidate;
            }
            if (!known) {
                *error = QStringLiteral("unknown option: %1").arg(arg);
                return false;
            }
            if (known->takesValue && equals < 0) {
                if (++i >= args.size()) {
                    *error = QStringLiteral("--%1 needs a value").arg(name);
                    return false;
                }
                value = args[i];
            }
            if (!applyOption(name, value, options, error))
                return false;
            continue;
        }
        if (shortOption && !commands->isEmpty()) {
            *error = QStringLiteral("unknown option: %1").arg(arg);
            return false;
        }
        if (commands->isEmpty() || arg == QLatin1String("then")) {
            if (arg == QLatin1String("then") && ++i >= args.size()) {
                *error = QStringLiteral("\"then\" needs a command after it");
                return false;
            }
            commands->append(Command{args[i], QStringList()});
            continue;
        }
        commands->last().args.append(arg);
    }
    if (commands->isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // A tool of ours may wake on time; a library may not decide that.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QCoreApplication app(argc, argv);

    Options options;
    QList<Command> commands;
    bool help = false;
    QString error;
    if (!parseArguments(app.arguments().mid(1), &options, &commands, &help, &error)) {
        std::fprintf(stderr, "servoctl: %s (see servoctl --help)\n", qPrintable(error));
        return 2;
    }
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Session session(options);
    if (const int status = session.loadDriver(QCoreApplication::applicationDirPath()))
        return status;
    for (const Command &command : commands) {
        if (commands.size() > 1) {
            std::printf("> %s %s\n", qPrintable(command.name), qPrintable(command.args.join(' ')));
            std::fflush(stdout);
        }
        if (const int status = session.run(command))
            return status;
    }
    return 0;
}
