#include "plan.h"

#include "stationlist.h"
#include "backup.h"

namespace {

// The driver's station when none is given (its default DriverSetting).
const int kDriverDefaultStation = 1;

// The driver's own store of eleven words, HR60000 to HR60010: entry 0 the
// station count, 1 to 8 the station list, 9 the read-back station, 10 the
// word broadcast to HR1300 of the listed stations.
const int kStoreFirst = 60000;
const int kStationCountEntry = 0;
const int kFirstListEntry = 1;
const int kListLength = 8;
const int kReadBackEntry = kFirstListEntry + kListLength;
const int kBroadcastEntry = kReadBackEntry + 1;
const int kStoreLast = kStoreFirst + kBroadcastEntry;
const int kBroadcastRegister = 1300;

// A register's last bit; reads may name higher ones, which run on into the
// registers that follow.
const int kLastRegisterBit = 15;

// The driver's per-request limits: registers read with functions 3 and 4 or
// written with 16 (and 6, checked alike); coils and inputs read with 1 and
// 2, coils written with 15 (and 5, checked alike).
struct RequestLimit
{
    bool write;
    bool registers;
    int units;
};

const RequestLimit kRequestLimits[] = {
    {false, true, 125},
    {false, false, 2008},
    {true, true, 123},
    {true, false, 1976},
};

int requestLimit(bool write, bool registers)
{
    for (const RequestLimit &limit : kRequestLimits) {
        if (limit.write == write && limit.registers == registers)
            return limit.units;
    }
    return 0;
}

bool isWrite(const Step &step)
{
    return step.action == Step::Write;
}

// Registers are 16 bits wide, coils and inputs one.
qint64 unitBits(const Step &step)
{
    return step.address.area->registers ? 16 : 1;
}

// Registers, or coils or inputs, that the step's items span from its address.
qint64 unitsSpanned(const Step &step)
{
    const qint64 bits = qMax(step.address.bit, 0) + qint64(step.count) * step.type->bits;
    return (bits + unitBits(step) - 1) / unitBits(step);
}

// The most items of the step's type that units registers (coils, inputs) hold.
qint64 itemsWithin(const Step &step, qint64 units)
{
    return (units * unitBits(step) - qMax(step.address.bit, 0)) / step.type->bits;
}

} // namespace

int firstUnit(const Step &step)
{
    return step.address.number;
}

int lastUnit(const Step &step)
{
    return int(step.address.number + unitsSpanned(step) - 1);
}

namespace {

// The store's numbers in HR and FN6HR: whether the step's span touches them.
bool reachesStore(const Step &step)
{
    const Area &area = *step.address.area;
    return area.registers && area.writable && step.address.number <= kStoreLast
           && lastUnit(step) >= kStoreFirst;
}

} // namespace

// Words from there on, and bits written there, are the driver's memory, not a
// drive's; any other command by those numbers reaches the drive's registers.
bool servedByStore(const Step &step)
{
    const bool startsInStore = reachesStore(step) && step.address.number >= kStoreFirst;
    return startsInStore && (step.type->bits == 16 || (isWrite(step) && step.type->bits == 1));
}

namespace {

// Each refusal names what is wrong with the step; empty when nothing is.
QString typeRefusal(const Step &step)
{
    const DataType &type = *step.type;
    const Area &area = *step.address.area;
    const bool bits = type.bits == 1;
    if (type.refusal)
        return QStringLiteral("%1: %2").arg(QLatin1String(type.name), QLatin1String(type.refusal));
    if (isWrite(step) && !area.writable)
        return QStringLiteral("%1 is read-only").arg(QLatin1String(area.name));
    if (!bits && !area.registers) {
        return QStringLiteral("%1 goes only with a register area (%2), not %3")
            .arg(QLatin1String(type.name), areaNames(true), QLatin1String(area.name));
    }
    if (step.address.hasBit() && !(bits && area.registers))
        return QStringLiteral("a bit number goes only with bit and bit2 on %1").arg(areaNames(true));
    if (step.address.swapped && !(type.bits == 32 && area.registers))
        return QStringLiteral("SW goes only with dword on %1").arg(areaNames(true));
    return QString();
}

// int32 and float view a dword's two words; they mean nothing for other items.
QString formatRefusalOf(const Step &step)
{
    return isWrite(step) ? QString() : formatRefusal(step.format, *step.type);
}

// Station 0 reaches every drive and none answers: a write is sent only when
// the driver makes it one request that waits for nothing before it.
QString broadcastRefusal(const Step &step)
{
    if (step.station != kBroadcastStation || servedByStore(step))
        return QString();
    const QString why = QStringLiteral("station 0 is the broadcast address: ");
    const Area &area = *step.address.area;
    if (!isWrite(step))
        return why + QStringLiteral("no drive answers a read");
    if (area.registers && step.type->bits == 1)
        return why + QStringLiteral("the driver reads a register before it writes bits inside it");
    if (area.requestPerItem && unitsSpanned(step) > 1) {
        return why + QStringLiteral("%1 sends one request per %2, so write one %2 at a time")
                         .arg(QLatin1String(area.name), QLatin1String(area.itemNoun));
    }
    return QString();
}

QString countRefusal(const Step &step)
{
    const Address &address = step.address;
    const DataType &type = *step.type;
    const bool write = isWrite(step);
    const qint64 units = unitsSpanned(step);
    const int limit = requestLimit(write, address.area->registers);
    if (units > limit) {
        return QStringLiteral("at most %1 %2 in one %3 (%4 given)")
            .arg(itemsWithin(step, limit)).arg(QLatin1String(type.plural))
            .arg(QLatin1String(write ? "write" : "read")).arg(step.count);
    }
    if (lastUnit(step) > kLastItem) {
        return QStringLiteral("%1 %2 run past %3%4, the last %5")
            .arg(step.count).arg(QLatin1String(step.count == 1 ? type.name : type.plural))
            .arg(QLatin1String(address.area->name)).arg(kLastItem)
            .arg(QLatin1String(address.area->itemNoun));
    }
    return QString();
}

// What a write changes beyond the items named: the driver writes bytes two
// to a register, and a bit by rewriting the register that holds it.
QString writeRefusal(const Step &step)
{
    if (!isWrite(step) || !step.address.area->registers)
        return QString();
    const DataType &type = *step.type;
    if (type.bits == 8 && step.count % 2) {
        return QStringLiteral("bytes are written two to a register: with %1 %2 the driver would also "
                              "write 0 into %3; give an even number of bytes")
            .arg(step.count).arg(QLatin1String(step.count == 1 ? "byte" : "bytes"))
            .arg(step.address.itemLabel(type, step.count));
    }
    if (type.bits == 1 && step.address.bit > kLastRegisterBit) {
        return QStringLiteral("a bit write names bit 0 to %1 of the register it changes: write %2 instead")
            .arg(kLastRegisterBit).arg(step.address.itemLabel(type, 0));
    }
    return QString();
}

QString refusal(const Step &step)
{
    for (QString (*check)(const Step &) :
         {typeRefusal, formatRefusalOf, broadcastRefusal, countRefusal, writeRefusal}) {
        const QString why = check(step);
        if (!why.isEmpty())
            return why;
    }
    return QString();
}

// What a word written to entries 0 to 9 of the store may hold.
struct StoreEntryRule
{
    int firstEntry;
    int lastEntry;
    quint64 min;
    quint64 max;
    const char *what;
    const char *why; // appended to the refusal; empty when it needs none
};

const StoreEntryRule kStoreEntryRules[] = {
    {kStationCountEntry, kStationCountEntry, 0, kListLength, "the station count", ""},
    {kFirstListEntry, kFirstListEntry + kListLength - 1, 1, kLastStation, "a station of the list", ""},
    {kReadBackEntry, kReadBackEntry, 1, kListLength, "the read-back station",
     " (the driver holds it at 8 or below, so only stations 1 to 8 can be read back)"},
};

const StoreEntryRule &storeEntryRule(int entry)
{
    for (const StoreEntryRule &rule : kStoreEntryRules) {
        if (entry >= rule.firstEntry && entry <= rule.lastEntry)
            return rule;
    }
    return kStoreEntryRules[0];
}

bool holds(const StoreEntryRule &rule, quint64 value)
{
    return value >= rule.min && value <= rule.max;
}

// What the driver's special store holds as the chain goes on; servoctl makes
// its driver anew every run, so it starts all zero.
class StoreModel
{
public:
    // Empty when the step may go ahead with the store as it stands.
    QString refusal(const Step &step) const;
    // What an accepted step leaves in the store.
    void apply(const Step &step);

private:
    QString bitWriteRefusal(const Step &step) const;
    QString wordWriteRefusal(const Step &step) const;
    QString unlistedStationRefusal(const Step &step) const;
    QString readBackRefusal(const Step &step) const;

    quint16 m_entries[kBroadcastEntry] = {}; // 0 to 9; no check needs entry 10
};

int firstEntry(const Step &step)
{
    return step.address.number - kStoreFirst;
}

int lastEntry(const Step &step)
{
    return lastUnit(step) - kStoreFirst;
}

QString storeLabel(const Step &step, int entry)
{
    return QStringLiteral("%1%2").arg(QLatin1String(step.address.area->name)).arg(kStoreFirst + entry);
}

// Item index of a write's values.
quint64 valueAt(const Step &step, int index)
{
    quint64 value = 0;
    itemAt(step.data, *step.type, index, &value);
    return value;
}

QString StoreModel::refusal(const Step &step) const
{
    if (!reachesStore(step))
        return QString();
    if (!servedByStore(step)) {
        return QStringLiteral("%1-%2 are the driver's special store, served to word commands that "
                              "start there (and bit writes); this one would reach the drive's own "
                              "registers by those numbers")
            .arg(storeLabel(step, 0), storeLabel(step, kBroadcastEntry));
    }
    if (lastEntry(step) > kBroadcastEntry)
        return QStringLiteral("the driver's special store ends at %1").arg(storeLabel(step, kBroadcastEntry));
    if (step.type->bits == 1)
        return bitWriteRefusal(step);
    return isWrite(step) ? wordWriteRefusal(step) : readBackRefusal(step);
}

QString StoreModel::bitWriteRefusal(const Step &step) const
{
    if (firstEntry(step) < kBroadcastEntry) {
        return QStringLiteral("a bit write into %1-%2 also makes the driver set or bound the station "
                              "count %1 to %3; write whole words there")
            .arg(storeLabel(step, 0), storeLabel(step, kReadBackEntry))
            .arg(storeEntryRule(kStationCountEntry).max);
    }
    if (step.count > 1) {
        return QStringLiteral("the driver keeps only the first bit written to %1: write one bit at a time")
            .arg(storeLabel(step, kBroadcastEntry));
    }
    return unlistedStationRefusal(step);
}

QString StoreModel::wordWriteRefusal(const Step &step) const
{
    if (lastEntry(step) == kBroadcastEntry && step.count > 1) {
        return QStringLiteral("a word write reaching %1 must write %1 alone: the driver sends all its "
                              "words to the listed stations from HR%2 on and stores none before %1")
            .arg(storeLabel(step, kBroadcastEntry)).arg(kBroadcastRegister);
    }
    if (lastEntry(step) == kBroadcastEntry)
        return unlistedStationRefusal(step);
    for (int i = 0; i < step.count; ++i) {
        const StoreEntryRule &rule = storeEntryRule(firstEntry(step) + i);
        if (!holds(rule, valueAt(step, i))) {
            return QStringLiteral("%1 = %2: %3 runs from %4 to %5%6")
                .arg(storeLabel(step, firstEntry(step) + i)).arg(valueAt(step, i)).arg(QLatin1String(rule.what))
                .arg(rule.min).arg(rule.max).arg(QLatin1String(rule.why));
        }
    }
    return QString();
}

// A write reaching entry 10 goes to each listed station in turn; a list
// entry never set would be a broadcast that the driver awaits and retries.
QString StoreModel::unlistedStationRefusal(const Step &step) const
{
    const int listed = m_entries[kStationCountEntry];
    const StoreEntryRule &rule = storeEntryRule(kFirstListEntry);
    for (int entry = kFirstListEntry; entry < kFirstListEntry + listed; ++entry) {
        if (!holds(rule, m_entries[entry])) {
            return QStringLiteral("%1 goes to HR%2 of each station the count %3 (%4) lists, and %5 "
                                  "holds none yet: set it to a station (%6 to %7) first")
                .arg(storeLabel(step, kBroadcastEntry)).arg(kBroadcastRegister)
                .arg(storeLabel(step, kStationCountEntry)).arg(listed).arg(storeLabel(step, entry))
                .arg(rule.min).arg(rule.max);
        }
    }
    return QString();
}

// A read reaching entry 10 first reads HR1300 back from the read-back
// station; entry 9, never set, would be the broadcast address.
QString StoreModel::readBackRefusal(const Step &step) const
{
    const StoreEntryRule &rule = storeEntryRule(kReadBackEntry);
    if (lastEntry(step) < kBroadcastEntry || m_entries[kStationCountEntry] == 0
        || holds(rule, m_entries[kReadBackEntry])) {
        return QString();
    }
    return QStringLiteral("a read of %1 first reads HR%2 back from the read-back station: set the "
                          "read-back station %3 (%4 to %5) first")
        .arg(storeLabel(step, kBroadcastEntry)).arg(kBroadcastRegister)
        .arg(storeLabel(step, kReadBackEntry)).arg(rule.min).arg(rule.max);
}

// Only word writes within entries 0 to 9 change what the checks look at.
void StoreModel::apply(const Step &step)
{
    if (!servedByStore(step) || !isWrite(step) || step.type->bits != 16 || lastEntry(step) >= kBroadcastEntry)
        return;
    for (int i = 0; i < step.count; ++i)
        m_entries[firstEntry(step) + i] = quint16(valueAt(step, i));
}

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
    *error = refusal(*step);
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
QString plotRefusal(const Options &options, int plotsBefore)
{
    if (options.outputPath.isEmpty())
        return QStringLiteral("plot needs -o OUT.png, the image to write");
    if (plotsBefore > 0)
        return QStringLiteral("plot: one plot a run, as -o names one image");
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
    step->stations = chain->stations;
    step->station = chain->stations.first();
    if (!checkStations(command, *step, error))
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
    int plots = 0;
    for (int i = 0; i < commands.size(); ++i) {
        Step step;
        if (!buildStep(commands[i], result.options, &chain, &step, error))
            return false;
        if (step.action == Step::Plot) {
            *error = plotRefusal(result.options, plots++);
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
        if (c.category() != QChar::Other_Control)
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
