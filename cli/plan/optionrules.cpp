#include "optionrules.h"

#include <algorithm>

#include "tcpaddress.h"

// --dry-run, --yes and --any-line are a restore's; --map names what a
// backup saves, and what plot and monitor call the signals.
QString paramOptionsRefusal(const Options &options, const QList<Step> &steps)
{
    int backups = 0;
    int restores = 0;
    int monitors = 0;
    for (const Step &step : steps) {
        monitors += step.action == Step::Monitor ? 1 : 0;
        if (options.dryRun && step.action != Step::Station && step.action != Step::Restore)
            return QStringLiteral("--dry-run goes only with restore, not with %1").arg(step.text);
        backups += step.action == Step::Backup ? 1 : 0;
        restores += step.action == Step::Restore ? 1 : 0;
    }
    if (options.dryRun && restores == 0)
        return QStringLiteral("--dry-run goes only with restore");
    if (options.dryRun && options.yes)
        return QStringLiteral("--yes goes only with a restore that writes, not with --dry-run");
    const bool plots = std::any_of(steps.begin(), steps.end(), [](const Step &step) {
        return step.action == Step::Plot;
    });
    if (!options.mapPath.isEmpty() && backups == 0 && !plots && monitors == 0)
        return QStringLiteral("--map goes only with backup, plot or monitor");
    return QString();
}

namespace {

constexpr unsigned actionBit(Step::Action action)
{
    return 1u << action;
}

// Options that only some commands use: given with none of them, they would
// change nothing, and the user would think they had.
const struct
{
    const char *name;  // the long name
    const char *shown; // as the refusal names it
    unsigned actions;  // actionBit()s of the commands that use it
    const char *users; // and their names
} kOptionUsers[] = {
    {"polls", "--polls", actionBit(Step::Poll), "poll"},
    {"interval", "--interval", actionBit(Step::Poll), "poll"},
    {"zero-based", "-0 (--zero-based)", actionBit(Step::Read) | actionBit(Step::Write) | actionBit(Step::Poll),
     "read, write or poll"},
    {"all-settings", "--all-settings", actionBit(Step::Scan), "scan"},
    {"pcap", "--pcap", actionBit(Step::Monitor), "monitor"},
    {"timeline", "--timeline", actionBit(Step::Monitor), "monitor"},
    {"count", "--count", actionBit(Step::Monitor), "monitor"},
    {"duration", "--duration", actionBit(Step::Monitor), "monitor"},
    {"yes", "--yes", actionBit(Step::Restore), "restore"},
    {"any-line", "--any-line", actionBit(Step::Restore), "restore"},
};

} // namespace

QString unusedOptionRefusal(const Options &options, const QList<Step> &steps)
{
    unsigned actions = 0;
    for (const Step &step : steps)
        actions |= actionBit(step.action);
    for (const auto &option : kOptionUsers) {
        if (options.given.contains(QLatin1String(option.name)) && !(actions & option.actions))
            return QStringLiteral("%1 goes only with %2").arg(QLatin1String(option.shown), QLatin1String(option.users));
    }
    return QString();
}

QString wideCsvRefusal(const Options &options, const QList<Step> &steps)
{
    if (options.wideCsvPath.isEmpty())
        return QString();
    int reads = 0;
    for (const Step &step : steps)
        reads += step.action == Step::Read || step.action == Step::Poll ? 1 : 0;
    if (reads == 1)
        return QString();
    return QStringLiteral("--csv-wide has one column a signal: it goes with one read or poll a run, not %1").arg(reads);
}

QString jsonRefusal(const Options &options, const QList<Step> &steps)
{
    if (!options.json)
        return QString();
    for (const Step &step : steps) {
        if (step.action == Step::Read || step.action == Step::Poll || step.action == Step::Scan
            || step.action == Step::Monitor)
            return QString();
    }
    return QStringLiteral("--format json writes what read, poll, scan or monitor find: it goes with one of them");
}

QString monitorOptionsRefusal(const Options &options, const QList<Step> &steps)
{
    bool monitor = false;
    for (const Step &step : steps)
        monitor = monitor || step.action == Step::Monitor;
    if (monitor && steps.size() > 1)
        return QStringLiteral("monitor runs alone, not joined with \"then\"");
    // Drawn when the listening ends by itself: an interrupt ends gnuplot too.
    if (!options.timelinePath.isEmpty() && options.count == 0 && options.durationS == 0)
        return QStringLiteral("--timeline needs --count or --duration: the picture is drawn when the listening ends");
    return QString();
}

QString lineAutoRefusal(const Options &options, const QList<Step> &steps)
{
    if (!options.lineAuto)
        return QString();
    for (const Step &step : steps) {
        if (step.action != Step::Monitor && step.action != Step::Scan)
            return QStringLiteral("--line auto goes only with monitor or scan");
    }
    if (options.device.isEmpty())
        return QStringLiteral("--line auto listens to a device (-d), not to the built-in simulated line");
    if (isTcpUrl(options.device))
        return QStringLiteral("--line auto listens to a serial line: over TCP the converter's own settings apply");
    for (const auto &[given, name] :
         {std::pair(options.baud.has_value(), "--baud"), std::pair(options.parity.has_value(), "--parity"),
          std::pair(options.stopBits.has_value(), "--stop-bits")}) {
        if (given)
            return QStringLiteral("%1 goes not with --line auto, which takes the settings heard").arg(QLatin1String(name));
    }
    return QString();
}
