#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <termios.h>

#include <QString>

#include "abstractdeviceinterface.h"
#include "deadlinesleeper.h"
#include "linesettings.h"

class DeviceSetting;
class DriverSetting;
class FrameTrace;

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
// - Bytes that arrive before a request cannot belong to its answer: send()
//   discards them and waits out the silence again until the line has been
//   quiet. After an answer that came short or not at all, a late answer may
//   still be under way, so the next send() first keeps the line quiet for
//   one more answer time-out, discarding what comes: a drive that answers
//   later than the time-out then fails its commands instead of having its
//   late answer taken for the next request's.
// - On USB serial adapters the kernel is asked for low latency where the
//   driver has the setting (lowLatency()); it is switched off again on close.
//
// Option 12 with the value 0 discards unread input (stale bytes of a late
// answer); every other option is refused and changes nothing.
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
    // Restores the device's previous terminal settings.
    void close();

    bool isOpen() const { return m_fd >= 0; }
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
    qint64 silentIntervalNs() const;
    qint64 interCharacterTimeoutNs() const;

    // Not owned; null switches the trace off.
    void setTrace(FrameTrace *trace) { m_trace = trace; }

    // AbstractDeviceInterface
    int receive(char *buffer, int maxLength) override;
    int send(const char *data, int length) override;
    bool setOption(int option, const QVariant &value) override;
    int retryCount() override { return m_retryCount; }
    int stationId() override { return m_stationId; }
    int frameDelay() override { return m_frameDelayMs; }

private:
    bool fail(const QString &text);
    bool waitReadable(qint64 deadlineNs);
    void noteLineActivity(qint64 nowNs);
    void waitForQuietLine();

    int m_fd = -1;
    QString m_path;
    QString m_error;
    LineSettings m_line;
    bool m_kernelRs485 = false;
    bool m_lowLatency = false;
    bool m_lowLatencySet = false; // switched on by open, off by close
    bool m_savedValid = false;
    termios m_saved;  // the device's settings before open

    int m_answerTimeoutMs = 500;
    int m_retryCount = 3;
    int m_stationId = 1;
    int m_frameDelayMs = 0;
    qint64 m_interCharFloorNs = 20000000;
    qint64 m_silentIntervalNs = -1;
    DeadlineSleeper m_silence;

    qint64 m_requestSentNs = 0;  // when the last request had left
    qint64 m_lastActivityNs = 0; // last byte on the line, either way
    qint64 m_lastByteNs = 0;     // last byte received
    int m_receivedSinceSend = 0;
    qint64 m_quietUntilNs = 0;   // a short answer's late rest may come until then

    FrameTrace *m_trace = nullptr;
};

#endif // SERIALPORT_H
