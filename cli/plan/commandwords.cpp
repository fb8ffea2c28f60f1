#include "commandwords.h"

#include <algorithm>

#include "manualaddress.h"
#include "stepchecks.h"
#include "typedvalues.h"

namespace {

// read and poll: ADDRESS [TYPE] [COUNT] [FORMAT], the last three in any
// order, each at most once; the type word for registers (dword for int32
// and float), bit for the rest; int16 is a word shown signed.
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
        } else if (arg.compare(QLatin1String("int16"), Qt::CaseInsensitive) == 0) {
            // A word shown signed, as write takes an int16: a type and a format.
            if (typeGiven) {
                *error = QStringLiteral("a second data type, count or format: %1").arg(arg);
                return false;
            }
            step->type = dataTypeByName(QStringLiteral("word"));
            step->format = ValueFormat::Signed;
            typeGiven = true;
            given = &formatGiven;
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
    // Coils and inputs hold nothing but bits; int32 and float view the two
    // registers of a dword, as write takes them.
    const bool twoRegisters = step->format == ValueFormat::Int32 || step->format == ValueFormat::Float;
    if (!typeGiven && !step->address.area->registers)
        step->type = dataTypeByName(QStringLiteral("bit"));
    else if (!typeGiven && twoRegisters)
        step->type = dataTypeByName(QStringLiteral("dword"));
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
    // Logs show the values written as given: a typed value in its format,
    // a negative one signed.
    const bool negative = std::any_of(args.begin() + 2, args.end(), [](const QString &arg) {
        return arg.startsWith(QLatin1Char('-'));
    });
    step->format = typed ? typed->format : negative ? ValueFormat::Signed : ValueFormat::Decimal;
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

// Only poll reads several stations in one command.
bool checkStations(const Command &command, const Step &step, bool severalStations, QString *error)
{
    if (step.stations.size() > 1 && !severalStations) {
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

} // namespace

bool takeStations(const Command &command, const Chain &chain, bool severalStations, Step *step, QString *error)
{
    step->stations = chain.stations;
    step->station = chain.stations.first();
    return checkStations(command, *step, severalStations, error);
}

bool needsAddress(const Command &command, QString *error)
{
    if (!command.args.isEmpty())
        return true;
    *error = QStringLiteral("%1 needs an address, such as HR100").arg(command.name);
    return false;
}

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
