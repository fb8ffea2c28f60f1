#include "interrupt.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Ctrl-C, kill, the terminal or the ssh session gone, and a reader of the
// output gone (servoctl poll | head): each ends servoctl in order.
const struct
{
    int number;
    const char *name;
} kSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGPIPE, "SIGPIPE"}};

int g_wakePipe[2] = {-1, -1};
volatile sig_atomic_t g_signal = 0;
// Set before the descriptor is published, so the handler sees them whole.
termios g_lineSettings;
volatile sig_atomic_t g_lineFd = -1;
volatile sig_atomic_t g_childGroup = 0;

// Only async-signal-safe calls, and errno as it was for the code it broke into.
void onSignal(int signal)
{
    const int savedErrno = errno;
    if (g_signal && signal != SIGPIPE) {
        if (g_lineFd >= 0)
            tcsetattr(g_lineFd, TCSANOW, &g_lineSettings);
        if (g_childGroup > 0)
            kill(-g_childGroup, SIGKILL);
        ::signal(signal, SIG_DFL);
        raise(signal);
    }
    if (!g_signal)
        g_signal = signal;
    const char byte = 0;
    ssize_t ignored = ::write(g_wakePipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

bool installInterruptHandlers()
{
    if (g_wakePipe[0] < 0 && pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const auto &signal : kSignals)
        sigaction(signal.number, &action, nullptr);
    return true;
}

int interruptWakeFd()
{
    return g_wakePipe[0];
}

int interruptSignal()
{
    return g_signal;
}

const char *interruptSignalName()
{
    for (const auto &signal : kSignals) {
        if (signal.number == g_signal)
            return signal.name;
    }
    return "no signal";
}

void setLineToRestore(int fd, const termios &settings)
{
    g_lineFd = -1;
    g_lineSettings = settings;
    g_lineFd = fd;
}

void clearLineToRestore()
{
    g_lineFd = -1;
}

void setChildGroupToKill(int processGroup)
{
    g_childGroup = processGroup;
}

void clearChildGroupToKill()
{
    g_childGroup = 0;
}
