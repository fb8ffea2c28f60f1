#include "plan.h"

#include "commandentry.h"
#include "optionrules.h"

namespace {

// -o names the one file a backup or a plot writes; --csv logs what reads read.
QString fileOptionsRefusal(const Options &options, const QList<Step> &steps)
{
    int writers = 0;
    bool reads = false;
    for (const Step &step : steps) {
        const CommandEntry &command = *step.entry;
        writers += command.writesOutput ? 1 : 0;
        reads = reads || command.readsValues;
    }
    if (writers > 1)
        return QStringLiteral("-o names one file: one backup or plot a run");
    if (writers == 0 && !options.outputPath.isEmpty())
        return QStringLiteral("-o goes only with backup or plot (a log of values is --csv)");
    if (!reads && !options.csvPath.isEmpty())
        return QStringLiteral("--csv logs the values read: it goes with read or poll");
    return QString();
}

// A forgotten -d must not quietly become simulated drives whose values a
// backup or a script then takes for real ones. An unknown command is named
// as such later.
QString lineRefusal(const CommandTable &table, const Options &options, const QList<Command> &commands)
{
    if (!options.device.isEmpty() || options.sim)
        return QString();
    for (const Command &command : commands) {
        const CommandEntry *entry = findCommand(table, command.name);
        if (entry && entry->usesLine) {
            return QStringLiteral("no line given: -d DEVICE for a serial line, or --sim for the "
                                  "built-in simulated line");
        }
    }
    return QString();
}

// *chain is what is in effect before the command, and after it.
bool buildStep(const CommandTable &table, const Command &command, const Options &options, Chain *chain, Step *step,
               QString *error)
{
    step->text = (QStringList{command.name} + command.args).join(QLatin1Char(' '));
    const CommandEntry *entry = findCommand(table, command.name);
    if (!entry) {
        *error = QStringLiteral("unknown command: %1").arg(command.name);
        return false;
    }
    step->action = entry->action;
    step->entry = entry;
    return entry->build(command, options, chain, step, error);
}

bool buildPlan(const QStringList &args, const CommandTable &table, Plan *plan, QString *error)
{
    Plan result;
    QList<Command> commands;
    if (!parseCommandLine(args, &result.options, &commands, error))
        return false;
    *error = lineRefusal(table, result.options, commands);
    if (!error->isEmpty())
        return false;
    Chain chain;
    if (!result.options.stations.isEmpty())
        chain.stations = result.options.stations;
    for (int i = 0; i < commands.size(); ++i) {
        Step step;
        if (!buildStep(table, commands[i], result.options, &chain, &step, error))
            return false;
        const bool last = i == commands.size() - 1;
        if (step.action == Step::Poll && result.options.polls == 0 && !last) {
            *error = QStringLiteral("poll %1: without --polls it polls until interrupted, so the "
                                    "commands after it would never run")
                         .arg(step.address.text);
            return false;
        }
        result.steps.append(step);
    }
    *error = unusedOptionRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = paramOptionsRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = fileOptionsRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = wideCsvRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = jsonRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = monitorOptionsRefusal(result.options, result.steps);
    if (error->isEmpty())
        *error = lineAutoRefusal(result.options, result.steps);
    if (!error->isEmpty())
        return false;
    *plan = result;
    return true;
}

} // namespace

StepData::~StepData() = default;

// A refusal is one line: control characters the user typed (a carriage
// return pasted along) or a file held show as escapes.
QString visibleText(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Separator_Line && category != QChar::Separator_Paragraph)
            shown += c;
        else if (c == QLatin1Char('\r'))
            shown += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            shown += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QLatin1String("\\t");
        else
            shown += QStringLiteral("\\x%1")
                         .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0')));
    }
    return shown;
}

bool parsePlan(const QStringList &args, const CommandTable &commands, Plan *plan, QString *error)
{
    if (buildPlan(args, commands, plan, error))
        return true;
    *error = visibleText(*error);
    return false;
}

bool runsUntilStopped(const Step &step, const Options &options)
{
    switch (step.action) {
    case Step::Poll:
        return options.polls == 0;
    case Step::Monitor:
        return options.count == 0 && options.durationS == 0;
    case Step::Gateway:
        return true;
    default:
        return false;
    }
}

const CommandEntry *findCommand(const CommandTable &commands, const QString &name)
{
    for (const CommandEntry &entry : commands) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

QString lineText(const Options &options, const LineSettings &settings)
{
    const QString where = options.device.isEmpty() ? QLatin1String(kSimulatedLineText) : visibleText(options.device);
    return QStringLiteral("%1, %2").arg(where, settings.toString());
}
