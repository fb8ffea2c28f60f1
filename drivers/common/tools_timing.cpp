#include "tools.h"

#include <cerrno>
#include <ctime>

#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "qt_compat.h"
#include "tools_p.h"

// ---- Timing and diagnostics ------------------------------------------------------

void HRSleep(unsigned long ms)
{
    timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

qint64 CurrentMSecsSinceBoot()
{
    // clock_gettime through the system call: C libraries before 2.17 keep
    // the wrapper in librt, which a panel's runtime need not have loaded.
    // The kernel's own timespec, whatever width the C library gives time_t.
    struct
    {
        long tv_sec;
        long tv_nsec;
    } now = {0, 0};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + qint64(now.tv_nsec) / 1000000;
}

bool ProcessIsRunning(long long pid)
{
    const pid_t id = static_cast<pid_t>(pid);
    if (id != pid || id <= 0)
        return false; // 0 and negatives would name process groups
    return kill(id, 0) == 0 || errno == EPERM;
}

QString bytesAsHexAndText(const QByteArray &a)
{
    // Written straight into one buffer: a package trace runs on every frame.
    static const char digits[] = "0123456789abcdef";
    const int hexLength = 1 + 5 * a.size();
    QString text;
    text.reserve(hexLength + 4 + a.size());
    text.resize(hexLength);
    QChar *out = text.data();
    *out++ = QLatin1Char('(');
    for (const char c : a) {
        const unsigned int value = static_cast<unsigned char>(c);
        *out++ = QLatin1Char('0');
        *out++ = QLatin1Char('X');
        if (value >= 16)
            *out++ = QLatin1Char(digits[value >> 4]);
        *out++ = QLatin1Char(digits[value & 15]);
        *out++ = QLatin1Char(' ');
    }
    text.truncate(int(out - text.constData()));
    // The text part ends at the first NUL, as a C string does.
    text += QLatin1String(") : ");
    text += QLatin1String(a.constData());
    return text;
}

QString dumpByteArray(const QByteArray &a)
{
    const QString text = bytesAsHexAndText(a);
    QtCompat::debugMessage(text);
    return text;
}
