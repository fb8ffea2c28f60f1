#include "serialport.h"

// Opening, closing and reopening the line, and the port's settings. Sending
// is in serialportsend.cpp, receiving and the judge's verdicts in
// serialportreceive.cpp, and the waits, a lost line and an interrupt in
// serialportwait.cpp.

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QVariant>

#include "drv_dev_setting.h"
#include "frametrace.h"
#include "linedebtfile.h"
#include "linelock.h"
#include "lowlatency.h"
#include "serialport_p.h"
#include "termiosline.h"

SerialPort::SerialPort()
{
    std::memset(&m_saved, 0, sizeof m_saved);
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::savedSettings(termios *settings) const
{
    *settings = m_saved;
    return m_fd >= 0 && m_savedValid;
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
    m_onPty = isPseudoTerminal(fd);
    m_link = terminalLink();
    m_saved = saved;
    m_savedValid = savedValid;
    startAfresh();
    return true;
}

void SerialPort::adopt(int fd, std::unique_ptr<Link> link, const QString &name, const LineSettings &settings)
{
    SerialPort::close(); // not a subclass's, which would let go of what it holds besides
    m_fd = fd;
    m_path = name;
    m_line = settings;
    m_onPty = false;
    m_link = std::move(link);
    startAfresh();
}

// A line just opened: nothing sent yet, nothing owed but what the line's
// last program left.
void SerialPort::startAfresh()
{
    m_lost = false;
    m_error.clear();
    m_handedOver = 0;
    m_judge.reset(monotonicNs());
    QString warning;
    m_inherited = takeLineDebt(m_fd, lineDebtFolder(), &warning);
    warnOnce(warning);
}

bool SerialPort::reopen()
{
    if (m_path.isEmpty())
        return fail(QStringLiteral("the port was never open"));
    const QString path = m_path;
    const LineSettings settings = m_line;
    const bool shownSilent = m_judge.shownSilent(); // the same adapter
    if (!open(path, settings))
        return false;
    m_judge.setShownSilent(shownSilent);
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
    // Still holding the line, so that the next program finds it written.
    if (!m_lost) {
        takeDebt();
        QString warning;
        leaveLineDebt(m_fd, m_judge.debt(monotonicNs()), lineDebtFolder(), &warning);
        warnOnce(warning);
    }
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
    m_judge.dropInput();
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

// Over TCP the converter keeps the silence on its own line.
qint64 SerialPort::silentIntervalNs() const
{
    if (m_silentIntervalNs >= 0)
        return m_silentIntervalNs;
    return m_link->keepsLineTime() ? m_line.silentIntervalNs() : 0;
}

// Over TCP an answer's bytes may come in pieces as the network pleases: the
// rest of a begun answer is awaited as long as the answer itself.
qint64 SerialPort::interCharacterTimeoutNs() const
{
    if (!m_link->keepsLineTime())
        return qMax(answerTimeoutNs(), m_interCharFloorNs);
    return qMax(m_line.characterTimeNs() * 3 / 2, m_interCharFloorNs);
}

qint64 SerialPort::characterNs() const
{
    return m_link->keepsLineTime() ? m_line.characterTimeNs() : 0;
}

qint64 SerialPort::answerTimeoutNs() const
{
    return qint64(m_answerTimeoutMs) * kMs;
}

qint64 SerialPort::lateHorizonNs() const
{
    return 2 * answerTimeoutNs();
}

qint64 SerialPort::owedMemoryNs() const
{
    return AnswerJudge::owedMemoryFor(answerTimeoutNs());
}

bool SerialPort::setOption(int option, const QVariant &value)
{
    bool isInt = false;
    if (option != DiscardInputOption || value.toInt(&isInt) != 0 || !isInt)
        return false;
    return settleInput();
}
