// Linked into every fuzz target.
#include <ctime>

#include <QtGlobal>

#include "fuzz_input.h"

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

void silenceQtMessages()
{
    qInstallMessageHandler(dropMessage);
}

// The driver waits the port's frame delay with nanosleep before every
// attempt, and even a zero-length sleep costs tens of microseconds. The
// line's timing is not what these targets explore, so the executable's own
// nanosleep (which the plug-in's call binds to) returns at once.
extern "C" int nanosleep(const struct timespec *, struct timespec *)
{
    return 0;
}
