// The scan command: the stations (and line settings) that answer, found on
// the session's line and reported.
#include "commandwords.h"

#include <cstdio>

#include "communicatorcommand.h"
#include "frametrace.h"
#include "interrupt.h"
#include "jsonlines.h"
#include "scanner.h"
#include "scanreport.h"
#include "serialport.h"
#include "session.h"
#include "tcpaddress.h"
#include "termiosline.h"

namespace {

// scan probes stations of its own, so --station's are refused, and the
// chain's left unchecked.
bool buildScan(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    if (!options.stations.isEmpty()) {
        *error = QStringLiteral("scan probes the stations it is given (scan 1-10), not --station's");
        return false;
    }
    step->stations = chain->stations;
    step->station = chain->stations.first();
    if (!parseScanArguments(command.args, &step->scan, error)) {
        *error = QStringLiteral("scan: ") + *error;
        return false;
    }
    // The converter's serial side is set on the converter, not through the socket.
    if (step->scan.scansSettings() && isTcpUrl(options.device)) {
        QString word;
        for (const QString &arg : command.args) {
            if (word.isEmpty()
                && QStringList{QStringLiteral("baud"), QStringLiteral("parity"), QStringLiteral("stop")}.contains(arg))
                word = arg;
        }
        *error = QStringLiteral("scan: %1: a search of line settings needs a serial line; over TCP "
                                "the converter's own settings apply (scan only stations)")
                     .arg(word);
        return false;
    }
    return true;
}

int runScan(Session &session, const Step &step)
{
    SerialPort *port = session.port();
    if (step.scan.scansSettings() && isPseudoTerminal(port->handle())) {
        warn(QStringLiteral("%1 is a pseudo-terminal, which carries no parity: the scan tells baud "
                            "rates apart there, not parity or stop bits")
                 .arg(port->path()));
    }
    LineScanner scanner(session.driver(), port, session.options(), [&session](const CommunicatorCommand &command) {
        return session.driverRead(command);
    });
    const bool completed = scanner.run(step.scan);
    if (interruptSignal())
        return 0;
    if (port->echoFault() != EchoFault::None)
        return failure(QString(), session.echoFaultText());
    if (!completed)
        return failure(QStringLiteral("scan"), port->errorString());
    if (session.trace())
        session.trace()->flush();
    const bool overTcp = isTcpUrl(session.options().device);
    for (const ScanFinding &finding : scanner.findings()) {
        const LineSettings settings = scanner.settingsTried().value(finding.settingsIndex);
        if (const int status = session.writeJson(jsonFinding(finding, settings, overTcp)))
            return status;
    }
    for (const QString &line : scanReport(scanner, int(step.scan.stations.size()), overTcp))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return stationsFound(scanner.findings()) ? 0 : 1;
}

} // namespace

extern const CommandEntry scanCommand = {
    "scan",
    Step::Scan,
    true,
    false,
    false,
    false,
    buildScan,
    runScan,
    "scan [STATIONS] [baud LIST] [parity LIST] [stop LIST]",
    "find the stations that answer, and the line\n"
    "settings they are at (see \"Scanning\" below)"};
