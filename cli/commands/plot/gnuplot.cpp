#include "gnuplot.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "interrupt.h"
#include "newfile.h"
#include "systemerror.h"
#include "termiosline.h"

namespace {

// gnuplot works in its own folder under these fixed names, so nothing the
// user named (quotes, blanks) ever stands in its script as a path.
const char kScriptName[] = "plot.gp";
const char kErrorsName[] = "gnuplot.err";

// What gnuplot said of its failure: its own error line naming the script,
// else the first line it wrote.
QString gnuplotError(const QDir &dir, int status)
{
    QFile file(dir.filePath(QLatin1String(kErrorsName)));
    file.open(QIODevice::ReadOnly);
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString scriptLine = QStringLiteral("\"%1\" line ").arg(QLatin1String(kScriptName));
    for (const QString &line : lines) {
        if (line.startsWith(scriptLine) && !line.contains(QLatin1String(": warning:")))
            return QStringLiteral("gnuplot: ") + line.trimmed();
    }
    if (!lines.isEmpty())
        return QStringLiteral("gnuplot: ") + lines[0].trimmed();
    return QStringLiteral("gnuplot ended with status %1").arg(status);
}

// gnuplot's wait status, -1 with errno when it cannot be waited for. When
// servoctl is asked to end, so is gnuplot's whole group: SIGTERM, and
// SIGKILL after kEndGraceNs for a gnuplot that hangs on; what is left of
// the group once gnuplot has gone is killed too.
int waitForGnuplot(pid_t pid)
{
    const qint64 kEndGraceNs = 2000000000;
    qint64 killAtNs = 0;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, killAtNs ? WNOHANG : 0);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return -1;
        if (!interruptSignal())
            continue;
        if (!killAtNs) {
            kill(-pid, SIGTERM);
            killAtNs = monotonicNs() + kEndGraceNs;
        } else if (monotonicNs() >= killAtNs) {
            kill(-pid, SIGKILL);
        }
        if (ended == 0) {
            const timespec pause = {0, 10000000};
            nanosleep(&pause, nullptr);
        }
    }
    if (killAtNs)
        kill(-pid, SIGKILL);
    return status;
}

// Runs gnuplot on the script in dir, with no shell between; empty when it
// drew the image.
QString runGnuplot(const QString &program, const QDir &dir)
{
    const QByteArray path = QFile::encodeName(program);
    const QByteArray folder = QFile::encodeName(dir.path());
    char name[] = "gnuplot";
    char script[sizeof kScriptName];
    std::memcpy(script, kScriptName, sizeof kScriptName);
    char *const argv[] = {name, script, nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        return QStringLiteral("cannot start gnuplot: %1").arg(systemReason());
    if (pid == 0) { // only async-signal-safe calls from here
        // A group of its own, which servoctl ends whole (a gnuplot that is
        // a script ends its own children too); and gone with servoctl,
        // should servoctl be killed outright.
        setpgid(0, 0);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        const int errors = chdir(folder.constData()) == 0 ? ::open(kErrorsName, O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
        if (null < 0 || errors < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0
            || dup2(errors, STDERR_FILENO) < 0) {
            _exit(127);
        }
        execv(path.constData(), argv);
        _exit(127);
    }
    setpgid(pid, pid); // as the child does, whichever runs first
    setChildGroupToKill(pid);
    const int status = waitForGnuplot(pid);
    clearChildGroupToKill();
    if (status < 0)
        return QStringLiteral("gnuplot: %1").arg(systemReason());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return QString();
    return gnuplotError(dir, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

bool writeFileIn(const QDir &dir, const QString &name, const QByteArray &contents)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.flush();
}

} // namespace

const char plotPngName[] = "plot.png";

bool drawPng(const QByteArray &script, const QList<QPair<QString, QByteArray>> &files, const QString &pngPath,
             QString *error, const QString &noGnuplot)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    if (program.isEmpty()) {
        *error = noGnuplot.isEmpty() ? QStringLiteral("gnuplot is needed (apt-get install gnuplot-nox)") : noGnuplot;
        return false;
    }
    const QTemporaryDir temporary(QDir::temp().filePath(QStringLiteral("servoctl-plot-XXXXXX")));
    if (!temporary.isValid()) {
        *error = QStringLiteral("cannot make a folder for gnuplot: %1").arg(temporary.errorString());
        return false;
    }
    const QDir dir(temporary.path());
    bool written = writeFileIn(dir, QLatin1String(kScriptName), script);
    for (const auto &file : files)
        written = written && writeFileIn(dir, file.first, file.second);
    if (!written) {
        *error = QStringLiteral("cannot write gnuplot's files into %1").arg(dir.path());
        return false;
    }
    *error = runGnuplot(program, dir);
    if (!error->isEmpty())
        return false;
    QFile image(dir.filePath(QLatin1String(plotPngName)));
    if (!image.open(QIODevice::ReadOnly) || image.size() == 0) {
        *error = QStringLiteral("gnuplot drew no image");
        return false;
    }
    return writeNewFile(pngPath, image.readAll(), error);
}
