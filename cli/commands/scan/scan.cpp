// The scan command: the stations (and line settings) that answer, found on
// the session's line and reported.
#include "commandruns.h"

#include <cstdio>

#include "communicatorcommand.h"
#include "frametrace.h"
#include "interrupt.h"
#include "jsonlines.h"
#include "scanner.h"
#include "scanreport.h"
#include "serialport.h"
#include "session.h"
#include "termiosline.h"

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
    for (const ScanFinding &finding : scanner.findings()) {
        if (const int status = session.writeJson(jsonFinding(finding, scanner.settingsTried().value(finding.settingsIndex))))
            return status;
    }
    for (const QString &line : scanReport(scanner, int(step.scan.stations.size())))
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return stationsFound(scanner.findings()) ? 0 : 1;
}
