#include "options.h"

#include <climits>
#include <limits>
#include <utility>

#include <unistd.h>

#include <QSet>

#include "pathchecks.h"
#include "scanplan.h"
#include "simline.h"
#include "stationlist.h"
#include "tcpaddress.h"

namespace {

struct FlagOption
{
    const char *name;
    bool Options::*field;
};

const FlagOption kFlagOptions[] = {
    {"sim", &Options::sim},          {"trace", &Options::trace},          {"local-echo", &Options::localEcho},
    {"no-lock", &Options::noLock},   {"sim-pace", &Options::simPace},     {"sim-echo", &Options::simEcho},
    {"stats", &Options::stats},      {"dry-run", &Options::dryRun},       {"yes", &Options::yes},
    {"any-line", &Options::anyLine}, {"zero-based", &Options::zeroBased}, {"all-settings", &Options::allSettings},
};

// Whole numbers and the values each may take.
struct NumberOption
{
    const char *name;
    int Options::*field;
    int min;
    int max;
};

const NumberOption kNumberOptions[] = {
    {"timeout", &Options::timeout, 1, 60000},
    {"retries", &Options::retries, 0, 100},
    {"delay", &Options::delay, 0, 60000},
    {"inter-char", &Options::interCharMs, 0, 60000},
    {"interval", &Options::intervalMs, 0, 86400000},
    {"polls", &Options::polls, 0, INT_MAX},
    {"count", &Options::count, 1, INT_MAX},
    {"duration", &Options::durationS, 1, INT_MAX},
};

// Modbus RTU frames carry 8 data bits; the port also serves other lines.
bool parseModbusLine(const QString &value, LineSettings *settings, QString *error)
{
    if (!LineSettings::parse(value, settings, error))
        return false;
    if (settings->dataBits == 8)
        return true;
    *error = QStringLiteral("%1: Modbus RTU frames are 8 data bits, not %2").arg(value).arg(settings->dataBits);
    return false;
}

// Texts, each read by its own parser: false with a text naming the value.
// values is what shell completion offers for it (optionWords()).
struct TextOption
{
    const char *name;
    bool (*apply)(const QString &value, Options *options, QString *error);
    const char *values = "";
};

const TextOption kTextOptions[] = {
    {"device",
     [](const QString &value, Options *o, QString *error) {
         o->device = value;
         TcpAddress address;
         return !isTcpUrl(value) || parseTcpUrl(value, &address, error);
     },
     "DEVICE"},
    {"plugin",
     [](const QString &value, Options *o, QString *) {
         o->pluginPath = value;
         return true;
     },
     "FILE"},
    {"station",
     [](const QString &value, Options *o, QString *error) {
         return parseStationList(value, kBroadcastStation, kLastStation, &o->stations, error);
     }},
    {"csv",
     [](const QString &value, Options *o, QString *error) {
         o->csvPath = isStandardOutput(value) ? QStringLiteral("-") : value;
         return checkLogPath(o->csvPath, error);
     },
     "FILE"},
    {"csv-wide",
     [](const QString &value, Options *o, QString *error) {
         o->wideCsvPath = isStandardOutput(value) ? QStringLiteral("-") : value;
         return checkLogPath(o->wideCsvPath, error);
     },
     "FILE"},
    {"output",
     [](const QString &value, Options *o, QString *error) {
         o->outputPath = value;
         return checkNewFilePath(value, error);
     },
     "FILE"},
    {"map",
     [](const QString &value, Options *o, QString *) {
         o->mapPath = value;
         return true;
     },
     "FILE"},
    {"pcap",
     [](const QString &value, Options *o, QString *error) {
         o->pcapPath = isStandardOutput(value) ? QStringLiteral("-") : value;
         return checkLogPath(o->pcapPath, error);
     },
     "FILE"},
    {"timeline",
     [](const QString &value, Options *o, QString *error) {
         o->timelinePath = value;
         return checkNewFilePath(value, error);
     },
     "FILE"},
    {"line",
     [](const QString &value, Options *o, QString *error) {
         if (value == QLatin1String("auto")) {
             o->lineAuto = true;
             return true;
         }
         LineSettings settings;
         if (!parseModbusLine(value, &settings, error))
             return false;
         o->line = settings;
         return true;
     },
     "auto"},
    {"baud",
     [](const QString &value, Options *o, QString *error) {
         int baud = 0;
         if (!parseBaudRate(value, &baud))
             *error = QStringLiteral("unsupported baud rate: %1").arg(value);
         o->baud = baud;
         return error->isEmpty();
     },
     "9600 19200 38400 57600 115200"},
    {"parity",
     [](const QString &value, Options *o, QString *error) {
         LineSettings::Parity parity = LineSettings::NoParity;
         if (!parseParity(value, &parity))
             *error = QStringLiteral("unknown parity %1 (none, even or odd)").arg(value);
         o->parity = parity;
         return error->isEmpty();
     },
     "none even odd"},
    {"stop-bits",
     [](const QString &value, Options *o, QString *error) {
         int stopBits = 0;
         if (!parseStopBits(value, &stopBits))
             *error = QStringLiteral("a character has 1 or 2 stop bits, not %1").arg(value);
         o->stopBits = stopBits;
         return error->isEmpty();
     },
     "1 2"},
    {"format",
     [](const QString &value, Options *o, QString *error) {
         if (parseValueFormat(value, &o->format))
             return true;
         if (value == QLatin1String("json")) {
             o->json = true;
             return true;
         }
         *error = QStringLiteral("unknown format %1 (one of %2)")
                      .arg(value, (valueFormatNames() << QStringLiteral("json")).join(QStringLiteral(", ")));
         return false;
     },
     "FORMAT"},
    {"entry",
     [](const QString &value, Options *o, QString *error) {
         if (value == QLatin1String("plugin") || value == QLatin1String("create")) {
             o->entry = value == QLatin1String("create") ? DriverLoader::CreateDriverEntry : DriverLoader::QtPlugin;
             return true;
         }
         *error = QStringLiteral("unknown entry %1 (plugin or create)").arg(value);
         return false;
     },
     "plugin create"},
    {"sim-stations", [](const QString &value, Options *o,
                        QString *error) { return parseStationList(value, 1, kLastStation, &o->simStations, error); }},
    {"sim-faults",
     [](const QString &value, Options *o, QString *error) { return FaultPlan::parse(value, &o->simFaults, error); }},
    {"sim-seed",
     [](const QString &value, Options *o, QString *error) {
         if (parseDecimal(value, 0, std::numeric_limits<quint64>::max(), &o->simSeed))
             return true;
         *error = QStringLiteral("%1: a seed is a whole number from 0 to %2").arg(value).arg(std::numeric_limits<quint64>::max());
         return false;
     }},
    {"sim-model",
     [](const QString &value, Options *o, QString *error) { return parseDriveModel(value, &o->simModel, error); },
     "static servo"},
    {"sim-line",
     [](const QString &value, Options *o, QString *error) {
         LineSettings settings;
         if (!parseModbusLine(value, &settings, error))
             return false;
         o->simLine = settings;
         return true;
     }},
};

template <typename Option, std::size_t size>
const Option *findOption(const Option (&table)[size], const QString &name)
{
    for (const Option &option : table) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

bool takesValue(const QString &name)
{
    return findOption(kNumberOptions, name) || findOption(kTextOptions, name);
}

// The short options and their long names (-h is help's); -b, -P and -s
// as in mbpoll, whose hands type them.
const struct
{
    const char *word;
    const char *name;
} kShortOptions[] = {
    {"-d", "device"}, {"-f", "format"}, {"-o", "output"}, {"-b", "baud"}, {"-P", "parity"}, {"-s", "stop-bits"},
};

// An option word as the user spelled it, without an inline "=value".
QString spelledOption(const QString &word)
{
    return word.section(QLatin1Char('='), 0, 0);
}

// The long name of an option word: "--name", "--name=value", or a short
// option; empty when the word is no option.
QString optionName(const QString &word)
{
    if (word.startsWith(QLatin1String("--")))
        return spelledOption(word).mid(2);
    for (const auto &option : kShortOptions) {
        if (word == QLatin1String(option.word))
            return QLatin1String(option.name);
    }
    return QString();
}

bool applyValue(const QString &name, const QString &value, Options *options, QString *error)
{
    if (const NumberOption *number = findOption(kNumberOptions, name)) {
        quint64 parsed = 0;
        if (!parseDecimal(value, quint64(number->min), quint64(number->max), &parsed)) {
            *error = QStringLiteral("%1 is not a number from %2 to %3").arg(value).arg(number->min).arg(number->max);
            return false;
        }
        options->*(number->field) = int(parsed);
        return true;
    }
    return findOption(kTextOptions, name)->apply(value, options, error);
}

// The option word at args[*i] and its value, inline or the next word; *i
// moves past what it took.
bool takeOption(const QStringList &args, int *i, const QString &name, Options *options, QString *error)
{
    const QString &word = args[*i];
    const QString spelled = spelledOption(word);
    const bool inlineValue = word.contains(QLatin1Char('='));
    if (const FlagOption *flag = findOption(kFlagOptions, name)) {
        if (inlineValue) {
            *error = QStringLiteral("%1 takes no value").arg(spelled);
            return false;
        }
        options->*(flag->field) = true;
        return true;
    }
    if (!takesValue(name)) {
        *error = QStringLiteral("unknown option: %1").arg(word);
        return false;
    }
    if (!inlineValue && *i + 1 >= args.size()) {
        *error = QStringLiteral("%1 needs a value").arg(spelled);
        return false;
    }
    const QString value = inlineValue ? word.section(QLatin1Char('='), 1) : args[++*i];
    if (value.isEmpty()) {
        *error = QStringLiteral("%1 needs a value, not an empty text").arg(spelled);
        return false;
    }
    if (!applyValue(name, value, options, error)) {
        *error = spelled + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

// The option as the user spelled it, with its long name when that differs.
QString optionLabel(const QString &word, const QString &name)
{
    const QString spelled = spelledOption(word);
    const QString longName = QStringLiteral("--") + name;
    return spelled == longName ? spelled : QStringLiteral("%1 (%2)").arg(spelled, longName);
}

} // namespace

QString optionRange(const QString &name)
{
    if (name == QLatin1String("station"))
        return QStringLiteral("%1 to %2").arg(kBroadcastStation).arg(kLastStation);
    if (const NumberOption *number = findOption(kNumberOptions, name))
        return QStringLiteral("%1 to %2").arg(number->min).arg(number->max);
    return QString();
}

QStringList numberOptionNames()
{
    QStringList names;
    for (const NumberOption &option : kNumberOptions)
        names.append(QLatin1String(option.name));
    return names;
}

QList<OptionWord> optionWords()
{
    QList<OptionWord> words;
    for (const FlagOption &option : kFlagOptions)
        words.append({QLatin1String(option.name), QString(), false, QString()});
    for (const NumberOption &option : kNumberOptions)
        words.append({QLatin1String(option.name), QString(), true, QString()});
    for (const TextOption &option : kTextOptions)
        words.append({QLatin1String(option.name), QString(), true, QLatin1String(option.values)});
    for (OptionWord &word : words) {
        for (const auto &option : kShortOptions) {
            if (word.name == QLatin1String(option.name))
                word.shortWord = QLatin1String(option.word);
        }
        if (word.name == QLatin1String("zero-based"))
            word.shortWord = QStringLiteral("-0");
    }
    return words;
}

InfoRequest infoRequest(const QStringList &args)
{
    if (args == QStringList{QStringLiteral("--completion"), QStringLiteral("bash")})
        return InfoRequest::Completion;
    for (const QString &word : args) {
        if (word == QLatin1String("-h") || word == QLatin1String("--help"))
            return InfoRequest::Help;
        if (word == QLatin1String("--version"))
            return InfoRequest::Version;
    }
    return InfoRequest::None;
}

// Options begin with "--", or are -d, -f, -o, -b, -P, -s or -h, wherever they stand;
// before the first command any other "-X" is taken for an option too (after
// it, "-5" is a value). Each option is given once.
bool parseCommandLine(const QStringList &args, Options *options, QList<Command> *commands, QString *error)
{
    QString simOption; // the first --sim or --sim-* given: they mean nothing with --device
    QSet<QString> given;
    for (int i = 0; i < args.size(); ++i) {
        const QString &word = args[i];
        // -0 is an option before the command; after it, a value.
        const QString name = word == QLatin1String("-0") && commands->isEmpty()
                                 ? QStringLiteral("zero-based")
                                 : optionName(word);
        const bool isOption = word.startsWith(QLatin1String("--")) || !name.isEmpty()
                              || (commands->isEmpty() && word.size() == 2 && word[0] == QLatin1Char('-'));
        if (isOption) {
            if (!takeOption(args, &i, name, options, error))
                return false;
            if (given.contains(name)) {
                *error = QStringLiteral("%1 given twice").arg(optionLabel(word, name));
                return false;
            }
            given.insert(name);
            options->given.append(name);
            if ((name == QLatin1String("sim") || name.startsWith(QLatin1String("sim-"))) && simOption.isEmpty())
                simOption = spelledOption(word);
            continue;
        }
        if (word == QLatin1String("then")) {
            if (commands->isEmpty()) {
                *error = QStringLiteral("\"then\" joins two commands, and none stands before it");
                return false;
            }
            if (++i >= args.size()) {
                *error = QStringLiteral("\"then\" needs a command after it");
                return false;
            }
            commands->append(Command{args[i], QStringList()});
        } else if (commands->isEmpty()) {
            commands->append(Command{word, QStringList()});
        } else {
            commands->last().args.append(word);
        }
    }
    if (!options->device.isEmpty() && !simOption.isEmpty()) {
        *error = QStringLiteral("%1 applies only to the built-in simulated line, not with --device").arg(simOption);
        return false;
    }
    if (options->noLock && !isTcpUrl(options->device)) {
        *error = QStringLiteral("--no-lock goes only with a -d tcp:// line (a serial device is always "
                                "taken for one master)");
        return false;
    }
    if (commands->isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    options->sim = !simOption.isEmpty();
    QStringList toStdout;
    for (const auto &[asks, name] :
         {std::pair(options->csvPath == QLatin1String("-"), "--csv -"),
          std::pair(options->wideCsvPath == QLatin1String("-"), "--csv-wide -"),
          std::pair(options->pcapPath == QLatin1String("-"), "--pcap -"), std::pair(options->json, "--format json")}) {
        if (asks)
            toStdout.append(QLatin1String(name));
    }
    if (toStdout.size() > 1) {
        *error = QStringLiteral("standard output takes one of --csv -, --csv-wide -, --pcap - and --format json, not %1")
                     .arg(toStdout.join(QLatin1String(" and ")));
        return false;
    }
    if (options->pcapPath == QLatin1String("-") && isatty(STDOUT_FILENO)) {
        *error = QStringLiteral("--pcap -: standard output is a terminal, and a capture is no text "
                                "(pipe it: | wireshark -k -i -)");
        return false;
    }
    return true;
}
