#include "commands.h"

// Every command, a row each, in --help's order; its entry, NAMECommand,
// is in its folder under commands/.
// clang-format off
#define SERVOCTL_COMMANDS(ROW) \
    ROW(info)                  \
    ROW(read)                  \
    ROW(write)                 \
    ROW(poll)                  \
    ROW(station)               \
    ROW(scan)                  \
    ROW(backup)                \
    ROW(restore)               \
    ROW(plot)                  \
    ROW(monitor)               \
    ROW(gateway)
// clang-format on

#define SERVOCTL_DECLARE(name) extern const CommandEntry name##Command;
SERVOCTL_COMMANDS(SERVOCTL_DECLARE)

namespace {

// --help's command column: the usage, then the text from this column on
// (on a line of its own when the usage reaches it).
const int kHelpColumn = 31;

} // namespace

const CommandTable &commandTable()
{
#define SERVOCTL_ENTRY(name) name##Command,
    static const CommandTable kCommands = {SERVOCTL_COMMANDS(SERVOCTL_ENTRY)};
    return kCommands;
}

const CommandEntry *commandByName(const QString &name)
{
    return findCommand(commandTable(), name);
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
