#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <termios.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "abstractdeviceinterface.h"
#include "deadlinesleeper.h"
#include "linedebt.h"
#include "linesettings.h"
#include "rtuanswer.h"

class DeviceSetting;
class DriverSetting;
class FrameTrace;

// What the port has seen on its line since it was made.
struct PortCounters
{
    qint64 requests = 0;         // requests sent
    qint64 lateAnswers = 0;      // whole frames dropped: no answer to the request awaited
    qint64 uncertainAnswers = 0; // answers taken that an earlier request's could look like
    qint64 noiseBytes = 0;       // bytes dropped that were no frame
    qint64 garbledEchoes = 0;    // requests that came back changed (local echo)
    qint64 otherStationAnswers = 0; // whole frames from a station no request of ours was owed by
    qint64 uncertainEchoes = 0;  // answers taken that may have been the request's own echo
};

// How the line's echo disagrees with the port's local-echo setting.
enum class EchoFault {
    None,
    Unexpected, // our requests come back, and the setting is off
    Missing     // the setting is on, and they do not
};

// A frame dropped as a late answer.
struct LateAnswer
{
    int station = 0;
    // From the request it answers, as far as that can be known (Modbus RTU
    // has no transaction number: this is the earliest request still owed an
    // answer that this frame fits), or from the station's answer before it
    // if that came later; -1 when no request of ours was owed one.
    qint64 latenessNs = -1;
};

// A whole frame from a station that no request of ours owed an answer:
// another drive answered (a wrong station number, the wiring). Booked to
// the station asked last (-1: none yet), never as a late answer.
struct OtherStationAnswer
{
    int station = 0;
    int askedStation = -1;
};

// The host's port on a POSIX serial device: a real line (a USB RS-485
// adapter, an on-board UART) or a pseudo-terminal.
//
// Timing, all on the monotonic clock:
// - receive() returns as soon as the bytes asked for have arrived. It waits
//   for the first byte of an answer at most the answer time-out, counted
//   from the moment the request left (after tcdrain), and after any byte at
//   most the inter-character time-out for the next one. It waits in poll();
//   when many bytes are still due it first sleeps through nine tenths of
//   their time on the wire (they cannot come sooner), saving a wake-up per
//   character, so a cut-short answer is noticed that much later.
// - The inter-character time-out is 1.5 character times but at least a
//   floor, 20 ms by default: USB adapters deliver bytes in bursts a few
//   milliseconds apart, and user space cannot see 1.5 character gaps
//   reliably. It only costs time when an answer is cut short.
// - send() keeps the Modbus silent interval (3.5 character times, 1.75 ms
//   above 19200 baud) after the last byte on the line, sent or received,
//   and sends within microseconds after it has passed (DeadlineSleeper).
//
// Answers, for the requests of functions 1 to 6, 15 and 16 (RtuRequest):
// - The port frames the answer itself before it hands over the first byte.
//   A whole frame with a good CRC that cannot answer the request just sent
//   (another station or function, another byte count, another echoed
//   address, value or quantity) is a late answer: it is dropped, counted,
//   and the port goes on waiting for the real one within the time-out. One
//   from a station no request of ours owes an answer is another station's
//   (takeOtherStationAnswers()), booked to the station asked.
//   Bytes that begin no frame before one that does are noise and dropped.
//   Frames that arrive while no answer is awaited are judged alike.
// - A request that got no answer is owed one. A later request whose answer
//   would look the same (same station, function and length, same echo), a
//   repeat of it included, waits until the owed answer has come (and is
//   dropped) or the late-answer horizon, twice the answer time-out, has
//   passed since the owed request. A drive still busy with the first
//   request then gets the line quiet, and its late answer cannot be taken
//   for the next one's.
// - A drive answers in the order it is asked: once an answer from a station
//   has come, its earlier requests are owed nothing more; but where the
//   answer could be an owed one's, the request it is taken for is owed in
//   its place (at most twice in a row).
// - Past the horizon the port cannot tell an owed answer from the awaited
//   one: an answer taken while an owed request that asks something else
//   would get one that looks the same is counted as uncertain
//   (PortCounters::uncertainAnswers). An owed request is remembered until
//   its station answers anything, for at least 30 s (twice the horizon
//   where that is longer); an answer later than that can pass unnoticed.
// - After an answer that came short, its rest may still be under way: the
//   next request waits one more answer time-out, dropping what comes. After
//   a broadcast (station 0) nothing is awaited; the drives get 200 ms (a
//   turnaround delay) to carry it out before the next request.
//
// The owed answers and a short answer's quiet outlive the port: close()
// leaves them for the line's next program, open() takes up what the last
// one left (linedebt.h), and the first request or settleInput() holds it to
// the bounds the port then keeps itself. What it leaves alone in the lock
// folder (another user's link or file) comes out of takeWarnings().
//
// A hung-up or vanished device (POLLHUP, POLLERR, EIO, ENXIO, ENODEV) makes
// the port lost: send() and receive() fail at once with "line lost: PATH",
// retryCount() and frameDelay() say 0 so that the driver stops at once, and
// reopen() takes the same path up again. An interrupt descriptor (a signal
// handler's pipe) that becomes readable ends every wait within
// milliseconds the same way ("interrupted").
//
// Local echo: an RS-485 adapter without receiver disable hands the master
// its own request back before the answer.
// - With setLocalEcho(true), send() reads the request back, byte for byte,
//   within the answer time-out, before the answer is awaited. A request that
//   comes back changed (a collision, noise) is not answered: receive() gives
//   nothing for it (echoGarbled(); lastGarbledEcho() says what was sent and
//   heard), and the next request waits an answer time-out, dropping what
//   comes. Nothing coming back, or an answer in its place, means the adapter
//   does not echo.
// - Without it, a frame byte for byte the request just sent is its echo
//   where no answer can be the request itself: functions 1 to 4, 15 and 16
//   (but reads of 17 to 24 bits at an address whose high byte is 3) and
//   every broadcast. Where an answer can be the request itself (functions 5
//   and 6 always) the bytes cannot tell. Once an answer has come with no
//   echo before it (or setKnownSilent()), the line is silent: it is the
//   answer. Before that, unless it came later than an echo can (the
//   inter-character time-out; not on a pseudo-terminal, whose far end
//   keeps no time), the port waits up to the answer time-out for what
//   follows: a second answer to the request makes it the echo (unless an
//   owed request explains the two). Otherwise it is the answer where it
//   came no sooner than an acknowledgement can (a silent interval and its
//   own characters after the request), and else uncertain
//   (PortCounters::uncertainEchoes; after one such, later ones are judged
//   without the wait). A second answer before the next request is sent
//   still shows the echo.
// - Likewise with the setting on a line that does not echo, such a request
//   takes the answer for the echo and then fails for want of an answer,
//   unless an earlier request showed the line silent.
// Either disagreement (echoFault()) stops the port as a lost line does,
// with errorString() saying which, until open().
//
// DiscardInputOption with the value 0 drops unread input (as late answers
// where it holds whole frames); every other option is refused and changes
// nothing.
// open() takes the device for itself (claimLine) and refuses one in use.
// In RS-485 mode the kernel's RS-485 support is switched on where the device
// has it; where it has none (a pseudo-terminal, an adapter that switches
// direction itself) the port works all the same.
//
// Not thread-safe: one thread uses a port at a time.
class SerialPort : public AbstractDeviceInterface
{
public:
    SerialPort();
    ~SerialPort() override;

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // On failure the port stays closed and errorString() says why.
    bool open(const QString &path, const LineSettings &settings);
    bool open(const QString &path, const QString &settingsText);
    bool open(const QString &path, const DeviceSetting &record,
              LineSettings::Mode mode = LineSettings::RS485);
    // Opens the last path again with the same settings, after the line was
    // lost; the time-outs and counters stay.
    bool reopen();
    // Restores the device's previous terminal settings.
    void close();
    // Sets the open line to other settings (a scan of line settings),
    // keeping the device claimed; close() still restores the settings from
    // before open(). The mode stays the one opened with. Unread input,
    // heard at the old rate, is dropped.
    bool setLineSettings(const LineSettings &settings);

    bool isOpen() const { return m_fd >= 0; }
    // The device's descriptor (-1 while closed), and its settings from
    // before open(); for a program's last-resort restore in a signal handler.
    int handle() const { return m_fd; }
    bool savedSettings(termios *settings) const
    {
        *settings = m_saved;
        return m_fd >= 0 && m_savedValid;
    }
    bool isLost() const { return m_lost; }
    bool isInterrupted() const { return m_interrupted; }
    QString path() const { return m_path; }
    LineSettings lineSettings() const { return m_line; }
    QString errorString() const { return m_error; }
    // True when the kernel drives the RS-485 transmitter.
    bool kernelRs485() const { return m_kernelRs485; }
    // True when the device delivers received bytes with low latency.
    bool lowLatency() const { return m_lowLatency; }

    // Answer time-out, retries, station and delay from the record.
    void setDriverSetting(const DriverSetting &setting);
    void setAnswerTimeout(int milliseconds);
    int answerTimeout() const { return m_answerTimeoutMs; }
    void setRetryCount(int count) { m_retryCount = count; }
    void setStationId(int station) { m_stationId = station; }
    void setFrameDelay(int milliseconds) { m_frameDelayMs = milliseconds; }
    void setInterCharacterFloor(int milliseconds);
    // The silence kept before each request; a negative value (the default)
    // takes the line's own. 0 suits a pseudo-terminal to a simulator, which
    // has no wire.
    void setSilentInterval(qint64 nanoseconds) { m_silentIntervalNs = nanoseconds; }
    // The adapter hands every request back before the answer (see above).
    void setLocalEcho(bool on) { m_localEcho = on; }
    bool localEcho() const { return m_localEcho; }
    // The line is known not to echo (a simulator without echo), as if an
    // answer had shown it.
    void setKnownSilent(bool on) { m_knownSilent = on; }
    // Known, or shown since open() (reopen() keeps what was shown).
    bool isSilent() const { return m_knownSilent || m_shownSilent; }
    qint64 silentIntervalNs() const;
    qint64 interCharacterTimeoutNs() const;
    qint64 lateHorizonNs() const;
    qint64 owedMemoryNs() const;

    // A descriptor that becomes readable to end every wait (-1: none); not
    // owned, never read.
    void setInterruptFd(int fd) { m_interruptFd = fd; }
    // Not owned; null switches the trace off.
    void setTrace(FrameTrace *trace) { m_trace = trace; }

    PortCounters counters() const { return m_counters; }
    EchoFault echoFault() const { return m_echoFault; }
    // "the line garbled our own request: sent 01 03 ..., heard 01 83 ...",
    // for the latest request that came back changed.
    QString lastGarbledEcho() const { return m_lastGarbledEcho; }
    // The last request came back changed: it went unanswered.
    bool echoGarbled() const { return m_echoGarbled; }
    // The late answers dropped since the last call.
    QList<LateAnswer> takeLateAnswers();
    // Files in the lock folder left alone since the last call, such as
    // "/run/lock/modbus-line-4-64.debt is a symbolic link": each said once
    // in the port's life.
    QStringList takeWarnings();
    // Other stations' frames dropped since the last call.
    QList<OtherStationAnswer> takeOtherStationAnswers();
    // Reads what the line sent unasked and settles it (late answers, noise),
    // as before every request; false when the line failed.
    bool settleInput();

    // AbstractDeviceInterface
    int receive(char *buffer, int maxLength) override;
    int send(const char *data, int length) override;
    bool setOption(int option, const QVariant &value) override;
    // Once the line is lost or the port interrupted, no further attempt and
    // no delay: the driver gives up at once.
    int retryCount() override { return isStopped() || checkInterrupt() ? 0 : m_retryCount; }
    int stationId() override { return m_stationId; }
    // Waits the delay itself, watching the interrupt descriptor, and tells
    // the driver 0: the driver asks for the delay just before it would sleep
    // it, and a signal must not wait for a long delay to end.
    int frameDelay() override;

private:
    enum class Wait { Ready, TimedOut, Stopped };
    // Where a step of framing an answer leads: another step, a scan of the
    // input, or the end (the answer is taken, or none will come).
    enum class Framing { Again, Scan, Done };

    // A request whose answer has not come (yet). A request taken an answer
    // that may be an owed earlier one's is owed in its place (the debt is
    // carried on), at most twice: were the earlier answer lost on the line,
    // the debt would otherwise go on for ever.
    struct OwedAnswer
    {
        RtuRequest request;
        qint64 sentNs;      // when this request left
        qint64 holdUntilNs; // look-alike requests wait until then
        int carried;        // times the debt was carried on
    };

    bool fail(const QString &text);
    qint64 answerTimeoutNs() const;
    void startAfresh();
    bool isStopped() const { return m_lost || m_interrupted || m_echoFault != EchoFault::None; }
    bool checkInterrupt();
    void markLost(const QString &reason);
    Wait waitReadable(qint64 deadlineNs);
    void sleepInterruptibly(qint64 deadlineNs);
    int readInput();
    bool readMore(qint64 deadlineNs, int dueBytes);
    void noteLineActivity(qint64 nowNs);
    bool takeEcho();
    bool echoIsTellable() const;
    int ownEchoSoFar() const;
    bool isOwedAnswer(const char *frame, int length) const;
    bool isEchoBeforeAnswer(int length) const;
    bool answerFollows(int length) const;
    bool mayBeOwnEcho(int length) const;
    Framing judgeItself(int length);
    bool owesStation(int station) const;
    void failEcho(EchoFault fault, bool owed);

    void frameAnswer();
    Framing judgeOwnEcho(bool *lineQuiet);
    Framing takeScan(const AnswerScan &scan, bool *lineQuiet);
    Framing awaitRest(int frameLength, bool *lineQuiet);
    void noteNoAnswer();
    void noteAnswerTaken(int length);
    void owe(const RtuRequest &request, int carried);
    void topUpInput(int wanted);
    void settleUnawaitedInput(bool dropRest);
    void dropLateFrame(int length);
    void dropNoise(int length);
    bool waitUntilClear(const RtuRequest &next);
    qint64 clearToSendAt(const RtuRequest &next) const;
    void forgetOldOwedAnswers(qint64 nowNs);
    void takeDebt();
    LineDebt debt() const;
    void warnOnce(const QString &warning);

    int m_fd = -1;
    QString m_path;
    QString m_error;
    LineSettings m_line;
    bool m_kernelRs485 = false;
    bool m_lowLatency = false;
    bool m_lowLatencySet = false; // switched on by open, off by close
    bool m_savedValid = false;
    termios m_saved;  // the device's settings before open
    bool m_lost = false;
    bool m_interrupted = false;
    int m_interruptFd = -1;
    bool m_localEcho = false;
    bool m_knownSilent = false;
    bool m_shownSilent = false; // an answer came with no echo before it
    bool m_echoDoubt = false;   // an answer was left in doubt: later ones are too
    bool m_onPty = false;       // no wire time: the timing tells nothing
    EchoFault m_echoFault = EchoFault::None;
    QString m_lastGarbledEcho;

    int m_answerTimeoutMs = 500;
    int m_retryCount = 3;
    int m_stationId = 1;
    int m_frameDelayMs = 0;
    qint64 m_interCharFloorNs = 20000000;
    qint64 m_silentIntervalNs = -1;
    DeadlineSleeper m_silence;

    RtuRequest m_request;           // the request just sent
    bool m_answerFramed = false;    // frameAnswer() has run for it
    bool m_echoGarbled = false;     // it came back changed: not answered
    RtuRequest m_tookItself;        // the last request taken an answer identical to it
    QByteArray m_input;             // received, neither handed over nor dropped
    qint64 m_requestSentNs = 0;     // when the last request had left
    qint64 m_lastActivityNs = 0;    // last byte on the line, either way
    qint64 m_lastByteNs = 0;        // last byte received
    int m_receivedSinceSend = 0;
    int m_handedOver = 0;           // bytes of the answer given to the caller
    qint64 m_quietUntilNs = 0;      // a short answer's rest may come until then
    QList<OwedAnswer> m_owed;       // oldest first
    LineDebt m_inherited;           // left by the line's last program, not yet taken
    qint64 m_lastFrameNs[256] = {}; // by station, its last whole frame

    PortCounters m_counters;
    QList<LateAnswer> m_lateAnswers;
    QList<OtherStationAnswer> m_otherStations;
    FrameTrace *m_trace = nullptr;
    QStringList m_warnings;      // not yet taken
    QStringList m_warningsSaid;
};

#endif // SERIALPORT_H
