#include "dataout.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace {

int g_dataFd = STDOUT_FILENO;

} // namespace

bool divertTextToStderr()
{
    if (g_dataFd != STDOUT_FILENO)
        return true;
    const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return false;
    g_dataFd = kept;
    return true;
}

int dataOutputFd()
{
    return g_dataFd;
}
