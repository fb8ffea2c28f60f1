#include "backup.h"
#include "commandwords.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include <poll.h>
#include <unistd.h>

#include <QDateTime>

#include "communicatorcommand.h"
#include "driverinterface.h"
#include "interrupt.h"
#include "newfile.h"
#include "serialport.h"
#include "session.h"

namespace {

int failure(const QString &text)
{
    std::fprintf(stderr, "servoctl: %s\n", qPrintable(text));
    return 1;
}

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

CommunicatorCommand commandFor(const ParamEntry &entry)
{
    return CommunicatorCommand(entry.type->code, 1, entry.address.text);
}

// One entry's value from the drive: kParamCallDone, or the status to stop with.
int readValue(const ParamLine &line, const ParamEntry &entry, const char *what, quint64 *value)
{
    const QString context = QStringLiteral("%1 %2").arg(QLatin1String(what), entry.label());
    const PortCounters before = line.port->counters();
    const QByteArray data = line.read(commandFor(entry));
    if (const int status = line.check(context, before, true); status != kParamCallDone)
        return status;
    if (!itemAt(data, *entry.type, 0, value))
        return failure(QStringLiteral("%1: the driver returned %2 bytes").arg(context).arg(data.size()));
    return kParamCallDone;
}

int writeValue(const ParamLine &line, const ParamEntry &entry)
{
    const PortCounters before = line.port->counters();
    const bool done = line.write(commandFor(entry), entry.data);
    return line.check(QStringLiteral("write %1").arg(entry.label()), before, done);
}

// Paths are the user's and may hold anything: escaped, none adds a line.
QStringList backupHeader(const Step &step, const Options &options, const SerialPort &port)
{
    return {
        QStringLiteral("# servoctl %1 backup").arg(QLatin1String(SERVOCTL_VERSION)),
        QStringLiteral("# saved: %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"))),
        QStringLiteral("# station: %1").arg(step.station),
        QStringLiteral("# line: %1").arg(lineText(options, port.lineSettings())),
        QStringLiteral("# map: %1").arg(visibleText(options.mapPath)),
        backupHeaderEnd(),
    };
}

QStringList addressesOf(const QList<ParamEntry> &entries)
{
    QStringList addresses;
    for (const ParamEntry &entry : entries)
        addresses.append(entry.address.text);
    return addresses;
}

QString listOrNone(const QStringList &items)
{
    return items.isEmpty() ? QStringLiteral("none") : items.join(QStringLiteral(", "));
}

// How far a restore got with the entry it stopped at.
enum class Stage { Planning, DryRun, Writing, Acknowledged };

// A restore that stops part-way says what it left written and what not, and
// whether the drive took the write whose read-back failed or differed.
int restoreStopped(const ParamEntry &at, const QStringList &written, const QList<ParamEntry> &notReached,
                   Stage stage, int status)
{
    QString done = QStringLiteral("written and verified: ") + listOrNone(written);
    if (stage == Stage::DryRun)
        done = QStringLiteral("dry run, nothing written");
    else if (stage == Stage::Planning)
        done = QStringLiteral("nothing written");
    const char *acknowledged = stage == Stage::Acknowledged
                                   ? " (the drive acknowledged its write; the read-back did not confirm it)"
                                   : "";
    std::fprintf(stderr, "servoctl: restore stopped at %s%s: %s; not reached: %s\n", qPrintable(at.label()),
                 acknowledged, qPrintable(done), qPrintable(listOrNone(addressesOf(notReached))));
    return status;
}

enum class Outcome { Unchanged, WouldWrite, Written };

// One entry restored: read, written when it differs, read back. The outcome
// when it went through, else the status to stop with; *stage says how far
// it got.
int restoreEntry(const ParamLine &line, const ParamEntry &entry, bool dryRun, Outcome *outcome, Stage *stage)
{
    quint64 current = 0;
    if (const int status = readValue(line, entry, "read", &current); status != kParamCallDone)
        return status;
    const QString change = QStringLiteral("%1: %2 -> %3")
                               .arg(entry.label(), entry.valueText(current), entry.valueText(entry.value));
    if (current == entry.value) {
        say(QStringLiteral("%1: %2, unchanged").arg(entry.label(), entry.valueText(current)));
        *outcome = Outcome::Unchanged;
        return kParamCallDone;
    }
    if (dryRun) {
        say(change + QStringLiteral(", would be written"));
        *outcome = Outcome::WouldWrite;
        return kParamCallDone;
    }
    if (const int status = writeValue(line, entry); status != kParamCallDone)
        return status;
    *stage = Stage::Acknowledged;
    quint64 readBack = 0;
    if (const int status = readValue(line, entry, "read back", &readBack); status != kParamCallDone)
        return status;
    if (readBack != entry.value) {
        say(change + QStringLiteral(", written, but read back %1").arg(entry.valueText(readBack)));
        return failure(QStringLiteral("%1: wrote %2, read back %3")
                           .arg(entry.label(), entry.valueText(entry.value), entry.valueText(readBack)));
    }
    say(change + QStringLiteral(", written, verified"));
    *outcome = Outcome::Written;
    return kParamCallDone;
}

QString entriesText(int count)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? "entry" : "entries"));
}

// Only "y" or "yes" (any case) on the terminal writes; anything else, the
// end of the input or a signal leaves the drive as it is.
bool askOnTerminal(const QString &question)
{
    std::fprintf(stderr, "servoctl: %s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    QByteArray answer;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptWakeFd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (interruptSignal())
            return false;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        answer += c;
    }
    const QByteArray word = answer.trimmed().toLower();
    return word == "y" || word == "yes";
}

// 0 when the restore may write: --yes, or a "yes" on the terminal.
int confirmRestore(const Options &options, const QString &what)
{
    if (options.yes)
        return 0;
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "servoctl: restore: nothing written: no terminal to ask on (standard input is "
                             "not one); --yes writes without asking\n");
        return kRestoreNotConfirmed;
    }
    if (askOnTerminal(QStringLiteral("write %1?").arg(what)))
        return 0;
    std::fprintf(stderr, "servoctl: restore: nothing written\n");
    return kRestoreNotConfirmed;
}

QString restoreSummary(int entries, int changed, int unchanged, bool dryRun)
{
    if (dryRun) {
        return QStringLiteral("dry run of %1: %2 would be written, %3 unchanged; nothing written")
            .arg(entriesText(entries))
            .arg(changed)
            .arg(unchanged);
    }
    return QStringLiteral("restored %1: %2 written and verified, %3 unchanged")
        .arg(entriesText(entries))
        .arg(changed)
        .arg(unchanged);
}

} // namespace

namespace {

// backup (with --map and -o) and restore FILE, the map or the file read
// whole; a backup taken on the other kind of line (simulated or a device)
// is refused without --any-line.
bool parseParamCommand(const Command &command, const Options &options, Step *step, QString *error)
{
    const bool backup = step->action == Step::Backup;
    if (backup && !command.args.isEmpty()) {
        *error = QStringLiteral("backup takes no arguments (the map is --map's, the file -o's): %1")
                     .arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    if (!backup && command.args.size() != 1) {
        *error = command.args.isEmpty()
                     ? QStringLiteral("restore needs a backup file: restore FILE")
                     : QStringLiteral("restore takes one backup file: %1").arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    if (backup && (options.mapPath.isEmpty() || options.outputPath.isEmpty())) {
        *error = QStringLiteral("backup needs %1")
                     .arg(QLatin1String(options.mapPath.isEmpty() ? "--map MAP, the parameters to read"
                                                                  : "-o FILE, the file to write"));
        return false;
    }
    if (step->station == 0) {
        *error = QStringLiteral("%1: station 0 is the broadcast address, and no drive answers a read").arg(command.name);
        return false;
    }
    step->paramPath = backup ? options.mapPath : command.args[0];
    if (!readParamFile(step->paramPath, backup ? ParamFileKind::Map : ParamFileKind::Backup, &step->params, error))
        return false;
    // Simulated values on real drives, or the reverse, only when asked for.
    const QString &saved = step->params.line;
    const bool savedSimulated = saved.startsWith(QLatin1String(kSimulatedLineText));
    if (backup || saved.isEmpty() || options.anyLine || savedSimulated == options.device.isEmpty())
        return true;
    *error = QStringLiteral("restore: %1 was saved on another kind of line (%2); not restored onto %3 without --any-line")
                 .arg(step->paramPath, saved,
                      options.device.isEmpty() ? QStringLiteral("the built-in simulated line") : options.device);
    return false;
}

bool buildParamCommand(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, false, step, error) && parseParamCommand(command, options, step, error);
}

int runBackup(Session &session, const Step &step)
{
    const Options &options = session.options();
    const ParamLine line = session.paramLine(step);
    QStringList lines = backupHeader(step, options, *line.port);
    for (const ParamEntry &entry : step.params.entries) {
        quint64 value = 0;
        if (const int status = readValue(line, entry, "read", &value); status != kParamCallDone) {
            failure(QStringLiteral("backup stopped at %1: nothing written to %2").arg(entry.label(), options.outputPath));
            return status;
        }
        say(QStringLiteral("%1 = %2").arg(entry.label(), entry.valueText(value)));
        lines.append(backupLine(entry, value));
    }
    QString error;
    if (!writeNewFile(options.outputPath, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), &error))
        return failure(error);
    say(QStringLiteral("saved %1 of station %2 to %3")
            .arg(entriesText(step.params.entries.size()))
            .arg(step.station)
            .arg(options.outputPath));
    return 0;
}

// A plan first (every entry read, nothing written, as --dry-run), then,
// once confirmed, the entries that differ written and read back.
int runRestore(Session &session, const Step &step)
{
    const Options &options = session.options();
    const ParamLine line = session.paramLine(step);
    const QList<ParamEntry> &entries = step.params.entries;
    if (step.params.station >= 0 && step.params.station != step.station) {
        std::fprintf(stderr, "servoctl: %s was saved from station %d; restoring to station %d\n",
                     qPrintable(step.paramPath), step.params.station, step.station);
    }
    QList<ParamEntry> toWrite;
    for (int i = 0; i < entries.size(); ++i) {
        Outcome outcome = Outcome::Unchanged;
        Stage stage = options.dryRun ? Stage::DryRun : Stage::Planning;
        if (const int status = restoreEntry(line, entries[i], true, &outcome, &stage); status != kParamCallDone)
            return restoreStopped(entries[i], {}, entries.mid(i + 1), stage, status);
        if (outcome == Outcome::WouldWrite)
            toWrite.append(entries[i]);
    }
    if (options.dryRun || toWrite.isEmpty()) {
        say(restoreSummary(entries.size(), toWrite.size(), entries.size() - toWrite.size(), options.dryRun));
        return 0;
    }
    const QString what = QStringLiteral("%1 to station %2 on %3")
                             .arg(entriesText(toWrite.size()))
                             .arg(step.station)
                             .arg(lineText(options, line.port->lineSettings()));
    if (const int status = confirmRestore(options, what))
        return status;
    QStringList written;
    for (int i = 0; i < toWrite.size(); ++i) {
        Outcome outcome = Outcome::Unchanged;
        Stage stage = Stage::Writing;
        if (const int status = restoreEntry(line, toWrite[i], false, &outcome, &stage); status != kParamCallDone)
            return restoreStopped(toWrite[i], written, toWrite.mid(i + 1), stage, status);
        if (outcome == Outcome::Written)
            written.append(toWrite[i].address.text);
    }
    say(restoreSummary(entries.size(), written.size(), entries.size() - written.size(), false));
    return 0;
}

} // namespace

extern const CommandEntry backupCommand = {
    "backup", Step::Backup, true, false, true, false, buildParamCommand, runBackup, "backup --map MAP -o FILE", "read the parameters MAP lists into a new FILE"};
extern const CommandEntry restoreCommand = {
    "restore",
    Step::Restore,
    true,
    false,
    false,
    false,
    buildParamCommand,
    runRestore,
    "restore FILE [--dry-run]",
    "read every entry and show what differs (the\n"
    "plan), then, once confirmed, write those\n"
    "values back, each read back and compared;\n"
    "stops at the first failure, saying what it\n"
    "wrote. On a terminal it asks (y/N); otherwise\n"
    "it writes only with --yes. A backup taken on\n"
    "the other kind of line (simulated or a\n"
    "device) is refused without --any-line"};
