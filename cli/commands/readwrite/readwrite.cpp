// The read and write commands: an item read and shown, or written and
// acknowledged (a broadcast sent), through the driver on the session's line.

#include "commandwords.h"
#include "session.h"

#include <cstdio>

#include <QDateTime>

#include "communicatorcommand.h"
#include "frametrace.h"
#include "interrupt.h"
#include "manualaddress.h"
#include "serialport.h"
#include "stepchecks.h"
#include "storemodel.h"

void warnPastStandard(const QString &context, const Step &step)
{
    if (const QString text = pastStandardWarning(step); !text.isEmpty())
        warn(QStringLiteral("%1: %2").arg(context, text));
}

namespace {

int reportWritten(Session &session, const Step &step, const char *what)
{
    if (session.trace())
        session.trace()->flush();
    std::printf("%s: %s %d %s\n", qPrintable(shownLabel(step.address.text, step.address.manualForm)), what,
                step.count, step.count == 1 ? step.type->name : step.type->plural);
    std::fflush(stdout);
    return 0;
}

// A function-5 or 6 write is acknowledged with the request's own bytes,
// which an echoing adapter also hands back; on a line not yet shown silent
// the port can then only wait and, where nothing tells, call the write
// uncertain. A read of the same item first lets the line show it: its
// answer comes with no echo before it, or its echo gives the adapter away.
// Bits inside registers need none (the driver reads before it writes), nor
// the special store (the driver's own words). The read's own failure is no
// failure of the write; a line that stopped (it echoes, it was lost) is.
int showWhetherTheLineEchoes(Session &session, const Step &step, const QString &context)
{
    const bool coils = !step.address.area->registers;
    if (!step.address.area->requestPerItem || session.port()->localEcho() || session.port()->isSilent()
        || (!coils && step.type->code == CommunicatorCommand::Bit)
        || (!coils && step.type->code == CommunicatorCommand::Bit2)
        || (!coils && step.address.number >= kStoreFirst && step.address.number <= kStoreLast))
        return Session::kGoOn;
    const PortCounters before = session.port()->counters();
    session.driverRead(CommunicatorCommand(coils ? CommunicatorCommand::Bit : CommunicatorCommand::Word, 1,
                                           step.address.text));
    return session.afterDriverCall(context, before);
}

// The write in the logs, at the time it was commanded (status: the outcome,
// kGoOn when acknowledged); then that outcome.
int logWritten(Session &session, const Step &step, qint64 commandedAtMs, int status)
{
    QString error;
    if (status != Session::kGoOn)
        error = interruptSignal() ? QStringLiteral("interrupted: not known whether it was carried out") : lastFailureText();
    if (const int logged = session.logWrite(step, commandedAtMs, error))
        return logged;
    return status;
}

// Station 0: every drive carries the write out and none answers, so it is
// sent once and not waited for; the driver's "no response" is expected.
int broadcast(Session &session, const Step &step)
{
    const PortCounters before = session.port()->counters();
    const int retries = session.port()->retryCount();
    session.port()->setRetryCount(0);
    const qint64 commandedAtMs = QDateTime::currentMSecsSinceEpoch();
    session.driverWrite(driverCommand(step), step.data);
    session.port()->setRetryCount(retries);
    const QString context = QStringLiteral("write %1").arg(step.address.text);
    int status = session.afterDriverCall(context, before);
    if (status == Session::kGoOn
        && (session.port()->counters().requests == before.requests || session.port()->echoGarbled()))
        status = failure(context, session.failureText());
    if (const int outcome = logWritten(session, step, commandedAtMs, status); outcome != Session::kGoOn)
        return outcome;
    return reportWritten(session, step, "broadcast sent,");
}

} // namespace

namespace {

bool buildReadOrWrite(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    return takeStations(command, *chain, false, step, error) && needsAddress(command, error)
           && buildTarget(command.name, command.args, options, chain, step, error);
}

int runRead(Session &session, const Step &step)
{
    const QString context = QStringLiteral("read %1").arg(step.address.text);
    warnPastStandard(context, step);
    const PortCounters before = session.port()->counters();
    const QByteArray data = session.driverRead(driverCommand(step));
    const qint64 readAtMs = QDateTime::currentMSecsSinceEpoch();
    if (const int status = session.callOutcome(context, before, true, step.station, "answer"); status != Session::kGoOn) {
        if (!interruptSignal() && session.logFailure(step, step.station, lastFailureText(), readAtMs) == 0)
            session.endWideRow();
        return status;
    }
    if (session.trace())
        session.trace()->flush();
    for (const QString &line : describeItems(step, data))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    if (const int status = session.logValues(step, itemValues(step, data), readAtMs))
        return status;
    return session.endWideRow();
}

int runWrite(Session &session, const Step &step)
{
    const QString context = QStringLiteral("write %1").arg(step.address.text);
    warnPastStandard(context, step);
    if (step.broadcast)
        return broadcast(session, step);
    if (const int status = showWhetherTheLineEchoes(session, step, context); status != Session::kGoOn)
        return status;
    const PortCounters before = session.port()->counters();
    const qint64 commandedAtMs = QDateTime::currentMSecsSinceEpoch();
    const bool done = session.driverWrite(driverCommand(step), step.data);
    const int status = session.callOutcome(context, before, done, step.station, "acknowledgement");
    if (const int outcome = logWritten(session, step, commandedAtMs, status); outcome != Session::kGoOn)
        return outcome;
    return reportWritten(session, step, "wrote");
}

} // namespace

extern const CommandEntry readCommand = {
    "read",
    Step::Read,
    true,
    false,
    false,
    true,
    buildReadOrWrite,
    runRead,
    "read ADDRESS [TYPE] [COUNT] [FORMAT]",
    "read COUNT items (default 1) of TYPE (default\n"
    "word; bit for DO and DI)"};
extern const CommandEntry writeCommand = {
    "write", Step::Write, true, false, false, false, buildReadOrWrite, runWrite, "write ADDRESS TYPE VALUE...", "write the values, one item each"};
