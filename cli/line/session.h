#ifndef SERVOCTL_SESSION_H
#define SERVOCTL_SESSION_H

#include <memory>
#include <vector>

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include "driverloader.h"
#include "itemvalues.h"
#include "linestats.h"
#include "plan.h"

struct CommandEntry;
struct CommunicatorCommand;
class CsvLog;
class WideCsv;
class DriverInterface;
struct Fetch;
class FrameTrace;
struct ParamLine;
class SerialPort;
struct PortCounters;
class SimLine;
class SimServer;
class WatchedPort;

// The line a run's commands work with, opened once the first command needs
// it: the driver, and a serial device, a TCP converter or the built-in
// simulated line on a pseudo-terminal served by a thread of ours; the
// trace, the statistics and the logs the options ask for. Each command's
// run function (commands.h) is handed the session and uses what is public
// here; the session knows no command.
class Session
{
public:
    explicit Session(const Options &options);
    ~Session();

    // Each returns the program's exit status: 0 done, 1 failed. After a
    // signal (interruptSignal()) a step returns at once, its status aside.
    int loadDriver(const QString &programDir);
    // What the step's command entry runs, after the line and the log are
    // open when it uses the line.
    int run(const Step &step, const CommandEntry &command);
    // Closes the line, restoring the device's settings, and stops the
    // simulated line.
    void closeLine();
    // With --stats: the per-station table of the run so far.
    void printStats();
    // An answer a drive sent too many put one shown before in doubt: the
    // run fails (1) though each step went well.
    bool answerInDoubt() const { return m_answerInDoubt; }
    // After the last step: where the line may hide an answer too many, a
    // last look for it, said as after any call.
    void lookForAnswersTooMany();

    // What the commands work with.
    const Options &options() const { return m_options; }
    DriverInterface *driver() const { return m_driver; }
    const QString &pluginPath() const { return m_pluginPath; }
    SerialPort *port() const { return m_port.get(); }
    FrameTrace *trace() const { return m_trace.get(); }
    LineStats &stats() { return m_stats; }
    // The driver's calls, through the counting port.
    QByteArray driverRead(const CommunicatorCommand &command);
    bool driverWrite(const CommunicatorCommand &command, const QByteArray &data);
    // afterDriverCall(), callOutcome(): the command's own outcome decides.
    static constexpr int kGoOn = -1;
    // What follows every call of the driver; and that with whether the
    // call was done and what it waited for ("answer").
    int afterDriverCall(const QString &context, const PortCounters &before);
    int callOutcome(const QString &context, const PortCounters &before, bool done, int station, const char *what);
    QString echoFaultText() const;
    QString garbledWarning(const PortCounters &before) const;
    QString failureText() const;
    QStringList lateAnswerWarnings();
    int logValues(const Step &step, const QList<ItemValue> &values, qint64 epochMs);
    // A read that failed: a JSON line, a row for each of its items in the
    // CSV log, and an empty cell of --csv-wide.
    int logFailure(const Step &item, int station, const QString &text, qint64 epochMs);
    // A write sent, at the time it was commanded: a JSON line and a CSV row
    // an item, with the values written; error empty when acknowledged.
    int logWrite(const Step &step, qint64 epochMs, const QString &error);
    // --csv-wide's row of the read or the poll cycle.
    int endWideRow();
    int writeJson(const QByteArray &line);
    // --stats's table of the run so far, as lines.
    QStringList statsLines() const;
    // The session's line as backup and restore drive it.
    ParamLine paramLine(const Step &step);
    // The device went away (a USB adapter pulled out): waits, without
    // polling the line, until it can be opened again. False on a signal.
    bool waitForLineBack();
    // One try of the same, at once: true when the line is open again. Why
    // the path, once back, cannot be taken up is said once (*said keeps it).
    bool tryLineBack(QString *said);

private:
    // Opens the line once, and addresses the step's station on it.
    int openLine(const Step &step);
    int startLine();
    void lineOpened();
    void warnOfLockFolder();
    int startSimulatedLine(const LineSettings &settings);
    int openLog(const Step &step);
    int flushCsv();

    Options m_options;
    DriverLoader m_loader;
    QString m_pluginPath;
    DriverInterface *m_driver = nullptr;
    std::unique_ptr<FrameTrace> m_trace;
    std::unique_ptr<SimLine> m_simLine;
    std::unique_ptr<SimServer> m_simServer;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<WatchedPort> m_watched; // what the driver is handed: m_port, counted
    qint64 m_callNs = 0;                    // the last driver call took
    LineStats m_stats;
    std::unique_ptr<CsvLog> m_csv;
    std::unique_ptr<WideCsv> m_wide;
    int m_jsonFd = -1;
    QHash<int, qint64> m_reportedLateMs; // by station, the latest answer reported
    bool m_answerInDoubt = false;
    QSet<int> m_reportedUnasked;            // stations that sent answers nothing awaited
    QSet<QPair<int, int>> m_reportedOthers; // station asked, station that answered
};

// Prints "servoctl: TEXT" on standard error.
void warn(const QString &text);
// Prints "servoctl: CONTEXT: " and what the step asks past the Modbus
// standard's limits, if it does: the driver sends it all the same.
void warnPastStandard(const QString &context, const Step &step);
// Prints "servoctl: CONTEXT: TEXT" on standard error; returns 1.
int failure(const QString &context, const QString &text);
// The TEXT of the last failure() said: what a JSON line's "error" holds.
QString lastFailureText();
// The driver's command for a read or write step.
CommunicatorCommand driverCommand(const Step &step);
// The same for the driver's text, and a line on what usually causes it
// (modbusTcp: on a Modbus TCP line); cost, when not empty, a line on what the
// failure took.
int driverFailure(const QString &context, const QString &text, bool modbusTcp, const QString &cost = QString());
// Why an answer (or acknowledgement) is not shown as good.
QString uncertainText(int station, const char *what);
QString uncertainEchoText(const char *what);

#endif // SERVOCTL_SESSION_H
