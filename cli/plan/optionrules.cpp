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
    for (const auto &[given, name] : {std::pair(options.dryRun, "--dry-run"), std::pair(options.yes, "--yes"),
                                      std::pair(options.anyLine, "--any-line")}) {
        if (given && restores == 0)
            return QStringLiteral("%1 goes only with restore").arg(QLatin1String(name));
    }
    if (options.dryRun && options.yes)
        return QStringLiteral("--yes goes only with a restore that writes, not with --dry-run");
    const bool plots = std::any_of(steps.begin(), steps.end(), [](const Step &step) {
        return step.action == Step::Plot;
    });
    if (!options.mapPath.isEmpty() && backups == 0 && !plots && monitors == 0)
        return QStringLiteral("--map goes only with backup, plot or monitor");
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
    for (const auto &[given, name] :
         {std::pair(!options.pcapPath.isEmpty(), "--pcap"), std::pair(!options.timelinePath.isEmpty(), "--timeline"),
          std::pair(options.count > 0, "--count"), std::pair(options.durationS > 0, "--duration")}) {
        if (given && !monitor)
            return QStringLiteral("%1 goes only with monitor").arg(QLatin1String(name));
    }
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
    return QString();
}
