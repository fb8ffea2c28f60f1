#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <memory>

#include <termios.h>

#include <QString>
#include <QStringList>

#include "abstractdeviceinterface.h"
#include "answerjudge.h"
#include "deadlinesleeper.h"
#include "linesettings.h"
#include "link.h"
#include "verdictreport.h"

class DeviceSetting;
class DriverSetting;
class FrameTrace;

// The host's port on a POSIX serial device (a USB RS-485 adapter, an
// on-board UART, a pseudo-terminal): the device, the waits and the clock
// around AnswerJudge (answerjudge.h), which says what the bytes are; the
// port counts, traces and hands over what it says.
//
// Timing, on the monotonic clock: receive() returns as soon as the bytes
// asked for are in. It waits for an answer's first byte at most the answer
// time-out from when the request left (after tcdrain), or the first-byte
// time-out from when its last character was on the wire, then at most the
// inter-character time-out for each next one: 1.5 characters but at least a
// floor, 20 ms by default (USB adapters deliver in bursts). send() keeps the
// silent interval (3.5 characters, 1.75 ms above 19200 baud) after the last
// byte either way; before a request whose answer would look like one its
// station still owes another, it sends the judge's step check first.
//
// What is owed outlives the port: close() leaves it for the line's next
// program, open() takes up what the last left (linedebt.h), held to this
// port's bounds at the first request or settleInput(); what is left alone
// in the lock folder comes out of takeWarnings().
//
// A hung-up or vanished device makes the port lost: send() and receive()
// fail at once ("line lost: PATH"), retryCount() and frameDelay() say 0, and
// reopen() takes the path up again. A readable interrupt descriptor ends
// every wait within milliseconds the same way ("interrupted"); so does an
// echo at odds with the setting (echoFault(), errorString()), until open().
// A TCP line (tcpport.h) is this port on a connected socket.
// Not thread-safe: one thread uses a port at a time.
class SerialPort : public AbstractDeviceInterface
{
public:
    SerialPort();
    ~SerialPort() override;

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;
    // Claims the device (claimLine), with the kernel's RS-485 support where
    // it has it; on failure the port stays closed and errorString() says why.
    bool open(const QString &path, const LineSettings &settings);
    bool open(const QString &path, const QString &settingsText);
    bool open(const QString &path, const DeviceSetting &record, LineSettings::Mode mode = LineSettings::RS485);
    // A connected descriptor as the line, reached through link and named
    // name (a TCP line's socket); both are the port's, closed with it.
    void adopt(int fd, std::unique_ptr<Link> link, const QString &name, const LineSettings &settings);
    // Opens the last path again with the same settings, after the line was
    // lost; the time-outs and counters stay.
    virtual bool reopen();
    // Restores the device's previous terminal settings.
    virtual void close();
    // Other settings (a scan), the device kept claimed and the mode kept;
    // close() still restores those from before open(). Unread input is dropped.
    bool setLineSettings(const LineSettings &settings);
    bool isOpen() const { return m_fd >= 0; }
    // The device's descriptor (-1 while closed), and its settings from
    // before open(); for a program's last-resort restore in a signal handler.
    int handle() const { return m_fd; }
    bool savedSettings(termios *settings) const;
    bool isLost() const { return m_lost; }
    bool isInterrupted() const { return m_interrupted; }
    QString path() const { return m_path; }
    LineSettings lineSettings() const { return m_line; }
    QString errorString() const { return m_error; }
    bool kernelRs485() const { return m_kernelRs485; }   // the kernel drives the transmitter
    bool lowLatency() const { return m_lowLatency; }     // received bytes come at once
    void setDriverSetting(const DriverSetting &setting); // time-out, retries, station, delay
    void setAnswerTimeout(int milliseconds);
    int answerTimeout() const { return m_answerTimeoutMs; }
    void setRetryCount(int count) { m_retryCount = count; }
    void setStationId(int station) { m_stationId = station; }
    void setFrameDelay(int milliseconds) { m_frameDelayMs = milliseconds; }
    void setInterCharacterFloor(int milliseconds);
    // A scan's sweep: -1 (the default) off. Late answers, the horizon and
    // the hold still go by the answer time-out.
    void setFirstByteTimeout(qint64 nanoseconds) { m_firstByteNs = nanoseconds < 0 ? -1 : nanoseconds; }
    qint64 firstByteTimeoutNs() const { return m_firstByteNs; }
    // The silence kept before each request; negative (the default): the
    // line's own; 0 suits a simulator on a pseudo-terminal.
    void setSilentInterval(qint64 nanoseconds) { m_silentIntervalNs = nanoseconds; }
    void setLocalEcho(bool on) { m_localEcho = on; } // requests come back first
    bool localEcho() const { return m_localEcho; }
    // Known not to echo (a simulator), as if an answer had shown it.
    void setKnownSilent(bool on) { m_knownSilent = on; }
    // Known, or shown since open() (reopen() keeps what was shown).
    bool isSilent() const { return m_knownSilent || m_judge.shownSilent(); }
    qint64 silentIntervalNs() const;
    qint64 interCharacterTimeoutNs() const;
    qint64 lateHorizonNs() const;
    qint64 owedMemoryNs() const;
    void setInterruptFd(int fd) { m_interruptFd = fd; }   // readable: every wait ends; not owned
    void setTrace(FrameTrace *trace) { m_trace = trace; } // not owned; null: none
    PortCounters counters() const { return m_report.counters(); }
    EchoFault echoFault() const { return m_judge.echoFault(); }
    // "the line garbled our own request: sent 01 03 ..., heard 01 83 ...".
    QString lastGarbledEcho() const { return m_report.lastGarbledEcho(); }
    bool echoGarbled() const { return m_judge.echoGarbled(); } // the last request: unanswered
    // The last request's answer was cut at its bound: what the line sent
    // ("the line never fell silent: 960 bytes in 200 ms").
    bool neverSilent() const { return m_judge.neverSilent(); }
    QString lastNeverSilent() const { return m_report.lastNeverSilent(); }
    // The late answers dropped since the last call.
    QList<LateAnswer> takeLateAnswers() { return m_report.takeLateAnswers(); }
    // Files in the lock folder left alone since the last call ("... is a
    // symbolic link"), each said once in the port's life.
    QStringList takeWarnings();
    // Other stations' frames dropped since the last call.
    QList<OtherStationAnswer> takeOtherStationAnswers() { return m_report.takeOtherStationAnswers(); }
    // Reads what the line sent unasked and settles it (late answers, noise),
    // as before every request; false when the line failed.
    bool settleInput();
    // Before the line is left, where mayHideAnAnswerTooMany(): listens one
    // answer time-out for what is still coming, and settles it.
    void listenForAnswersTooMany();
    // AbstractDeviceInterface
    int receive(char *buffer, int maxLength) override;
    int send(const char *data, int length) override;
    // DiscardInputOption 0 settles unread input; other options are refused.
    bool setOption(int option, const QVariant &value) override;
    // Once the line is lost or the port interrupted, no further attempt and
    // no delay: the driver gives up at once.
    int retryCount() override { return isStopped() || checkInterrupt() ? 0 : m_retryCount; }
    int stationId() override { return m_stationId; }
    // Waits the delay itself, watching the interrupt descriptor, and says 0:
    // a signal must not wait for a long delay to end.
    int frameDelay() override;

protected:
    bool fail(const QString &text);
    void warnOnce(const QString &warning);
    int interruptFd() const { return m_interruptFd; }
    // A reopen's: the same adapter, what its answers showed still holds.
    bool shownSilent() const { return m_judge.shownSilent(); }
    void setShownSilent(bool on) { m_judge.setShownSilent(on); }

private:
    enum class Wait { Ready, TimedOut, Stopped };
    qint64 characterNs() const;
    QString hangUpText() const;
    qint64 answerTimeoutNs() const;
    void startAfresh();
    bool isStopped() const { return m_lost || m_interrupted || echoFault() != EchoFault::None; }
    bool checkInterrupt();
    void markLost(const QString &reason);
    Wait waitReadable(qint64 deadlineNs);
    void sleepInterruptibly(qint64 deadlineNs);
    int readInput();
    bool readMore(qint64 deadlineNs, int dueBytes);
    WaitEnd await(const JudgeStep &step);
    void syncJudge();
    void applyEvents();
    bool takeEcho();
    int transmit(const RtuRequest &request);
    bool checkStep(const RtuRequest &next);
    void frameOnLine();
    bool waitUntilClear(const RtuRequest &next);
    void takeDebt();

    int m_fd = -1;
    QString m_path, m_error;
    LineSettings m_line;
    termios m_saved; // the device's settings before open
    bool m_savedValid = false;
    bool m_kernelRs485 = false, m_lowLatency = false;
    bool m_lowLatencySet = false; // switched on by open, off by close
    bool m_onPty = false;         // a pseudo-terminal: timing tells nothing
    std::unique_ptr<Link> m_link = terminalLink();
    bool m_lost = false, m_interrupted = false;
    int m_interruptFd = -1;
    bool m_localEcho = false, m_knownSilent = false;
    int m_answerTimeoutMs = 500, m_retryCount = 3, m_stationId = 1, m_frameDelayMs = 0;
    qint64 m_interCharFloorNs = 20000000, m_firstByteNs = -1, m_silentIntervalNs = -1;
    DeadlineSleeper m_silence;
    AnswerJudge m_judge;
    int m_handedOver = 0; // bytes of the answer given to the caller
    LineDebt m_inherited; // left by the line's last program, not yet taken
    VerdictReport m_report;
    FrameTrace *m_trace = nullptr;
    QStringList m_warnings, m_warningsSaid; // not yet taken, and all ever said
};

#endif // SERIALPORT_H
