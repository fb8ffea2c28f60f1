// line_bench port: how the port waits (for an answer byte, for a silent
// interval) against the simple ways, in lateness and CPU.
#include "line_bench.h"

#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "deadlinesleeper.h"
#include "measure.h"
#include "pacedline.h"
#include "serialport.h"
#include "simline.h"
#include "termiosline.h"

namespace {

struct Lateness
{
    double meanNs = 0;
    double cpuNs = 0;
};

Lateness measureWait(const std::function<void(qint64)> &waitUntil, qint64 intervalNs, int n)
{
    double late = 0;
    const Sample start = Sample::now();
    for (int i = 0; i < n; ++i) {
        const qint64 deadline = monotonicNs() + intervalNs;
        waitUntil(deadline);
        late += double(monotonicNs() - deadline);
    }
    const Sample used = Sample::now() - start;
    return {late / n, used.cpuNs / n};
}

// Time from a byte written on the far side of a pty to the reader having it:
// through the port's receive (poll) and through a read-and-sleep loop.
Lateness measureReceive(const std::function<int(int fd, char *byte)> &readOne, int n)
{
    int master = -1;
    int slave = -1;
    openpty(&master, &slave, nullptr, nullptr, nullptr);
    QString error;
    configureTerminal(slave, settingsFor(115200), &error);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    double late = 0;
    const Sample start = Sample::now();
    for (int i = 0; i < n; ++i) {
        qint64 written = 0;
        std::thread writer([&] {
            usleep(300 + (i * 7919) % 500);
            written = monotonicNs();
            const char byte = 0x55;
            ssize_t ignored = ::write(master, &byte, 1);
            (void)ignored;
        });
        char byte = 0;
        readOne(slave, &byte);
        const qint64 got = monotonicNs();
        writer.join();
        late += double(got - written);
    }
    const Sample used = Sample::now() - start;
    ::close(master);
    ::close(slave);
    return {late / n, used.cpuNs / n};
}

} // namespace

int runPort()
{
    print(QStringLiteral("Waiting for an answer byte (the port polls; the other way sleeps 1 ms "
                         "between tries):"));
    print(QString());
    print(QStringLiteral("| Way | Byte written to reader returning, mean (us) |"));
    print(QStringLiteral("|---|---:|"));
    const Lateness polled = measureReceive(
        [](int fd, char *byte) {
            pollfd pfd = {fd, POLLIN, 0};
            poll(&pfd, 1, 1000);
            return int(::read(fd, byte, 1));
        },
        300);
    const Lateness slept = measureReceive(
        [](int fd, char *byte) {
            for (;;) {
                const ssize_t n = ::read(fd, byte, 1);
                if (n > 0)
                    return int(n);
                usleep(1000);
            }
        },
        300);
    print(QStringLiteral("| poll() (the port) | %1 |").arg(fixed(polled.meanNs / 1e3, 1)));
    print(QStringLiteral("| read, sleep 1 ms, read again | %1 |").arg(fixed(slept.meanNs / 1e3, 1)));

    print(QString());
    print(QStringLiteral("Keeping the silent interval before a request (deadline passed by, "
                         "mean; CPU of the calling thread per wait):"));
    print(QString());
    print(QStringLiteral("| Way | Silence | Late (us) | CPU per wait (us) |"));
    print(QStringLiteral("|---|---|---:|---:|"));
    for (const int baud : {9600, 115200}) {
        const qint64 silence = settingsFor(baud).silentIntervalNs();
        const QString label = QStringLiteral("%1 ms (%2 baud)").arg(fixed(silence / 1e6, 2)).arg(baud);
        const Lateness plain = measureWait(
            [](qint64 deadline) {
                const timespec ts = {time_t(deadline / 1000000000), long(deadline % 1000000000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
            },
            silence, 300);
        DeadlineSleeper sleeper;
        const Lateness learned = measureWait([&sleeper](qint64 deadline) { sleeper.sleepUntil(deadline); }, silence, 300);
        print(QStringLiteral("| clock_nanosleep to the deadline | %1 | %2 | %3 |")
                  .arg(label, fixed(plain.meanNs / 1e3, 1), fixed(plain.cpuNs / 1e3, 1)));
        print(QStringLiteral("| DeadlineSleeper (the port) | %1 | %2 | %3 |")
                  .arg(label, fixed(learned.meanNs / 1e3, 1), fixed(learned.cpuNs / 1e3, 1)));
    }

    print(QString());
    print(QStringLiteral("Answer time-out from write() instead of after tcdrain(): the part of "
                         "the time-out the request itself uses up on the wire (longest request, "
                         "123 registers written, 255 characters):"));
    print(QString());
    print(QStringLiteral("| Baud | Request on the wire (ms) | Of a 500 ms time-out |"));
    print(QStringLiteral("|---:|---:|---:|"));
    for (const int baud : kBauds) {
        const double wire = 255.0 * double(settingsFor(baud).characterTimeNs()) / 1e6;
        print(QStringLiteral("| %1 | %2 | %3 % |").arg(baud).arg(fixed(wire, 1)).arg(fixed(wire / 5.0, 0)));
    }
    {
        SimLine sim({1});
        PacedLine line(&sim);
        line.open(settingsFor(115200), false);
        SerialPort port;
        port.open(line.path(), settingsFor(115200));
        port.setSilentInterval(0);
        const QByteArray request = QByteArray::fromHex("010300000001840A");
        const int n = 2000;
        const Sample start = Sample::now();
        for (int i = 0; i < n; ++i)
            port.send(request.constData(), request.size());
        const Sample used = Sample::now() - start;
        print(QString());
        print(QStringLiteral("A send() with its tcdrain() on the pseudo-terminal: %1 us wall, "
                             "%2 us CPU.")
                  .arg(fixed(used.wallNs / n / 1e3, 1), fixed(used.cpuNs / n / 1e3, 1)));
        print(QStringLiteral("Low latency asked of the kernel on this pseudo-terminal: %1.")
                  .arg(port.lowLatency() ? QStringLiteral("granted") : QStringLiteral("not available (no such setting)")));
    }
    return 0;
}
