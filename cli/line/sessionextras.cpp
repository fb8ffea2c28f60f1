// What a run keeps beyond the values it prints: the CSV log and the
// statistics; and the commands that drive a line through helpers of their
// own (scan, backup and restore).
#include "session.h"

#include <cstdio>

#include <fcntl.h>

#include "paramline.h"
#include "csvlog.h"
#include "dataout.h"
#include "jsonlines.h"
#include "widecsv.h"
#include "writeall.h"
#include "driverinterface.h"
#include "faultplan.h"
#include "frametrace.h"
#include "interrupt.h"
#include "serialport.h"
#include "simline.h"
#include "systemerror.h"
#include "termiosline.h"

int Session::openLog(const Step &step)
{
    QString error;
    if (m_options.json && m_jsonFd < 0) {
        m_jsonFd = fcntl(dataOutputFd(), F_DUPFD_CLOEXEC, 3);
        if (m_jsonFd < 0)
            return failure(QStringLiteral("standard output"), systemReason());
    }
    const bool readsValues = step.action == Step::Read || step.action == Step::Poll;
    if (!m_options.wideCsvPath.isEmpty() && !m_wide && readsValues) {
        m_wide.reset(new WideCsv);
        if (!m_wide->open(m_options.wideCsvPath, step, &error))
            return failure(QString(), error);
    }
    if (m_options.csvPath.isEmpty() || m_csv)
        return 0;
    m_csv.reset(new CsvLog);
    if (!m_csv->open(m_options.csvPath, lineText(m_options, m_port->lineSettings()), &error))
        return failure(QString(), error);
    return 0;
}

// A reader of standard output that went away (| head) is a signal, and
// the signal decides: no failure of its own.
int Session::writeJson(const QByteArray &line)
{
    if (m_jsonFd < 0)
        return 0;
    if (const int error = writeAll(m_jsonFd, line))
        return interruptSignal() ? 0 : failure(QStringLiteral("standard output"), systemReason(error));
    return 0;
}

int Session::logFailure(const Step &item, int station, const QString &text, qint64 epochMs)
{
    if (const int status = writeJson(jsonFailure(epochMs, item, station, text)))
        return status;
    if (!m_csv)
        return 0;
    // A row for each item, so that each signal's line breaks at the outage.
    for (int i = 0; i < item.count; ++i) {
        if (!m_csv->append(epochMs, station, item.address.itemLabel(*item.type, i), QString(), QString(),
                           LogKind::Read, text))
            break;
    }
    return flushCsv();
}

int Session::logWrite(const Step &step, qint64 epochMs, const QString &error)
{
    const LogKind kind = step.broadcast ? LogKind::Broadcast : LogKind::Write;
    const QList<ItemValue> values = itemValues(step, step.data);
    for (const ItemValue &value : values) {
        if (const int status = writeJson(jsonReading(epochMs, step, step.station, value, kind, error)))
            return status;
    }
    if (!m_csv)
        return 0;
    for (const ItemValue &value : values) {
        if (!m_csv->append(epochMs, step.station, value.label,
                           formatValue(value.raw, *step.type, ValueFormat::Hex), value.shown, kind, error))
            break;
    }
    return flushCsv();
}

// A log that cannot be written fails the run: what is missing from it
// happened but was not kept.
int Session::flushCsv()
{
    if (m_csv->flush() || interruptSignal())
        return 0;
    return failure(QStringLiteral("log %1").arg(m_options.csvPath), m_csv->errorString());
}

int Session::endWideRow()
{
    if (!m_wide || m_wide->endRow() || interruptSignal())
        return 0;
    return failure(QStringLiteral("log %1").arg(m_options.wideCsvPath), m_wide->errorString());
}

int Session::logValues(const Step &step, const QList<ItemValue> &values, qint64 epochMs)
{
    for (const ItemValue &value : values) {
        if (m_wide)
            m_wide->set(step.station, value.label, value.shown, epochMs);
        if (const int status = writeJson(jsonReading(epochMs, step, step.station, value)))
            return status;
    }
    if (!m_csv)
        return 0;
    for (const ItemValue &value : values) {
        const QString raw = formatValue(value.raw, *step.type, ValueFormat::Hex);
        if (!m_csv->append(epochMs, step.station, value.label, raw, value.shown))
            break;
    }
    return flushCsv();
}

// The statistics table, with what only the port (or the simulated line)
// could tell.
void Session::printStats()
{
    if (!m_options.stats || !m_port)
        return;
    std::printf("statistics (%s)\n", qPrintable(lineText(m_options, m_port->lineSettings())));
    for (const QString &line : statsLines())
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QStringList Session::statsLines() const
{
    QStringList lines = m_stats.table();
    const PortCounters counters = m_port->counters();
    QString line = QStringLiteral("line: %1 noise bytes dropped, %2 answers flagged uncertain")
                       .arg(counters.noiseBytes)
                       .arg(counters.uncertainAnswers + counters.uncertainEchoes);
    // Requests the port sent of its own: the line heard more than the table counts.
    if (counters.stepChecks > 0)
        line += QStringLiteral(", %1 step checks sent").arg(counters.stepChecks);
    lines.append(line);
    if (m_simLine) {
        const SimStats sim = m_simLine->stats();
        QString text = QStringLiteral("simulated line: %1 requests heard").arg(sim.frames);
        QStringList injected;
        for (int kind = FaultPlan::None + 1; kind < FaultPlan::KindCount; ++kind) {
            if (sim.faults[kind])
                injected.append(QStringLiteral("%1 %2")
                                    .arg(QLatin1String(FaultPlan::name(FaultPlan::Kind(kind))))
                                    .arg(sim.faults[kind]));
        }
        if (!m_options.simFaults.isEmpty())
            text += QStringLiteral(", injected: ")
                    + (injected.isEmpty() ? QStringLiteral("nothing") : injected.join(QStringLiteral(", ")));
        lines.append(text);
    }
    return lines;
}

// The session's line as backup and restore drive it.
ParamLine Session::paramLine(const Step &step)
{
    const auto check = [this, station = step.station](const QString &context, const PortCounters &before, bool done) {
        const int status = callOutcome(context, before, done, station, "answer");
        return status == kGoOn ? kParamCallDone : status;
    };
    return ParamLine{[this](const CommunicatorCommand &command) { return driverRead(command); },
                     [this](const CommunicatorCommand &command, const QByteArray &data) {
                         return driverWrite(command, data);
                     },
                     m_port.get(), check};
}
