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

// Runs a checked plan: the driver, and once a step needs it, the line: a
// serial device or the built-in simulated line on a pseudo-terminal served by
// a thread of ours.
class Session
{
    // Each command's entry names what it runs here.
    friend const std::vector<CommandEntry> &commandTable();

public:
    explicit Session(const Options &options);
    ~Session();

    // Each returns the program's exit status: 0 done, 1 failed. After a
    // signal (interruptSignal()) a step returns at once, its status aside.
    int loadDriver(const QString &programDir);
    // What the step's command entry runs, after the line and the log are
    // open when it uses the line.
    int run(const Step &step);
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

private:
    // afterDriverCall(): the command's own outcome decides.
    static constexpr int kGoOn = -1;

    // Opens the line once, and addresses the step's station on it.
    int openLine(const Step &step);
    int startLine();
    void lineOpened();
    void warnOfLockFolder();
    int startSimulatedLine(const LineSettings &settings);
    int info(const Step &step);
    int station(const Step &step);
    int plot(const Step &step);
    int read(const Step &step);
    int write(const Step &step);
    int showWhetherTheLineEchoes(const Step &step, const QString &context);
    int broadcast(const Step &step);
    int afterDriverCall(const QString &context, const PortCounters &before);
    int callOutcome(const QString &context, const PortCounters &before, bool done, int station,
                    const char *what);
    QString echoFaultText() const;
    QString garbledWarning(const PortCounters &before) const;
    QString failureText() const;
    int reportWritten(const Step &step, const char *what);
    // The driver's calls, through the counting port.
    QByteArray driverRead(const CommunicatorCommand &command);
    bool driverWrite(const CommunicatorCommand &command, const QByteArray &data);
    int openLog(const Step &step);
    int logValues(const Step &step, const QList<ItemValue> &values, qint64 epochMs);
    // A read that failed: a JSON line, and an empty cell of --csv-wide.
    int logFailure(const Step &item, int station, const QString &text, qint64 epochMs);
    // --csv-wide's row of the read or the poll cycle.
    int endWideRow();
    int writeJson(const QByteArray &line);
    QStringList statsLines() const;
    // poll.cpp
    struct PollRun;
    enum class FetchOutcome { Good, Failed, Uncertain, LineBack, EndPoll };
    int poll(const Step &step);
    bool pollCycle(PollRun *run);
    FetchOutcome pollFetch(PollRun *run, int station, QList<Fetch> *fetches, int index, QString *error);
    FetchOutcome lineEvents(PollRun *run, const PortCounters &before);
    bool logFetchFailure(PollRun *run, int station, const Fetch &fetch, const QString &text, qint64 readAtMs);
    FetchOutcome showFetch(PollRun *run, int station, const Fetch &fetch, const QByteArray &data,
                           qint64 readAtMs);
    void showCycle(PollRun *run);
    int pollSummary(const PollRun &run);
    ParamLine paramLine(const Step &step);
    int backup(const Step &step);
    int restore(const Step &step);
    int scan(const Step &step);
    int monitor(const Step &step); // monitor.cpp
    bool waitForLineBack();
    QStringList lateAnswerWarnings();

    Options m_options;
    DriverLoader m_loader;
    QString m_pluginPath;
    DriverInterface *m_driver = nullptr;
    std::unique_ptr<FrameTrace> m_trace;
    std::unique_ptr<SimLine> m_simLine;
    std::unique_ptr<SimServer> m_simServer;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<WatchedPort> m_watched; // what the driver is handed: m_port, counted
    LineStats m_stats;
    std::unique_ptr<CsvLog> m_csv;
    std::unique_ptr<WideCsv> m_wide;
    int m_jsonFd = -1;
    QHash<int, qint64> m_reportedLateMs; // by station, the latest answer reported
    bool m_answerInDoubt = false;
    QSet<int> m_reportedUnasked;         // stations that sent answers nothing awaited
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
// The same for the driver's text, and a line on what usually causes it.
int driverFailure(const QString &context, const QString &text);
// Why an answer (or acknowledgement) is not shown as good.
QString uncertainText(int station, const char *what);
QString uncertainEchoText(const char *what);

#endif // SERVOCTL_SESSION_H
