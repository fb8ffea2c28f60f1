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
#include "linedebt.h"
#include "linelock.h"
#include "lowlatency.h"
#include "modbuscrc.h"
#include "systemerror.h"
#include "termiosline.h"

namespace {

const qint64 kMs = 1000000;
// Shorter waits for the rest of an answer go byte by byte.
const qint64 kMinBulkSleepNs = kMs;
// The wait before a request ends in a precise, uninterruptible sleep of at
// most this long.
const qint64 kPreciseTailNs = 2 * kMs;
// What the drives get to carry out a broadcast before the next request:
// the turnaround delay masters commonly keep.
const qint64 kBroadcastTurnaroundNs = 200 * kMs;
// A drive that stalls leaves every request sent meanwhile owed; evicting one
// would let its late answer pass unflagged.
const int kMaxOwedAnswers = 64;
const qint64 kMinOwedMemoryNs = 30000 * kMs;
// A look-alike request goes out at least a horizon after the one it may
// carry a debt from, so two carries span the two horizons an owed answer is
// remembered; more would only prolong a debt whose answer was lost.
const int kMaxCarries = 2;
const int kMaxLateAnswersKept = 256;
// A line that never falls silent does not grow the input beyond this.
const int kMaxInput = 1024;
// Reads that find nothing after poll() said there was something: a device
// in that state is as good as gone.
const int kMaxEmptyReads = 3;

timespec toTimespec(qint64 ns)
{
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
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
        return fail(systemError("cannot open %1", path));
    const QString notALine = whyNotALine(fd);
    if (!notALine.isEmpty()) {
        ::close(fd);
        return fail(path + QLatin1Char(' ') + notALine);
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
    m_lost = false;
    m_echoFault = EchoFault::None;
    m_error.clear();
    m_request = RtuRequest();
    m_answerFramed = true;
    m_echoGarbled = false;
    m_tookItself = RtuRequest();
    m_input.clear();
    m_requestSentNs = 0;
    m_lastActivityNs = monotonicNs();
    m_lastByteNs = 0;
    m_receivedSinceSend = 0;
    m_handedOver = 0;
    m_quietUntilNs = 0;
    m_owed.clear();
    takeDebt(takeLineDebt(fd));
    return true;
}

// What the line's last program left owing, within the bounds this port
// would keep itself: anyone may have written it.
void SerialPort::takeDebt(const LineDebt &debt)
{
    const qint64 now = monotonicNs();
    const qint64 memory = owedMemoryNs();
    if (debt.quietUntilNs > now)
        m_quietUntilNs = qMin(debt.quietUntilNs, now + qint64(m_answerTimeoutMs) * kMs);
    for (const LineDebt::Owed &owed : debt.owed) {
        const RtuRequest request(owed.request);
        if (request.isKnown() && owed.sentNs <= now && owed.sentNs + memory > now
            && m_owed.size() < kMaxOwedAnswers) {
            const qint64 holdUntil = qBound(owed.sentNs, owed.holdUntilNs, owed.sentNs + lateHorizonNs());
            m_owed.append(OwedAnswer{request, owed.sentNs, holdUntil, qBound(0, owed.carried, kMaxCarries)});
        }
    }
}

// What this port leaves owing for the line's next program.
LineDebt SerialPort::debt() const
{
    LineDebt debt;
    const qint64 now = monotonicNs();
    const qint64 memory = owedMemoryNs();
    if (m_quietUntilNs > now)
        debt.quietUntilNs = m_quietUntilNs;
    for (const OwedAnswer &owed : m_owed) {
        if (owed.sentNs + memory > now)
            debt.owed.append(LineDebt::Owed{owed.request.frame(), owed.sentNs, owed.holdUntilNs, owed.carried});
    }
    return debt;
}

bool SerialPort::reopen()
{
    if (m_path.isEmpty())
        return fail(QStringLiteral("the port was never open"));
    const QString path = m_path;
    const LineSettings settings = m_line;
    return open(path, settings);
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
    // Still holding the line, so that the next program finds it written.
    if (!m_lost)
        leaveLineDebt(m_fd, debt());
    releaseLine(m_fd);
    ::close(m_fd);
    m_fd = -1;
    m_kernelRs485 = false;
    m_lowLatency = false;
    m_lowLatencySet = false;
    m_savedValid = false;
}

bool SerialPort::setLineSettings(const LineSettings &settings)
{
    if (m_fd < 0)
        return fail(QStringLiteral("the port is not open"));
    LineSettings wanted = settings;
    wanted.mode = m_line.mode; // the kernel's RS-485 switch was set for it
    QString error;
    if (!configureTerminal(m_fd, wanted, &error))
        return fail(QStringLiteral("%1: %2").arg(m_path, error));
    tcflush(m_fd, TCIFLUSH);
    m_input.clear();
    m_line = wanted;
    return true;
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
    m_interCharFloorNs = qint64(qMax(milliseconds, 0)) * kMs;
}

qint64 SerialPort::silentIntervalNs() const
{
    return m_silentIntervalNs >= 0 ? m_silentIntervalNs : m_line.silentIntervalNs();
}

qint64 SerialPort::interCharacterTimeoutNs() const
{
    return qMax(m_line.characterTimeNs() * 3 / 2, m_interCharFloorNs);
}

qint64 SerialPort::lateHorizonNs() const
{
    return 2 * qint64(m_answerTimeoutMs) * kMs;
}

// Long: an owed request is forgotten anyway as soon as its station answers
// anything, so remembering it costs nothing while the station is silent,
// and lets an answer that comes much later still be told for what it is.
qint64 SerialPort::owedMemoryNs() const
{
    return qMax(2 * lateHorizonNs(), kMinOwedMemoryNs);
}

QList<LateAnswer> SerialPort::takeLateAnswers()
{
    QList<LateAnswer> taken;
    taken.swap(m_lateAnswers);
    return taken;
}

void SerialPort::noteLineActivity(qint64 nowNs)
{
    if (nowNs > m_lastActivityNs)
        m_lastActivityNs = nowNs;
}

void SerialPort::markLost(const QString &reason)
{
    if (m_lost)
        return;
    m_lost = true;
    m_error = QStringLiteral("line lost: %1 (%2)").arg(m_path, reason);
    if (m_trace)
        m_trace->note(m_error);
}

bool SerialPort::checkInterrupt()
{
    if (m_interruptFd >= 0 && !m_interrupted) {
        pollfd pfd = {m_interruptFd, POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0)
            m_interrupted = true;
    }
    if (m_interrupted)
        m_error = QStringLiteral("interrupted");
    return m_interrupted;
}

// Waits until the device has input, the deadline passes, or the port stops
// (the device hung up, or the interrupt descriptor became readable).
SerialPort::Wait SerialPort::waitReadable(qint64 deadlineNs)
{
    for (;;) {
        const qint64 remaining = deadlineNs - monotonicNs();
        if (remaining <= 0)
            return Wait::TimedOut;
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_interruptFd, POLLIN, 0}};
        const timespec ts = toTimespec(remaining);
        const int ready = ppoll(fds, m_interruptFd >= 0 ? 2 : 1, &ts, nullptr);
        if (ready < 0 && errno == EINTR)
            continue; // a signal that matters also makes the interrupt readable
        if (ready < 0) {
            markLost(QString::fromLocal8Bit(strerror(errno)));
            return Wait::Stopped;
        }
        if (ready == 0)
            continue; // the loop re-checks the clock
        if (fds[1].revents && checkInterrupt())
            return Wait::Stopped;
        const short events = fds[0].revents;
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            // Input that came before the hang-up is still taken.
            int pending = 0;
            if (ioctl(m_fd, FIONREAD, &pending) == 0 && pending > 0)
                return Wait::Ready;
            markLost(QStringLiteral("the device hung up"));
            return Wait::Stopped;
        }
        if (events & POLLIN)
            return Wait::Ready;
    }
}

void SerialPort::sleepInterruptibly(qint64 deadlineNs)
{
    if (m_interruptFd < 0) {
        sleepUntilNs(deadlineNs);
        return;
    }
    for (qint64 remaining; (remaining = deadlineNs - monotonicNs()) > 0;) {
        pollfd pfd = {m_interruptFd, POLLIN, 0};
        const timespec ts = toTimespec(remaining);
        if (ppoll(&pfd, 1, &ts, nullptr) > 0 && checkInterrupt())
            return;
    }
}

// Reads what has arrived, without waiting; the number of bytes, or -1 when
// the device is gone.
int SerialPort::readInput()
{
    int total = 0;
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            if (m_trace)
                m_trace->received(chunk, int(n));
            m_input.append(chunk, int(n));
            total += int(n);
            if (size_t(n) < sizeof chunk)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            markLost(QString::fromLocal8Bit(strerror(errno)));
            return -1;
        }
        break;
    }
    if (total > 0) {
        const qint64 now = monotonicNs();
        m_receivedSinceSend += total;
        m_lastByteNs = now;
        noteLineActivity(now);
        if (m_input.size() > kMaxInput)
            dropNoise(m_input.size() - kMaxInput);
    }
    return total;
}

// Waits for more input until the deadline; true when some came. With
// dueBytes still to come of a frame, first sleeps through most of their
// time on the wire: they cannot come sooner.
bool SerialPort::readMore(qint64 deadlineNs, int dueBytes)
{
    if (isStopped())
        return false;
    const qint64 now = monotonicNs();
    if (dueBytes > 0 && now < deadlineNs) {
        const qint64 charNs = m_line.characterTimeNs();
        const qint64 wireNs = qint64(dueBytes) * charNs;
        const qint64 sleepNs = wireNs - qMax(3 * charNs, wireNs / 10);
        if (sleepNs >= kMinBulkSleepNs) {
            sleepInterruptibly(now + sleepNs);
            if (isStopped())
                return false;
            const int n = readInput();
            if (n != 0)
                return n > 0;
            deadlineNs = qMax(deadlineNs, monotonicNs() + interCharacterTimeoutNs());
        }
    }
    for (int empty = 0; empty < kMaxEmptyReads;) {
        if (waitReadable(deadlineNs) != Wait::Ready)
            return false;
        const int n = readInput();
        if (n != 0)
            return n > 0;
        ++empty;
    }
    markLost(QStringLiteral("the device reports input but gives none"));
    return false;
}

int SerialPort::receive(char *buffer, int maxLength)
{
    if (m_fd < 0)
        return -1;
    if (!buffer || maxLength <= 0)
        return 0;
    if (m_echoGarbled)
        return isStopped() ? -1 : 0;
    if (!m_answerFramed) {
        m_answerFramed = true;
        frameAnswer();
    }
    if (!m_request.isKnown() && m_input.size() < maxLength)
        topUpInput(maxLength);
    const int n = qMin(maxLength, m_input.size());
    std::memcpy(buffer, m_input.constData(), size_t(n));
    m_input.remove(0, n);
    if (n < maxLength) {
        if (m_handedOver + n > 0)
            m_quietUntilNs = monotonicNs() + qint64(m_answerTimeoutMs) * kMs;
        if (m_trace && !isStopped() && !m_request.isBroadcast()) {
            if (m_handedOver + n == 0)
                m_trace->note(QStringLiteral("no answer within %1 ms").arg(m_answerTimeoutMs));
            else
                m_trace->note(QStringLiteral("answer ended after %1 bytes; %2 more were expected")
                                  .arg(m_handedOver + n).arg(maxLength - n));
        }
    }
    m_handedOver += n;
    return n == 0 && isStopped() ? -1 : n;
}

// Before the first byte is handed over: drops what cannot be the answer to
// the request just sent and waits for what can.
void SerialPort::frameAnswer()
{
    if (!m_request.isKnown())
        return;
    if (m_request.isBroadcast()) {
        m_quietUntilNs = m_requestSentNs + kBroadcastTurnaroundNs;
        return;
    }
    const qint64 answerDeadline = m_requestSentNs + qint64(m_answerTimeoutMs) * kMs;
    bool lineQuiet = false;
    for (;;) {
        // Bytes that begin as our own request may be its echo: judged whole,
        // before a part of it passes for an answer.
        if (const int own = ownEchoSoFar(); own == m_request.frame().size()) {
            failEcho(EchoFault::Unexpected, true);
            return;
        } else if (own > 0 && !lineQuiet) {
            // An answer differs within its own length (a write's
            // acknowledgement repeats the request's first six bytes).
            const int due = qMin(m_request.frame().size(), m_request.answerLength()) - own;
            if (readMore(m_lastByteNs + interCharacterTimeoutNs(), qMax(due, 0)))
                continue;
            if (isStopped()) {
                noteNoAnswer();
                return;
            }
            lineQuiet = true;
        }
        const AnswerScan scan = scanAnswer(m_request, m_input.constData(), m_input.size(), lineQuiet);
        switch (scan.verdict) {
        case AnswerScan::LateFrame:
            dropLateFrame(scan.length);
            if (m_echoFault != EchoFault::None)
                return;
            lineQuiet = false;
            continue;
        case AnswerScan::Noise:
            dropNoise(scan.length);
            lineQuiet = false;
            continue;
        case AnswerScan::Answer:
            if (isEchoBeforeAnswer(scan.length)) {
                failEcho(EchoFault::Unexpected, false);
                return;
            }
            noteAnswerTaken(scan.length);
            return;
        case AnswerScan::Unclear: {
            // The start of this request's answer, cut short, fails at once;
            // anything else may be noise before the answer.
            const bool cutShort = !m_input.isEmpty() && quint8(m_input.at(0)) == m_request.station()
                && (m_input.size() < 2 || (quint8(m_input.at(1)) & 0x7F) == m_request.function());
            if (cutShort || !readMore(answerDeadline, 0)) {
                noteNoAnswer();
                return;
            }
            lineQuiet = false;
            continue;
        }
        case AnswerScan::Incomplete:
            break;
        }
        const bool started = !m_input.isEmpty();
        const qint64 deadline = started ? m_lastByteNs + interCharacterTimeoutNs() : answerDeadline;
        const int due = started && scan.length > 0 ? scan.length - m_input.size() : 0;
        if (readMore(deadline, due))
            continue;
        if (!started || isStopped()) {
            noteNoAnswer();
            return;
        }
        lineQuiet = true;
    }
}

// No whole answer came. With nothing at all the request is owed one;
// with a part of one its rest may still be under way.
void SerialPort::noteNoAnswer()
{
    if (isStopped())
        return;
    if (m_input.isEmpty()) {
        owe(m_request, 0);
    } else {
        m_quietUntilNs = monotonicNs() + qint64(m_answerTimeoutMs) * kMs;
    }
}

// An answer is about to be handed over. A drive answers in the order it is
// asked, so whatever this answer is, the station's earlier requests are owed
// nothing more. But when it could be one of theirs, this request's own
// answer may still come, and the debt is carried on to it; and when one of
// them asked something else and would get an answer that looks the same,
// the port cannot tell which request this answers.
void SerialPort::noteAnswerTaken(int length)
{
    const char *frame = m_input.constData();
    m_tookItself = RtuRequest();
    if (!hasValidModbusCrc(frame, length))
        return; // damaged on the line: the driver fails it
    m_lastFrameNs[m_request.station()] = m_lastByteNs;
    forgetOldOwedAnswers(monotonicNs());
    int carried = -1; // of the earliest owed request this could answer
    bool uncertain = false;
    for (int i = 0; i < m_owed.size();) {
        const RtuRequest &owed = m_owed.at(i).request;
        if (owed.station() != m_request.station()) {
            ++i;
            continue;
        }
        if (owed.isAnswer(frame, length)) {
            if (carried < 0)
                carried = m_owed.at(i).carried;
            uncertain = uncertain
                || (owed.frame() != m_request.frame() && owed.isNormalAnswer(frame, length));
        }
        m_owed.removeAt(i);
    }
    if (uncertain) {
        ++m_counters.uncertainAnswers;
        if (m_trace)
            m_trace->note(QStringLiteral("this answer may be owed to an earlier request"));
    }
    if (carried >= 0 && carried < kMaxCarries)
        owe(m_request, carried + 1);
    // It may have been the request's echo; a second answer will tell. One
    // that an owed request explains tells nothing.
    if (!m_localEcho && carried < 0 && m_request.frame() == QByteArray::fromRawData(frame, length))
        m_tookItself = m_request;
}

void SerialPort::owe(const RtuRequest &request, int carried)
{
    if (m_owed.size() >= kMaxOwedAnswers)
        m_owed.removeFirst();
    m_owed.append(OwedAnswer{request, m_requestSentNs, m_requestSentNs + lateHorizonNs(), carried});
}

// More bytes than are in, for a request the port does not know: it reads
// what comes within the time-outs.
void SerialPort::topUpInput(int wanted)
{
    while (m_input.size() < wanted && !isStopped()) {
        const bool started = m_receivedSinceSend > 0;
        const qint64 start = m_requestSentNs ? m_requestSentNs : monotonicNs();
        const qint64 deadline = started ? m_lastByteNs + interCharacterTimeoutNs()
                                        : start + qint64(m_answerTimeoutMs) * kMs;
        if (!readMore(deadline, started ? wanted - m_input.size() : 0))
            return;
    }
}

// The frame answers the earliest owed request it fits; that station's
// requests before it are owed nothing more. Its lateness counts from when
// the drive could take that request up: when it had been sent, or when the
// drive's previous answer had come, whichever is later (a drive late with
// one answer is late with the next one it owes too).
void SerialPort::dropLateFrame(int length)
{
    if (m_tookItself.isKnown() && m_tookItself.isAnswer(m_input.constData(), length)
        && !isOwedAnswer(m_input.constData(), length)) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    LateAnswer late;
    late.station = quint8(m_input.at(0));
    const qint64 previousFrameNs = m_lastFrameNs[late.station];
    m_lastFrameNs[late.station] = m_lastByteNs;
    for (int i = 0; i < m_owed.size(); ++i) {
        if (!m_owed.at(i).request.isAnswer(m_input.constData(), length))
            continue;
        late.latenessNs = m_lastByteNs - qMax(m_owed.at(i).sentNs, previousFrameNs);
        for (int k = i; k >= 0; --k) {
            if (m_owed.at(k).request.station() == late.station)
                m_owed.removeAt(k);
        }
        break;
    }
    ++m_counters.lateAnswers;
    if (m_lateAnswers.size() < kMaxLateAnswersKept)
        m_lateAnswers.append(late);
    if (m_trace) {
        m_trace->note(late.latenessNs >= 0
                          ? QStringLiteral("dropped a late answer from station %1, %2 ms after its request")
                                .arg(late.station).arg(late.latenessNs / kMs)
                          : QStringLiteral("dropped an answer from station %1 that no request awaited")
                                .arg(late.station));
    }
    m_input.remove(0, length);
}

// Without local echo: an answer identical to the request, with a second
// answer to it already in behind it, was its echo (unless an owed request
// explains the two).
bool SerialPort::isEchoBeforeAnswer(int length) const
{
    const char *frame = m_input.constData();
    if (m_localEcho || !m_request.canBeItsOwnAnswer()
        || m_request.frame() != QByteArray::fromRawData(frame, length)) {
        return false;
    }
    const char *next = frame + length;
    const int size = m_input.size() - length;
    const int nextLength = rtuAnswerLength(next, size);
    return nextLength > 0 && size >= nextLength && hasValidModbusCrc(next, nextLength)
           && m_request.isAnswer(next, nextLength) && !isOwedAnswer(frame, length);
}

bool SerialPort::isOwedAnswer(const char *frame, int length) const
{
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.isAnswer(frame, length))
            return true;
    }
    return false;
}

void SerialPort::dropNoise(int length)
{
    m_counters.noiseBytes += length;
    if (m_trace)
        m_trace->note(QStringLiteral("dropped %1 bytes that begin no frame").arg(length));
    m_input.remove(0, length);
}

// Input that no request awaits: whole frames are late answers, bytes before
// a whole frame are noise, and with dropRest what is left goes too.
void SerialPort::settleUnawaitedInput(bool dropRest)
{
    if (echoIsTellable() && m_input.contains(m_request.frame())) {
        failEcho(EchoFault::Unexpected, false);
        return;
    }
    while (!m_input.isEmpty()) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        int at = 0;
        for (; at < size; ++at) {
            const int length = rtuAnswerLength(data + at, size - at);
            if (length > 0 && size - at >= length && hasValidModbusCrc(data + at, length))
                break;
        }
        if (at == size)
            break;
        if (at > 0)
            dropNoise(at);
        dropLateFrame(rtuAnswerLength(m_input.constData(), m_input.size()));
    }
    if (dropRest && !m_input.isEmpty())
        dropNoise(m_input.size());
}

void SerialPort::forgetOldOwedAnswers(qint64 nowNs)
{
    const qint64 memory = owedMemoryNs();
    for (int i = m_owed.size() - 1; i >= 0; --i) {
        if (m_owed.at(i).sentNs + memory < nowNs)
            m_owed.removeAt(i);
    }
}

qint64 SerialPort::clearToSendAt(const RtuRequest &next) const
{
    qint64 at = qMax(m_lastActivityNs + silentIntervalNs(), m_quietUntilNs);
    for (const OwedAnswer &owed : m_owed) {
        if (owed.request.answersLookAlike(next))
            at = qMax(at, owed.holdUntilNs);
    }
    return at;
}

// Keeps the silence, and holds the request back while an owed answer could
// be taken for its own; drops what arrives meanwhile.
bool SerialPort::waitUntilClear(const RtuRequest &next)
{
    forgetOldOwedAnswers(monotonicNs());
    for (;;) {
        if (readInput() < 0)
            return false;
        settleUnawaitedInput(false);
        if (isStopped())
            return false;
        const qint64 clearAt = clearToSendAt(next);
        const qint64 now = monotonicNs();
        if (now >= clearAt)
            break;
        if (clearAt - now > kPreciseTailNs) {
            if (waitReadable(clearAt - kPreciseTailNs) == Wait::Stopped)
                return false;
        } else {
            m_silence.sleepUntil(clearAt);
        }
    }
    settleUnawaitedInput(true);
    m_quietUntilNs = 0;
    return !isStopped();
}

int SerialPort::send(const char *data, int length)
{
    if (m_fd < 0)
        return -1;
    if (!data || length <= 0)
        return 0;
    const RtuRequest next(QByteArray(data, length));
    if (isStopped() || checkInterrupt() || !waitUntilClear(next))
        return -1;
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
        markLost(systemError("write"));
        break;
    }
    while (tcdrain(m_fd) != 0 && errno == EINTR) {
    }
    const qint64 now = monotonicNs();
    m_request = next;
    m_answerFramed = false;
    m_echoGarbled = false;
    m_requestSentNs = now;
    m_receivedSinceSend = 0;
    m_handedOver = 0;
    noteLineActivity(now);
    ++m_counters.requests;
    if (m_trace)
        m_trace->sent(data, written);
    if (m_localEcho && written == length && !isStopped() && !takeEcho())
        return -1;
    return written > 0 ? written : -1;
}

// With local echo: the request just sent comes back, byte for byte, before
// any answer. False when it did not (garbled: this request goes unanswered;
// missing: the port stops) or the port stopped meanwhile.
bool SerialPort::takeEcho()
{
    const QByteArray sent = m_request.frame();
    const qint64 deadline = m_requestSentNs + qint64(m_answerTimeoutMs) * kMs;
    for (;;) {
        const char *data = m_input.constData();
        const int size = m_input.size();
        const int compared = qMin(size, sent.size());
        const bool matches = std::memcmp(data, sent.constData(), size_t(compared)) == 0;
        if (matches && compared == sent.size()) {
            m_input.remove(0, compared);
            m_receivedSinceSend = m_input.size();
            return true;
        }
        const int frame = matches ? -1 : rtuAnswerLength(data, size);
        if (frame > 0 && size >= frame && hasValidModbusCrc(data, frame)) {
            // A whole frame where the echo belongs: the answer itself, so
            // nothing echoes; or a late answer just before the echo.
            if (m_request.isAnswer(data, frame)) {
                failEcho(EchoFault::Missing, false);
                return false;
            }
            dropLateFrame(frame);
            continue;
        }
        // Changed: judged once as many bytes are in, or a frame begun is whole.
        if (!matches && size >= sent.size() && frame <= size)
            break;
        const bool started = size > 0;
        const int due = started ? qMax(sent.size(), frame) - size : 0;
        if (readMore(started ? m_lastByteNs + interCharacterTimeoutNs() : deadline, due))
            continue;
        if (isStopped())
            return false;
        if (!started) {
            failEcho(EchoFault::Missing, true);
            return false;
        }
        break;
    }
    const QByteArray heard = m_input.left(sent.size());
    m_input.remove(0, heard.size());
    ++m_counters.garbledEchoes;
    m_lastGarbledEcho = QStringLiteral("the line garbled our own request: sent %1, heard %2%3")
                            .arg(FrameTrace::hex(sent),
                                 QLatin1String(heard.size() < sent.size() ? "only " : ""),
                                 FrameTrace::hex(heard));
    m_error = m_lastGarbledEcho;
    if (m_trace)
        m_trace->note(m_lastGarbledEcho);
    // The drive may have heard it whole: its answer gets a quiet line.
    m_echoGarbled = true;
    m_answerFramed = true;
    m_quietUntilNs = monotonicNs() + qint64(m_answerTimeoutMs) * kMs;
    return false;
}

// Without local echo, a frame identical to the request just sent can only
// be its echo, unless an answer can be the request itself.
bool SerialPort::echoIsTellable() const
{
    return !m_localEcho && m_request.isKnown() && !m_request.canBeItsOwnAnswer();
}

// Without local echo: how many bytes the input holds of the request just
// sent, from its start, where a frame identical to it can only be its echo;
// -1 when the input begins otherwise or an answer can be the request itself.
int SerialPort::ownEchoSoFar() const
{
    const QByteArray &sent = m_request.frame();
    if (!echoIsTellable() || m_input.isEmpty())
        return -1;
    const int compared = qMin(m_input.size(), sent.size());
    return std::memcmp(m_input.constData(), sent.constData(), size_t(compared)) == 0 ? compared : -1;
}

// The line's echo disagrees with the setting: nothing more is sent or taken
// until open(). With owed, the request just sent may still be answered.
void SerialPort::failEcho(EchoFault fault, bool owed)
{
    m_echoFault = fault;
    m_error = fault == EchoFault::Unexpected
                  ? QStringLiteral("the line echoes our own requests back (an adapter with local echo?)")
                  : QStringLiteral("the line does not echo our own requests back (an adapter without "
                                   "local echo?)");
    if (owed && m_request.isKnown() && !m_request.isBroadcast())
        owe(m_request, 0);
    m_input.clear();
    m_answerFramed = true;
    if (m_trace)
        m_trace->note(m_error);
}

int SerialPort::frameDelay()
{
    if (!isStopped() && !checkInterrupt() && m_frameDelayMs > 0)
        sleepInterruptibly(monotonicNs() + qint64(m_frameDelayMs) * kMs);
    return 0;
}

bool SerialPort::settleInput()
{
    if (m_fd < 0 || readInput() < 0)
        return false;
    settleUnawaitedInput(true);
    return true;
}

bool SerialPort::setOption(int option, const QVariant &value)
{
    bool isInt = false;
    if (option != DiscardInputOption || value.toInt(&isInt) != 0 || !isInt)
        return false;
    return settleInput();
}
