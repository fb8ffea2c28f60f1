// What a run keeps beyond the values it prints: the CSV log and the
// statistics; and the commands that drive a line through helpers of their
// own (scan, backup and restore).
#include "session.h"

#include <cstdio>

#include "backup.h"
#include "csvlog.h"
#include "driverinterface.h"
#include "faultplan.h"
#include "frametrace.h"
#include "interrupt.h"
#include "scanner.h"
#include "scanreport.h"
#include "serialport.h"
#include "simline.h"
#include "termiosline.h"

int Session::openLog()
{
    if (m_options.csvPath.isEmpty() || m_csv)
        return 0;
    m_csv.reset(new CsvLog);
    QString error;
    if (!m_csv->open(m_options.csvPath, lineText(m_options, m_port->lineSettings()), &error))
        return failure(QString(), error);
    return 0;
}

// A log that cannot be written fails the run: values missing from it were
// read but not kept.
int Session::logValues(const Step &step, const QList<ItemValue> &values, qint64 epochMs)
{
    if (!m_csv)
        return 0;
    for (const ItemValue &value : values) {
        const QString raw = formatValue(value.raw, *step.type, ValueFormat::Hex);
        if (!m_csv->append(epochMs, step.station, value.label, raw, value.shown))
            return failure(QStringLiteral("log %1").arg(m_options.csvPath), m_csv->errorString());
    }
    if (!m_csv->flush())
        return failure(QStringLiteral("log %1").arg(m_options.csvPath), m_csv->errorString());
    return 0;
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
                       .arg(counters.noiseBytes).arg(counters.uncertainAnswers + counters.uncertainEchoes);
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
                injected.append(QStringLiteral("%1 %2").arg(QLatin1String(FaultPlan::name(FaultPlan::Kind(kind))))
                                    .arg(sim.faults[kind]));
        }
        if (!m_options.simFaults.isEmpty())
            text += QStringLiteral(", injected: ") + (injected.isEmpty() ? QStringLiteral("nothing") : injected.join(QStringLiteral(", ")));
        lines.append(text);
    }
    return lines;
}

// The session's line as backup and restore drive it.
ParamLine Session::paramLine(const Step &step)
{
    const auto check = [this, station = step.station](const QString &context, const PortCounters &before,
                                                     bool done) {
        const int status = callOutcome(context, before, done, station, "answer");
        return status == kGoOn ? kParamCallDone : status;
    };
    return ParamLine{[this](const CommunicatorCommand &command) { return driverRead(command); },
                     [this](const CommunicatorCommand &command, const QByteArray &data) {
                         return driverWrite(command, data);
                     },
                     m_port.get(), check};
}

int Session::backup(const Step &step)
{
    return runBackup(step, m_options, paramLine(step));
}

int Session::restore(const Step &step)
{
    return runRestore(step, m_options, paramLine(step));
}

int Session::scan(const Step &step)
{
    if (step.scan.scansSettings() && isPseudoTerminal(m_port->handle())) {
        warn(QStringLiteral("%1 is a pseudo-terminal, which carries no parity: the scan tells baud "
                            "rates apart there, not parity or stop bits").arg(m_port->path()));
    }
    LineScanner scanner(m_driver, m_port.get(), m_options,
                        [this](const CommunicatorCommand &command) { return driverRead(command); });
    const bool completed = scanner.run(step.scan);
    if (interruptSignal())
        return 0;
    if (m_port->echoFault() != EchoFault::None)
        return failure(QString(), echoFaultText());
    if (!completed)
        return failure(QStringLiteral("scan"), m_port->errorString());
    if (m_trace)
        m_trace->flush();
    for (const QString &line : scanReport(scanner, int(step.scan.stations.size())))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return stationsFound(scanner.findings()) ? 0 : 1;
}
