#include "ptylink.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "systemerror.h"

namespace {

// Empty when the path is no symbolic link.
QByteArray linkTarget(const QByteArray &path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.constData(), target, sizeof target);
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}

// /dev/pts/ and a number: a pseudo-terminal, present or gone.
bool isTerminalName(const QByteArray &target)
{
    static const QByteArray prefix("/dev/pts/");
    if (!target.startsWith(prefix) || target.size() == prefix.size())
        return false;
    for (int i = prefix.size(); i < target.size(); ++i) {
        if (target[i] < '0' || target[i] > '9')
            return false;
    }
    return true;
}

// Only a terminal known to be gone counts: one that cannot be looked at may
// still be serving.
bool isGone(const QByteArray &terminal)
{
    struct stat st;
    return stat(terminal.constData(), &st) != 0 && errno == ENOENT;
}

// What is at a path, as a refusal names it.
QString describe(const QByteArray &path, mode_t mode)
{
    static const struct
    {
        mode_t type;
        const char *text;
    } kTypes[] = {
        {S_IFREG, "a regular file"}, {S_IFDIR, "a directory"},  {S_IFCHR, "a character device"},
        {S_IFBLK, "a block device"}, {S_IFIFO, "a named pipe"}, {S_IFSOCK, "a socket"},
    };
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link to %1").arg(QFile::decodeName(linkTarget(path)));
    for (const auto &type : kTypes) {
        if ((mode & S_IFMT) == type.type)
            return QLatin1String(type.text);
    }
    return QStringLiteral("something else");
}

} // namespace

PtyLink::PtyLink(const QString &path) : m_path(path)
{
}

PtyLink::~PtyLink()
{
    remove();
}

bool PtyLink::fail(const QString &text)
{
    m_error = text;
    return false;
}

bool PtyLink::make(const QString &terminal)
{
    m_notice.clear();
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray target = QFile::encodeName(terminal);
    struct stat st;
    if (lstat(path.constData(), &st) != 0) {
        // symlink() never replaces: what appears meanwhile is left alone.
        if (errno != ENOENT || symlink(target.constData(), path.constData()) != 0)
            return fail(systemError("cannot make the link %1", m_path));
    } else {
        const QString refusal = refusalToReplace(path, st.st_mode);
        if (!refusal.isEmpty())
            return fail(refusal);
        const QByteArray old = linkTarget(path);
        const bool ours = !m_terminal.isEmpty() && old == QFile::encodeName(m_terminal);
        if (!replace(target))
            return false;
        if (!ours && !isGone(old)) {
            m_notice = QStringLiteral("took %1 over from %2, a terminal still there (another "
                                      "simulator's, or one that has taken its number since)")
                           .arg(m_path, QFile::decodeName(old));
        }
    }
    m_terminal = terminal;
    return true;
}

// Empty where the name may be taken: our own link, or a link to a terminal
// that is gone. A live one may be another simulator's, still serving.
QString PtyLink::refusalToReplace(const QByteArray &path, mode_t mode) const
{
    const QByteArray old = S_ISLNK(mode) ? linkTarget(path) : QByteArray();
    if (!m_terminal.isEmpty() && old == QFile::encodeName(m_terminal))
        return QString();
    if (!isTerminalName(old))
        return QStringLiteral("not replacing %1: it is %2").arg(m_path, describe(path, mode));
    return QString();
}

// The new link is made under a temporary name beside the old one and
// renamed over it.
bool PtyLink::replace(const QByteArray &target)
{
    const QFileInfo info(m_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temporary = QFile::encodeName(
            QStringLiteral("%1/.%2.%3.%4").arg(info.path(), info.fileName()).arg(getpid()).arg(attempt));
        if (symlink(target.constData(), temporary.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            return fail(systemError("cannot make a link beside %1", m_path));
        }
        if (rename(temporary.constData(), QFile::encodeName(m_path).constData()) == 0)
            return true;
        const QString error = systemError("cannot replace the link %1", m_path);
        unlink(temporary.constData());
        return fail(error);
    }
    return fail(QStringLiteral("cannot make a link beside %1: no free temporary name").arg(m_path));
}

void PtyLink::remove()
{
    if (m_terminal.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(m_path);
    if (linkTarget(path) == QFile::encodeName(m_terminal))
        unlink(path.constData());
    m_terminal.clear();
}
