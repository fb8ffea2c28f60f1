#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

// One of our programs started as a user starts it, with its standard output
// and error read as they come. fork and exec rather than QProcess, whose
// process handling does not survive qemu's user-mode emulation. The command
// is the program, after the emulator when cross-compiling, joined by '|'.
// Its standard input is /dev/null, as in a script, or the given terminal.

#include <csignal>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

class ChildProcess
{
public:
    ChildProcess(const char *command, const QStringList &args, int input = -1)
    {
        std::vector<QByteArray> argv;
        for (const QString &arg : QString::fromLocal8Bit(command).split(QLatin1Char('|')) + args)
            argv.push_back(arg.toLocal8Bit());
        std::vector<char *> pointers;
        for (QByteArray &arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            execv(pointers[0], pointers.data());
            _exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_fds[0] = out[0];
        m_fds[1] = err[0];
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && m_status == kRunning)
            kill(m_pid, SIGKILL);
        finish(10000);
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int number) { kill(m_pid, number); }
    QString out() const { return QString::fromLocal8Bit(m_bytes[0]); }
    QString err() const { return QString::fromLocal8Bit(m_bytes[1]); }

    enum Streams { OutOrErr, OutOnly };

    // Reads until standard output (or error) holds text, or timeoutMs pass.
    bool waitFor(const QString &text, int timeoutMs = 60000, Streams streams = OutOrErr)
    {
        const QByteArray wanted = text.toLocal8Bit();
        const qint64 deadline = nowMs() + timeoutMs;
        while (!m_bytes[0].contains(wanted) && (streams == OutOnly || !m_bytes[1].contains(wanted))) {
            if (!readSome(int(deadline - nowMs())))
                return false;
        }
        return true;
    }

    // Reads everything until the program ends (killed after timeoutMs);
    // its exit status, or -1 when a signal ended it.
    int finish(int timeoutMs = 120000)
    {
        const qint64 deadline = nowMs() + timeoutMs;
        while (readSome(int(deadline - nowMs()))) {
        }
        if (m_pid <= 0)
            return -1;
        if (m_status == kRunning) {
            if (m_fds[0] >= 0 || m_fds[1] >= 0)
                kill(m_pid, SIGKILL);
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        for (int &fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        return m_status;
    }

    // User and system CPU time the running program has used.
    qint64 cpuTimeMs() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        // Fields 14 and 15 (utime, stime), counted after the command name.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
        return ticks * 1000 / sysconf(_SC_CLK_TCK);
    }

private:
    static const int kRunning = -2;

    static qint64 nowMs()
    {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }

    // False once both streams are closed or the time is up.
    bool readSome(int timeoutMs)
    {
        pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
        if (timeoutMs <= 0 || (m_fds[0] < 0 && m_fds[1] < 0) || poll(fds, 2, timeoutMs) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(m_fds[i], chunk, sizeof chunk);
            if (n > 0) {
                m_bytes[i].append(chunk, int(n));
            } else {
                ::close(m_fds[i]);
                m_fds[i] = -1;
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_fds[2] = {-1, -1};
    QByteArray m_bytes[2];
    int m_status = kRunning;
};

#endif // CHILD_PROCESS_H
