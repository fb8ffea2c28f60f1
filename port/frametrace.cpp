#include "frametrace.h"

#include <ctime>

namespace {

qint64 wallClockNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

FrameTrace::FrameTrace(FILE *out)
    : m_sink([out](const QString &line) {
        std::fprintf(out, "%s\n", line.toLocal8Bit().constData());
        std::fflush(out);
    })
{
}

FrameTrace::FrameTrace(Sink sink) : m_sink(std::move(sink))
{
}

FrameTrace::~FrameTrace()
{
    flush();
}

void FrameTrace::sent(const char *data, int length)
{
    flush();
    emitLine(wallClockNs(), QStringLiteral("TX ") + hex(QByteArray(data, qMax(length, 0))));
}

void FrameTrace::received(const char *data, int length)
{
    if (length <= 0)
        return;
    if (m_pending.isEmpty())
        m_pendingSince = wallClockNs();
    m_pending.append(data, length);
}

void FrameTrace::note(const QString &text)
{
    flush();
    emitLine(wallClockNs(), QStringLiteral("-- ") + text);
}

void FrameTrace::flush()
{
    if (m_pending.isEmpty())
        return;
    const QByteArray bytes = m_pending;
    m_pending.clear();
    emitLine(m_pendingSince, QStringLiteral("RX ") + hex(bytes));
}

QString FrameTrace::hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void FrameTrace::emitLine(qint64 wallNs, const QString &text)
{
    const time_t seconds = time_t(wallNs / 1000000000);
    tm local;
    localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06ld ", local.tm_hour, local.tm_min, local.tm_sec,
                  long(wallNs % 1000000000 / 1000));
    m_sink(QLatin1String(stamp) + text);
}
