// servoctl: commissions TECO servo drives through the driver plug-in, on a
// serial line or on the built-in simulated line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/prctl.h>

#include <QCoreApplication>

#include "commands.h"
#include "completion.h"
#include "dataout.h"
#include "help.h"
#include "interrupt.h"
#include "lineauto.h"
#include "plan.h"
#include "session.h"

namespace {

// Values that never reached the user were not read: a full disk or a
// closed output fails the run.
int finish(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    std::fprintf(stderr, "servoctl: cannot write the output: %s\n", std::strerror(errno));
    return status ? status : 1;
}

// Descriptors 0 to 2 left closed by the caller are taken first, read-only
// from /dev/null: otherwise the signals' pipe or a line would be opened as
// "standard output" and get the data. Writing to them fails, as it would
// to a closed one, and finish() says so.
void holdStandardDescriptors()
{
    // The lowest free descriptor is the one taken: fd itself.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", O_RDONLY);
    }
}

} // namespace

int main(int argc, char **argv)
{
    holdStandardDescriptors();
    // First of all: a signal in the first milliseconds ends servoctl in order too.
    if (!installInterruptHandlers()) {
        std::fprintf(stderr, "servoctl: cannot make a pipe for the signal handlers\n");
        return 1;
    }
    // A tool of ours may wake on time; a library may not decide that.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QCoreApplication app(argc, argv);

    const QStringList args = app.arguments().mid(1);
    switch (infoRequest(args)) {
    case InfoRequest::Help:
        std::fputs(helpText().toUtf8().constData(), stdout);
        return finish(0);
    case InfoRequest::Version:
        std::printf("servoctl %s\n", SERVOCTL_VERSION);
        return finish(0);
    case InfoRequest::Completion:
        std::fputs(bashCompletion().toUtf8().constData(), stdout);
        return finish(0);
    case InfoRequest::None:
        break;
    }
    Plan plan;
    QString error;
    if (!parsePlan(args, &plan, &error)) {
        std::fprintf(stderr, "servoctl: %s (see servoctl --help)\n", qPrintable(error));
        return 2;
    }
    if (plan.options.dataOnStdout() && !divertTextToStderr()) {
        std::fprintf(stderr, "servoctl: cannot keep standard output for the data: %s\n", std::strerror(errno));
        return 1;
    }
    if (plan.options.lineAuto) {
        const int status = settleLineAuto(&plan);
        if (interruptSignal()) {
            std::fprintf(stderr, "servoctl: interrupted by %s\n", interruptSignalName());
            return 128 + interruptSignal();
        }
        if (status)
            return finish(status);
    }
    Session session(plan.options);
    int status = session.loadDriver(QCoreApplication::applicationDirPath());
    const Step *ran = nullptr; // the last step begun
    for (const Step &step : plan.steps) {
        if (status || interruptSignal())
            break;
        ran = &step;
        if (plan.steps.size() > 1) {
            std::printf("> %s\n", qPrintable(step.text));
            std::fflush(stdout);
        }
        status = session.run(step, *step.entry);
    }
    session.lookForAnswersTooMany();
    session.printStats();
    if (!status && session.answerInDoubt())
        status = 1;
    if (interruptSignal()) {
        session.closeLine();
        // Stopping a command that runs until stopped is its end (Ctrl-C, as
        // the poll's header offers, or poll | head); the data's reader gone
        // is the end of any (servoctl ... --csv - | head).
        const bool stopped = ran && runsUntilStopped(*ran, plan.options);
        if (stopped || (interruptSignal() == SIGPIPE && plan.options.dataOnStdout()))
            return status;
        std::fprintf(stderr, "servoctl: interrupted by %s\n", interruptSignalName());
        return 128 + interruptSignal();
    }
    return finish(status);
}
