#include "plan.h"

#include "backup.h"
#include "stationlist.h"
#include "stepchecks.h"
#include "storemodel.h"

namespace {

// The driver's station when none is given (its default DriverSetting).
const int kDriverDefaultStation = 1;

// read and poll: ADDRESS [TYPE] [COUNT] [FORMAT], the last three in any
// order, each at most once; the type word for registers, bit for the rest.
bool parseReadArguments(const QStringList &args, ValueFormat defaultFormat, Step *step,
                        QString *error)
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
    step->type = dataTypeByName(args[1]);
    if (!step->type) {
        *error = QStringLiteral("unknown data type: %1 (one of %2)")
                     .arg(args[1], dataTypeNames().join(QStringLiteral(", ")));
        return false;
    }
    step->count = args.size() - 2;
    return true;
}

// The address and the words after it of read, write and poll.
bool parseTarget(const QStringList &args, ValueFormat defaultFormat, const StoreModel &store,
                 Step *step, QString *error)
{
    if (!parseAddress(args[0], &step->address, error))
        return false;
    const bool parsed = isWrite(*step) ? parseWriteArguments(args, step, error)
                                       : parseReadArguments(args, defaultFormat, step, error);
    if (!parsed)
        return false;
    *error = stepRefusal(*step);
    if (!error->isEmpty())
        return false;
    if (isWrite(*step) && !encodeValues(args.mid(2), *step->type, &step->data, error))
        return false;
    *error = store.refusal(*step);
    return error->isEmpty();
}

bool parseStation(const Command &command, QList<int> *stations, QString *error)
{
    if (command.args.size() != 1) {
        *error = QStringLiteral("station takes one station number from 0 to %1, or a list: %2")
                     .arg(kLastStation).arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    return parseStationList(command.args[0], 0, kLastStation, stations, error);
}

const struct
{
    const char *name;
    Step::Action action;
} kActions[] = {
    {"info", Step::Info}, {"station", Step::Station}, {"read", Step::Read},
    {"write", Step::Write}, {"poll", Step::Poll},
    {"backup", Step::Backup}, {"restore", Step::Restore},
    {"plot", Step::Plot},
    {"scan", Step::Scan},
};

bool actionByName(const QString &name, Step::Action *action)
{
    for (const auto &entry : kActions) {
        if (name == QLatin1String(entry.name)) {
            *action = entry.action;
            return true;
        }
    }
    return false;
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

// -o names the one file a backup or a plot writes; --csv logs what reads read.
QString fileOptionsRefusal(const Options &options, const QList<Step> &steps)
{
    int writers = 0;
    bool reads = false;
    for (const Step &step : steps) {
        writers += step.action == Step::Backup || step.action == Step::Plot ? 1 : 0;
        reads = reads || step.action == Step::Read || step.action == Step::Poll;
    }
    if (writers > 1)
        return QStringLiteral("-o names one file: one backup or plot a run");
    if (writers == 0 && !options.outputPath.isEmpty())
        return QStringLiteral("-o goes only with backup or plot (a log of values is --csv)");
    if (!reads && !options.csvPath.isEmpty())
        return QStringLiteral("--csv logs the values read: it goes with read or poll");
    return QString();
}

// What the commands before one leave for it.
struct Chain
{
    QList<int> stations = {kDriverDefaultStation}; // addressed from now on
    StoreModel store;
};

// One address and the words after it, checked against the chain's store.
bool buildTarget(const QString &command, const QStringList &args, ValueFormat defaultFormat,
                 Chain *chain, Step *step, QString *error)
{
    QString why;
    if (!parseTarget(args, defaultFormat, chain->store, step, &why)) {
        *error = QStringLiteral("%1 %2: %3").arg(command, args[0], why);
        return false;
    }
    chain->store.apply(*step);
    step->broadcast = isWrite(*step) && step->station == kBroadcastStation && !servedByStore(*step);
    return true;
}

// poll ADDRESS [TYPE] [COUNT] [FORMAT] [ADDRESS ...]: a word that is an
// address begins the next one.
bool buildPollItems(const Command &command, ValueFormat defaultFormat, Chain *chain, Step *step,
                    QString *error)
{
    QList<QStringList> targets;
    for (const QString &arg : command.args) {
        Address address;
        QString ignored;
        if (targets.isEmpty() || parseAddress(arg, &address, &ignored))
            targets.append(QStringList());
        targets.last().append(arg);
    }
    for (const QStringList &args : qAsConst(targets)) {
        Step item = *step;
        if (!buildTarget(command.name, args, defaultFormat, chain, &item, error))
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
    if (step.stations.size() > 1 && step.action != Step::Poll && step.action != Step::Station
        && step.action != Step::Plot) {
        *error = QStringLiteral("%1 addresses one station, and %2 are listed (poll reads several)")
                     .arg(command.name).arg(step.stations.size());
        return false;
    }
    if (step.stations.size() > 1 && step.stations.contains(kBroadcastStation)) {
        *error = QStringLiteral("station 0 is the broadcast address, which no drive answers: "
                                "list it alone");
        return false;
    }
    return true;
}

// *chain is what is in effect before the command, and after it.
bool buildStep(const Command &command, const Options &options, Chain *chain, Step *step,
               QString *error)
{
    step->text = (QStringList{command.name} + command.args).join(QLatin1Char(' '));
    if (!actionByName(command.name, &step->action)) {
        *error = QStringLiteral("unknown command: %1").arg(command.name);
        return false;
    }
    if (step->action == Step::Info && !command.args.isEmpty()) {
        *error = QStringLiteral("info takes no arguments");
        return false;
    }
    if (step->action == Step::Station && !parseStation(command, &chain->stations, error))
        return false;
    if (step->action == Step::Scan && !options.stations.isEmpty()) {
        *error = QStringLiteral("scan probes the stations it is given (scan 1-10), not --station's");
        return false;
    }
    step->stations = chain->stations;
    step->station = chain->stations.first();
    if (step->action != Step::Scan && !checkStations(command, *step, error))
        return false;
    if (step->action == Step::Info || step->action == Step::Station)
        return true;
    if (step->action == Step::Backup || step->action == Step::Restore)
        return parseParamCommand(command, options, step, error);
    if (step->action == Step::Plot)
        return parsePlot(command, step, error);
    if (step->action == Step::Scan) {
        if (parseScanArguments(command.args, &step->scan, error))
            return true;
        *error = QStringLiteral("scan: ") + *error;
        return false;
    }
    if (command.args.isEmpty()) {
        *error = QStringLiteral("%1 needs an address, such as HR100").arg(command.name);
        return false;
    }
    if (step->action == Step::Poll)
        return buildPollItems(command, options.format, chain, step, error);
    return buildTarget(command.name, command.args, options.format, chain, step, error);
}

bool buildPlan(const QStringList &args, Plan *plan, QString *error)
{
    Plan result;
    QList<Command> commands;
    if (!parseCommandLine(args, &result.options, &commands, error))
        return false;
    Chain chain;
    if (!result.options.stations.isEmpty())
        chain.stations = result.options.stations;
    for (int i = 0; i < commands.size(); ++i) {
        Step step;
        if (!buildStep(commands[i], result.options, &chain, &step, error))
            return false;
        if (step.action == Step::Plot) {
            *error = plotRefusal(result.options);
            if (!error->isEmpty())
                return false;
        }
        const bool last = i == commands.size() - 1;
        if (step.action == Step::Poll && result.options.polls == 0 && !last) {
            *error = QStringLiteral("poll %1: without --polls it polls until interrupted, so the "
                                    "commands after it would never run").arg(step.address.text);
            return false;
        }
        result.steps.append(step);
    }
    *error = paramOptionsRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = fileOptionsRefusal(result.options, result.steps);
    if (!error->isEmpty())
        return false;
    *plan = result;
    return true;
}

} // namespace

// A refusal is one line: control characters the user typed (a carriage
// return pasted along) or a file held show as escapes.
QString visibleText(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Separator_Line
            && category != QChar::Separator_Paragraph)
            shown += c;
        else if (c == QLatin1Char('\r'))
            shown += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            shown += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QLatin1String("\\t");
        else
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return shown;
}

bool parsePlan(const QStringList &args, Plan *plan, QString *error)
{
    if (buildPlan(args, plan, error))
        return true;
    *error = visibleText(*error);
    return false;
}
