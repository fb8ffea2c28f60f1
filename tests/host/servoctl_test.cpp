// servoctl as a user runs it: a child process on the built-in simulated line.
// Started with fork and exec rather than QProcess, whose process handling
// does not survive qemu's user-mode emulation.
#include <csignal>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct Outcome
{
    int status = -1; // exit status; -1 when killed or not started
    QString out;
    QString err;
};

Outcome servoctl(const QStringList &args)
{
    std::vector<QByteArray> argv;
    for (const QString &arg : QStringLiteral(SERVOCTL_COMMAND).split(QLatin1Char('|')) + args)
        argv.push_back(arg.toLocal8Bit());
    std::vector<char *> pointers;
    for (QByteArray &arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    Outcome outcome;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return outcome;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    QByteArray bytes[2];
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 120000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                bytes[i].append(chunk, int(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (open > 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ::close(out[0]);
    ::close(err[0]);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = QString::fromLocal8Bit(bytes[0]);
    outcome.err = QString::fromLocal8Bit(bytes[1]);
    return outcome;
}

TEST(Servoctl, HelpAndInfo)
{
    const Outcome help = servoctl({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    for (const char *word : {"info", "read ADDRESS", "write ADDRESS", "poll ADDRESS", "--trace", "--device"})
        EXPECT_TRUE(help.out.contains(QLatin1String(word))) << word;
    for (const char *entry : {"plugin", "create"}) {
        const Outcome info = servoctl({QStringLiteral("--entry"), QLatin1String(entry), QStringLiteral("info")});
        EXPECT_EQ(info.status, 0) << qPrintable(info.err);
        EXPECT_TRUE(info.out.contains(QLatin1String("driver:        Teco Servo\n"))) << qPrintable(info.out);
        EXPECT_TRUE(info.out.contains(QLatin1String("block limits:  125 registers, 2008 bits per request")));
    }
}

TEST(Servoctl, WritesReadsAndTracesOnTheSimulatedLine)
{
    const Outcome run = servoctl({"--trace", "--timeout", "2000", "write", "HR100", "word", "4660", "-2",
                              "then", "read", "HR100", "word", "2", "hex",
                              "then", "read", "HR101", "signed",
                              "then", "read", "IR1", "word", "2", "bits"});
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.out.contains(QLatin1String("HR100: wrote 2 words\n"))) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(QLatin1String("HR100 = 0x1234\nHR101 = 0xFFFE\n"))) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(QLatin1String("HR101 = -2\n"))) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(QLatin1String("IR1 = 0000 0011 1110 1000\nIR2 = 0000 0011 1110 1001\n")))
        << qPrintable(run.out);
    EXPECT_TRUE(run.err.contains(QLatin1String(" TX 01 10 00 63 00 02 04 12 34 FF FE "))) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(QLatin1String(" RX 01 03 04 12 34 FF FE "))) << qPrintable(run.err);
}

TEST(Servoctl, FailuresPrintTheDriversTextAndExitNonZero)
{
    const Outcome absent = servoctl({"--station", "9", "--timeout", "200", "--retries", "0", "read", "HR1"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_TRUE(absent.err.contains(QLatin1String("servoctl: read HR1: PLC no response (read 1 word(s) from 9-HR1)\n")))
        << qPrintable(absent.err);
    const Outcome refused = servoctl({"read", "HR1", "qword"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(QLatin1String("unsupported data type: HR1"))) << qPrintable(refused.err);
    for (const QStringList &misuse : {QStringList{}, QStringList{"frobnicate"}, QStringList{"write", "HR1", "word", "70000"},
                                      QStringList{"--line", "RS485,9600", "read", "HR1"}}) {
        const Outcome run = servoctl(misuse);
        EXPECT_EQ(run.status, 2) << qPrintable(misuse.join(' '));
        EXPECT_TRUE(run.err.endsWith(QLatin1String("(see servoctl --help)\n"))) << qPrintable(run.err);
    }
}

TEST(Servoctl, PollStopsAfterTheGivenNumberOfReads)
{
    const Outcome run = servoctl({"--polls", "3", "--interval", "10", "--timeout", "2000", "poll", "DI1", "bit", "4"});
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out.count(QLatin1String("DI4 = 1\n")), 3) << qPrintable(run.out);
    EXPECT_TRUE(run.out.endsWith(QLatin1String("3 polls, 3 good\n"))) << qPrintable(run.out);
}

} // namespace
