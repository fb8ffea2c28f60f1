#include "deviceaccess.h"

#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "systemerror.h"

namespace {

// "crw-rw----", as ls shows it.
QString modeText(const DeviceAccess &access)
{
    QString text(10, QLatin1Char('-'));
    if (access.characterDevice)
        text[0] = QLatin1Char('c');
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (access.mode & (0400 >> i))
            text[i + 1] = QLatin1Char(letters[i]);
    }
    return text;
}

QString groupName(gid_t gid)
{
    const group *entry = getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

QString userName(uid_t uid)
{
    const passwd *entry = getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

// Whether the user is in the group in the group database: joined, even if
// this login does not have it yet.
bool userInGroup(gid_t gid)
{
    const passwd *user = getpwuid(getuid());
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(size_t(count), 0);
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(size_t(count));
    for (const gid_t g : groups) {
        if (g == gid)
            return true;
    }
    return false;
}

bool sessionInGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0), 0);
    if (count > 0 && getgroups(count, groups.data()) == count) {
        for (const gid_t g : groups) {
            if (g == gid)
                return true;
        }
    }
    return false;
}

} // namespace

QString permissionHint(const QString &path, const DeviceAccess &access)
{
    if (!access.characterDevice || access.pseudoTerminal)
        return QString();
    const bool groupMayUse = (access.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && !access.groupIsRoot) {
        if (access.sessionInGroup)
            return QString(); // not the group: something else refuses
        if (access.userInGroup) {
            return QStringLiteral("you are in the %1 group, but this login is not yet: log in again "
                                  "(or run newgrp %1)")
                .arg(access.group);
        }
        return QStringLiteral("add yourself to the %1 group: sudo adduser $USER %1, then log in again").arg(access.group);
    }
    return QStringLiteral("%1 is %2 %3 %4, no group a user may join: a udev rule can give it to the "
                          "dialout group (GROUP=\"dialout\", MODE=\"0660\"); then sudo adduser $USER dialout, "
                          "and log in again")
        .arg(path, modeText(access), access.owner, access.group);
}

QString openFailureHint(const QString &failureText)
{
    const QString start = QStringLiteral("cannot open ");
    const QString end = QStringLiteral(": ") + systemReason(EACCES);
    if (!failureText.startsWith(start) || !failureText.endsWith(end))
        return QString();
    const QString path = failureText.mid(start.size(), failureText.size() - start.size() - end.size());
    struct stat st;
    if (path.isEmpty() || stat(path.toLocal8Bit().constData(), &st) != 0)
        return QString();
    DeviceAccess access;
    access.characterDevice = S_ISCHR(st.st_mode);
    // Unix98 pseudo-terminals: majors 136 to 143.
    access.pseudoTerminal = major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    access.mode = st.st_mode & 07777;
    access.owner = userName(st.st_uid);
    access.group = groupName(st.st_gid);
    access.groupIsRoot = st.st_gid == 0;
    access.userInGroup = userInGroup(st.st_gid);
    access.sessionInGroup = sessionInGroup(st.st_gid);
    return permissionHint(path, access);
}
