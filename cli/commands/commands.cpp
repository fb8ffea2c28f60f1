#include "commands.h"

#include "backup.h"
#include "commandruns.h"
#include "manualaddress.h"
#include "monitor.h"
#include "stationlist.h"
#include "stepchecks.h"
#include "typedvalues.h"
#include "tcpaddress.h"

namespace {

// read and poll: ADDRESS [TYPE] [COUNT] [FORMAT], the last three in any
// order, each at most once; the type word for registers, bit for the rest.
bool parseReadArguments(const QStringList &args, ValueFormat defaultFormat, Step *step, QString *error)
{
    step->type = dataTypeByName(QStringLiteral("word"));
    step->count = 1;
    step->format = defaultFormat;
    bool typeGiven = false;
    bool countGiven = false;
    bool formatGiven = false;
    for (const QString &arg : args.mid(1)) {
        quint64 count = 0;
        bool *given = nullptr;
        if (const DataType *type = dataTypeByName(arg)) {
            step->type = type;
            given = &typeGiven;
        } else if (parseValueFormat(arg, &step->format)) {
            given = &formatGiven;
        } else if (parseDecimal(arg, 1, kLastItem, &count)) {
            step->count = int(count);
            given = &countGiven;
        } else {
            *error = QStringLiteral("not a data type, count (1 to %1) or format: %2").arg(kLastItem).arg(arg);
            return false;
        }
        if (*given) {
            *error = QStringLiteral("a second data type, count or format: %1").arg(arg);
            return false;
        }
        *given = true;
    }
    // Coils and inputs hold nothing but bits.
    if (!typeGiven && !step->address.area->registers)
        step->type = dataTypeByName(QStringLiteral("bit"));
    return true;
}

// write: ADDRESS TYPE VALUE..., one item a value.
bool parseWriteArguments(const QStringList &args, Step *step, QString *error)
{
    if (args.size() < 3) {
        *error = QStringLiteral("write needs an address, a data type and values");
        return false;
    }
    const TypedValue *typed = typedValueByName(args[1]);
    step->type = typed ? dataTypeByName(QLatin1String(typed->type)) : dataTypeByName(args[1]);
    if (!step->type) {
        *error = QStringLiteral("unknown data type: %1 (one of %2; or int16, int32, float)")
                     .arg(args[1], dataTypeNames().join(QStringLiteral(", ")));
        return false;
    }
    step->count = args.size() - 2;
    return true;
}

// The address and the words after it of read, write and poll.
bool parseTarget(const QStringList &args, ValueFormat defaultFormat, bool zeroBased, const StoreModel &store,
                 Step *step, QString *error)
{
    if (!parseManualAddress(args[0], zeroBased, &step->address, error))
        return false;
    const bool parsed = isWrite(*step) ? parseWriteArguments(args, step, error)
                                       : parseReadArguments(args, defaultFormat, step, error);
    if (!parsed)
        return false;
    *error = stepRefusal(*step);
    if (!error->isEmpty())
        return false;
    const TypedValue *typed = isWrite(*step) ? typedValueByName(args[1]) : nullptr;
    if (typed && !encodeTypedValues(args.mid(2), *typed, &step->data, error))
        return false;
    if (isWrite(*step) && !typed && !encodeValues(args.mid(2), *step->type, &step->data, error))
        return false;
    *error = store.refusal(*step);
    return error->isEmpty();
}

bool parseStation(const Command &command, QList<int> *stations, QString *error)
{
    if (command.args.size() != 1) {
        *error = QStringLiteral("station takes one station number from 0 to %1, or a list: %2")
                     .arg(kLastStation)
                     .arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    return parseStationList(command.args[0], 0, kLastStation, stations, error);
}

// plot FILE: the log is read when plot runs, as an earlier command of the
// run may write it.
bool parsePlot(const Command &command, Step *step, QString *error)
{
    if (command.args.isEmpty()) {
        *error = QStringLiteral("plot needs a CSV log: plot FILE -o OUT.png");
        return false;
    }
    if (command.args.size() > 1) {
        *error = QStringLiteral("plot takes one CSV log: %1").arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    step->path = command.args[0];
    return true;
}

// The image goes to -o, so one plot a run, and never without it.
QString plotRefusal(const Options &options)
{
    if (options.outputPath.isEmpty())
        return QStringLiteral("plot needs -o OUT.png, the image to write");
    return QString();
}

// One address and the words after it, checked against the chain's store.
bool buildTarget(const QString &command, const QStringList &args, const Options &options, Chain *chain, Step *step,
                 QString *error)
{
    QString why;
    if (!parseTarget(args, options.format, options.zeroBased, chain->store, step, &why)) {
        *error = QStringLiteral("%1 %2: %3").arg(command, args[0], why);
        return false;
    }
    chain->store.apply(*step);
    step->broadcast = isWrite(*step) && step->station == kBroadcastStation && !servedByStore(*step);
    return true;
}

// poll ADDRESS [TYPE] [COUNT] [FORMAT] [ADDRESS ...]: a word that is an
// address begins the next one.
bool buildPollItems(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    QList<QStringList> targets;
    for (const QString &arg : command.args) {
        Address address;
        QString ignored;
        if (targets.isEmpty() || parseManualAddress(arg, options.zeroBased, &address, &ignored))
            targets.append(QStringList());
        targets.last().append(arg);
    }
    for (const QStringList &args : qAsConst(targets)) {
        Step item = *step;
        if (!buildTarget(command.name, args, options, chain, &item, error))
            return false;
        step->items.push_back(item);
    }
    const Step first = step->items.front();
    step->address = first.address;
    step->type = first.type;
    step->count = first.count;
    step->format = first.format;
    return true;
}

// Only poll reads several stations in one command.
bool checkStations(const Command &command, const Step &step, QString *error)
{
    if (step.stations.size() > 1 && !commandOf(step.action).severalStations) {
        *error = QStringLiteral("%1 addresses one station, and %2 are listed (poll reads several)")
                     .arg(command.name)
                     .arg(step.stations.size());
        return false;
    }
    if (step.stations.size() > 1 && step.stations.contains(kBroadcastStation)) {
        *error = QStringLiteral("station 0 is the broadcast address, which no drive answers: "
                                "list it alone");
        return false;
    }
    return true;
}

// The stations in effect, which the command addresses.
bool takeStations(const Command &command, const Chain &chain, Step *step, QString *error)
{
    step->stations = chain.stations;
    step->station = chain.stations.first();
    return checkStations(command, *step, error);
}

bool needsAddress(const Command &command, QString *error)
{
    if (!command.args.isEmpty())
        return true;
    *error = QStringLiteral("%1 needs an address, such as HR100").arg(command.name);
    return false;
}

bool buildInfo(const Command &command, const Options &, Chain *chain, Step *step, QString *error)
{
    if (!command.args.isEmpty()) {
        *error = QStringLiteral("info takes no arguments");
        return false;
    }
    return takeStations(command, *chain, step, error);
}

bool buildStation(const Command &command, const Options &, Chain *chain, Step *step, QString *error)
{
    return parseStation(command, &chain->stations, error) && takeStations(command, *chain, step, error);
}

bool buildReadOrWrite(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, step, error) && needsAddress(command, error)
           && buildTarget(command.name, command.args, options, chain, step, error);
}

bool buildPoll(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, step, error) && needsAddress(command, error)
           && buildPollItems(command, options, chain, step, error);
}

bool buildParamCommand(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, step, error) && parseParamCommand(command, options, step, error);
}

bool buildPlot(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    if (!takeStations(command, *chain, step, error) || !parsePlot(command, step, error))
        return false;
    *error = plotRefusal(options);
    // The map is read now, so that a wrong one stops the run before anything is sent.
    return error->isEmpty()
           && (options.mapPath.isEmpty() || readParamFile(options.mapPath, ParamFileKind::Signals, &step->params, error));
}

// scan probes stations of its own, so --station's are refused, and the
// chain's left unchecked.
bool buildScan(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    if (!options.stations.isEmpty()) {
        *error = QStringLiteral("scan probes the stations it is given (scan 1-10), not --station's");
        return false;
    }
    step->stations = chain->stations;
    step->station = chain->stations.first();
    if (!parseScanArguments(command.args, &step->scan, error)) {
        *error = QStringLiteral("scan: ") + *error;
        return false;
    }
    // The converter's serial side is set on the converter, not through the socket.
    if (step->scan.scansSettings() && isTcpUrl(options.device)) {
        QString word;
        for (const QString &arg : command.args) {
            if (word.isEmpty()
                && QStringList{QStringLiteral("baud"), QStringLiteral("parity"), QStringLiteral("stop")}.contains(arg))
                word = arg;
        }
        *error = QStringLiteral("scan: %1: a search of line settings needs a serial line; over TCP "
                                "the converter's own settings apply (scan only stations)")
                     .arg(word);
        return false;
    }
    return true;
}

// --help's command column: the usage, then the text from this column on
// (on a line of its own when the usage reaches it).
const int kHelpColumn = 31;

} // namespace

const CommandTable &commandTable()
{
    static const std::vector<CommandEntry> kCommands = {
        {"info", Step::Info, false, false, false, false, buildInfo, runInfo, "info",
         "identity, limits and default settings of the driver"},
        {"read", Step::Read, true, false, false, true, buildReadOrWrite, runRead, "read ADDRESS [TYPE] [COUNT] [FORMAT]",
         "read COUNT items (default 1) of TYPE (default\n"
         "word; bit for DO and DI)"},
        {"write", Step::Write, true, false, false, false, buildReadOrWrite, runWrite,
         "write ADDRESS TYPE VALUE...", "write the values, one item each"},
        {"poll", Step::Poll, true, true, false, true, buildPoll, runPoll, "poll ADDRESS [TYPE] [COUNT] [FORMAT] [ADDRESS ...]",
         "read every address of every --station again\n"
         "every --interval until Ctrl-C, with times to\n"
         "the millisecond; addresses of one function\n"
         "within 125 registers or 2000 bits share a\n"
         "read; a lost line (an adapter pulled out) is\n"
         "waited for and taken up again at the same\n"
         "path; \"then\" may follow only with --polls"},
        {"station", Step::Station, false, true, false, false, buildStation, runStation, "station LIST",
         "address these stations ({station}; several only\n"
         "for poll) in the commands that follow"},
        {"scan", Step::Scan, true, false, false, false, buildScan, runScan,
         "scan [STATIONS] [baud LIST] [parity LIST] [stop LIST]",
         "find the stations that answer, and the line\n"
         "settings they are at (see \"Scanning\" below)"},
        {"backup", Step::Backup, true, false, true, false, buildParamCommand, runBackup,
         "backup --map MAP -o FILE", "read the parameters MAP lists into a new FILE"},
        {"restore", Step::Restore, true, false, false, false, buildParamCommand, runRestore, "restore FILE [--dry-run]",
         "read every entry and show what differs (the\n"
         "plan), then, once confirmed, write those\n"
         "values back, each read back and compared;\n"
         "stops at the first failure, saying what it\n"
         "wrote. On a terminal it asks (y/N); otherwise\n"
         "it writes only with --yes. A backup taken on\n"
         "the other kind of line (simulated or a\n"
         "device) is refused without --any-line"},
        {"plot", Step::Plot, false, true, true, false, buildPlot, runPlot, "plot FILE -o OUT.png [--map MAP]",
         "draw a CSV log (--csv) with gnuplot into a new\n"
         "PNG of 1200x700 pixels: a panel for each\n"
         "address (or each unit --map names) on one time\n"
         "axis, from the first row in seconds (in minutes\n"
         "past 10 minutes), named as --map says; signals\n"
         "of whole numbers, at most 16 values, as steps"},
        {"monitor", Step::Monitor, true, false, false, true, buildMonitor, runMonitor, "monitor -d DEVICE",
         "listen to a line through an adapter of its\n"
         "own, never sending: one line per request and\n"
         "answer, timed and judged (see \"Monitoring\"\n"
         "below)"},
    };
    return kCommands;
}

const CommandEntry *commandByName(const QString &name)
{
    return findCommand(commandTable(), name);
}

const CommandEntry &commandOf(Step::Action action)
{
    return commandFor(commandTable(), action);
}

bool parsePlan(const QStringList &args, Plan *plan, QString *error)
{
    return parsePlan(args, commandTable(), plan, error);
}

QString commandsHelp()
{
    QString text;
    for (const CommandEntry &entry : commandTable()) {
        QString usage = QStringLiteral("  ") + QLatin1String(entry.usage);
        const QString indent(kHelpColumn, QLatin1Char(' '));
        if (usage.size() < kHelpColumn - 1)
            usage = usage.leftJustified(kHelpColumn);
        else
            usage += QLatin1Char('\n') + indent;
        text += usage + QString::fromLatin1(entry.help).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent)
                + QLatin1Char('\n');
    }
    return text;
}

QString linelessCommands()
{
    QStringList names;
    for (const CommandEntry &entry : commandTable()) {
        if (!entry.usesLine)
            names.append(QLatin1String(entry.name));
    }
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}
