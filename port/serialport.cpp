#include "serialport.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QVariant>

#include "drv_dev_setting.h"
#include "frametrace.h"
#include "linelock.h"
#include "lowlatency.h"
#include "termiosline.h"

namespace {

const int kDiscardOption = 12;
// Shorter waits for the rest of an answer go byte by byte.
const qint64 kMinBulkSleepNs = 1000000;

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

SerialPort::SerialPort()
{
    std::memset(&m_saved, 0, sizeof m_saved);
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::fail(const QString &text)
{
    m_error = text;
    return false;
}

bool SerialPort::open(const QString &path, const QString &settingsText)
{
    LineSettings settings;
    QString error;
    if (!LineSettings::parse(settingsText, &settings, &error))
        return fail(error);
    return open(path, settings);
}

bool SerialPort::open(const QString &path, const DeviceSetting &record, LineSettings::Mode mode)
{
    LineSettings settings;
    QString error;
    if (!LineSettings::fromDeviceSetting(record, mode, &settings, &error))
        return fail(error);
    return open(path, settings);
}

bool SerialPort::open(const QString &path, const LineSettings &settings)
{
    close();
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EBUSY)
        return fail(lineInUseText(path));
    if (fd < 0)
        return fail(systemError(QStringLiteral("cannot open %1").arg(path)));
    if (!isatty(fd)) {
        ::close(fd);
        return fail(QStringLiteral("%1 is not a serial device").arg(path));
    }
    QString error;
    if (!claimLine(fd, path, &error)) {
        ::close(fd);
        return fail(error);
    }
    termios saved;
    const bool savedValid = tcgetattr(fd, &saved) == 0;
    if (!configureTerminal(fd, settings, &error)) {
        releaseLine(fd);
        ::close(fd);
        return fail(QStringLiteral("%1: %2").arg(path, error));
    }
    bool kernelRs485 = false;
    if (settings.mode == LineSettings::RS485) {
        const Rs485Support support = setKernelRs485(fd, true, &error);
        if (support == Rs485Support::Failed) {
            if (savedValid)
                tcsetattr(fd, TCSANOW, &saved);
            releaseLine(fd);
            ::close(fd);
            return fail(QStringLiteral("%1: %2").arg(path, error));
        }
        kernelRs485 = support == Rs485Support::Enabled;
    }
    const LowLatency lowLatency = enableLowLatency(fd);
    tcflush(fd, TCIOFLUSH);

    m_fd = fd;
    m_lowLatency = lowLatency != LowLatency::NotAvailable;
    m_lowLatencySet = lowLatency == LowLatency::Enabled;
    m_path = path;
    m_line = settings;
    m_kernelRs485 = kernelRs485;
    m_saved = saved;
    m_savedValid = savedValid;
    m_error.clear();
    m_requestSentNs = 0;
    m_lastActivityNs = monotonicNs();
    m_lastByteNs = 0;
    m_receivedSinceSend = 0;
    m_quietUntilNs = 0;
    return true;
}

void SerialPort::close()
{
    if (m_fd < 0)
        return;
    if (m_trace)
        m_trace->flush();
    if (m_kernelRs485) {
        QString ignored;
        setKernelRs485(m_fd, false, &ignored);
    }
    if (m_lowLatencySet)
        disableLowLatency(m_fd);
    if (m_savedValid)
        tcsetattr(m_fd, TCSANOW, &m_saved);
    releaseLine(m_fd);
    ::close(m_fd);
    m_fd = -1;
    m_kernelRs485 = false;
    m_lowLatency = false;
    m_lowLatencySet = false;
    m_savedValid = false;
}

void SerialPort::setDriverSetting(const DriverSetting &setting)
{
    setAnswerTimeout(setting.timeout);
    m_retryCount = setting.retry;
    m_stationId = setting.stationid;
    m_frameDelayMs = setting.delay;
}

void SerialPort::setAnswerTimeout(int milliseconds)
{
    m_answerTimeoutMs = qMax(milliseconds, 0);
}

void SerialPort::setInterCharacterFloor(int milliseconds)
{
    m_interCharFloorNs = qint64(qMax(milliseconds, 0)) * 1000000;
}

qint64 SerialPort::silentIntervalNs() const
{
    return m_silentIntervalNs >= 0 ? m_silentIntervalNs : m_line.silentIntervalNs();
}

qint64 SerialPort::interCharacterTimeoutNs() const
{
    return qMax(m_line.characterTimeNs() * 3 / 2, m_interCharFloorNs);
}

void SerialPort::noteLineActivity(qint64 nowNs)
{
    if (nowNs > m_lastActivityNs)
        m_lastActivityNs = nowNs;
}

// Waits until the port is readable or the deadline has passed; false on
// time-out or on a hang-up without data.
bool SerialPort::waitReadable(qint64 deadlineNs)
{
    for (;;) {
        const qint64 remaining = deadlineNs - monotonicNs();
        if (remaining <= 0)
            return false;
        pollfd pfd = {m_fd, POLLIN, 0};
        timespec ts = {time_t(remaining / 1000000000), long(remaining % 1000000000)};
        const int ready = ppoll(&pfd, 1, &ts, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        if (ready == 0)
            continue; // the loop re-checks the clock
        if (pfd.revents & POLLIN)
            return true;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return false;
    }
}

int SerialPort::receive(char *buffer, int maxLength)
{
    if (m_fd < 0)
        return -1;
    if (!buffer || maxLength <= 0)
        return 0;
    qint64 deadline;
    if (m_receivedSinceSend == 0) {
        const qint64 start = m_requestSentNs ? m_requestSentNs : monotonicNs();
        deadline = start + qint64(m_answerTimeoutMs) * 1000000;
    } else {
        deadline = m_lastByteNs + interCharacterTimeoutNs();
    }
    // Right after a request the answer is not there yet: waiting first saves
    // a read that would find nothing.
    bool readable = m_receivedSinceSend > 0 || waitReadable(deadline);
    int received = 0;
    while (readable && received < maxLength) {
        const size_t wanted = size_t(maxLength - received);
        const ssize_t n = ::read(m_fd, buffer + received, wanted);
        if (n > 0) {
            const qint64 now = monotonicNs();
            if (m_trace)
                m_trace->received(buffer + received, int(n));
            received += int(n);
            m_receivedSinceSend += int(n);
            m_lastByteNs = now;
            noteLineActivity(now);
            deadline = now + interCharacterTimeoutNs();
            if (size_t(n) < wanted) {
                // The input is empty and the rest is still on the wire: it
                // cannot be complete before the line has carried it. Sleep
                // through most of that time rather than wake for every
                // character, then wait byte by byte for the last tenth.
                const qint64 charNs = m_line.characterTimeNs();
                const qint64 wireNs = qint64(wanted - size_t(n)) * charNs;
                const qint64 sleepNs = wireNs - qMax(3 * charNs, wireNs / 10);
                if (sleepNs >= kMinBulkSleepNs) {
                    sleepUntilNs(now + sleepNs);
                    deadline = monotonicNs() + interCharacterTimeoutNs();
                    continue; // read what has come meanwhile
                }
                readable = waitReadable(deadline);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_error = systemError(QStringLiteral("read from %1").arg(m_path));
            break;
        }
        readable = waitReadable(deadline);
    }
    if (received < maxLength)
        m_quietUntilNs = monotonicNs() + qint64(m_answerTimeoutMs) * 1000000;
    if (received < maxLength && m_trace) {
        if (m_receivedSinceSend == 0)
            m_trace->note(QStringLiteral("no answer within %1 ms").arg(m_answerTimeoutMs));
        else
            m_trace->note(QStringLiteral("answer ended after %1 bytes; %2 more were expected")
                              .arg(m_receivedSinceSend).arg(maxLength - received));
    }
    return received;
}

int SerialPort::send(const char *data, int length)
{
    if (m_fd < 0)
        return -1;
    if (!data || length <= 0)
        return 0;
    waitForQuietLine();
    int written = 0;
    while (written < length) {
        const ssize_t n = ::write(m_fd, data + written, size_t(length - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd = {m_fd, POLLOUT, 0};
            if (poll(&pfd, 1, qMax(m_answerTimeoutMs, 100)) > 0)
                continue;
        }
        m_error = systemError(QStringLiteral("write to %1").arg(m_path));
        break;
    }
    while (tcdrain(m_fd) != 0 && errno == EINTR) {
    }
    const qint64 now = monotonicNs();
    m_requestSentNs = now;
    m_receivedSinceSend = 0;
    noteLineActivity(now);
    if (m_trace)
        m_trace->sent(data, written);
    return written > 0 ? written : -1;
}

void SerialPort::waitForQuietLine()
{
    for (;;) {
        m_silence.sleepUntil(qMax(m_lastActivityNs + silentIntervalNs(), m_quietUntilNs));
        int pending = 0;
        if (ioctl(m_fd, FIONREAD, &pending) != 0 || pending <= 0)
            break;
        tcflush(m_fd, TCIFLUSH);
        noteLineActivity(monotonicNs());
        if (m_trace)
            m_trace->note(QStringLiteral("discarded %1 late bytes").arg(pending));
    }
    m_quietUntilNs = 0;
}

bool SerialPort::setOption(int option, const QVariant &value)
{
    bool isInt = false;
    if (m_fd < 0 || option != kDiscardOption || value.toInt(&isInt) != 0 || !isInt)
        return false;
    int pending = 0;
    const bool counted = ioctl(m_fd, FIONREAD, &pending) == 0;
    if (counted && pending == 0)
        return true; // nothing to discard; spares the flush
    if (pending > 0) {
        noteLineActivity(monotonicNs());
        if (m_trace)
            m_trace->note(QStringLiteral("discarded %1 stale bytes").arg(pending));
    }
    return tcflush(m_fd, TCIFLUSH) == 0;
}
