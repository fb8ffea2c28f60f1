// Files in folders every user can write: what the port keeps in the lock
// folder for the line's next program, against what another local user may
// have put there under its name.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "bitwise_crc.h"
#include "hosttest.h"
#include "linedebtfile.h"
#include "servoctl_run.h"
#include "termiosline.h"
#include "test_files.h"

namespace {

QString debtPathFor(int fd, const QString &folder)
{
    struct stat st;
    fstat(fd, &st);
    return QStringLiteral("%1/modbus-line-%2-%3.debt").arg(folder).arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

// Of the entry itself, not what a link points to.
struct stat entryAt(const QString &path)
{
    struct stat st = {};
    lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

LineDebt someDebt()
{
    LineDebt debt;
    const qint64 now = monotonicNs();
    debt.owed.append(LineDebt::Owed{hexWithCrc("010300000001"), now, now + 1000000000LL, 0});
    return debt;
}

// A sticky folder open to everyone, as /run/lock is; the line is a
// pseudo-terminal, the other user's secret a 0600 file elsewhere.
class LockFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(openRawPty(&master, &slave));
        ASSERT_TRUE(lockDir.isValid() && elsewhere.isValid());
        chmod(QFile::encodeName(lockDir.path()).constData(), 01777);
        debtPath = debtPathFor(slave, lockDir.path());
        secret = elsewhere.filePath(QStringLiteral("secret"));
        ASSERT_TRUE(writeFile(secret, "root only\n", 0600));
    }
    void TearDown() override
    {
        ::close(master);
        ::close(slave);
    }

    // Leaving a debt, leaving none (a removal) and taking one: each says
    // the one warning and changes nothing there.
    void expectLeftAlone(const QString &warning, const std::function<void()> &unchanged, bool read = false)
    {
        const struct stat before = entryAt(debtPath);
        const std::function<void(QString *)> operations[] = {
            [&](QString *w) { leaveLineDebt(slave, someDebt(), lockDir.path(), w); },
            [&](QString *w) { leaveLineDebt(slave, LineDebt(), lockDir.path(), w); },
            [&](QString *w) { EXPECT_EQ(takeLineDebt(slave, lockDir.path(), w).isEmpty(), !read); },
        };
        for (const auto &operation : operations) {
            QString said;
            operation(&said);
            EXPECT_EQ(said, warning);
            const struct stat after = entryAt(debtPath);
            EXPECT_EQ(after.st_ino, before.st_ino) << qPrintable(warning);
            EXPECT_EQ(after.st_mode, before.st_mode) << qPrintable(warning);
            EXPECT_EQ(after.st_uid, before.st_uid) << qPrintable(warning);
            unchanged();
        }
    }

    int master = -1, slave = -1;
    QTemporaryDir lockDir, elsewhere;
    QString debtPath, secret;
};

TEST_F(LockFolder, WhatAnotherUserPutUnderTheNameIsLeftAlone)
{
    const auto secretUntouched = [this] {
        EXPECT_EQ(contentsOf(secret), QByteArray("root only\n"));
        EXPECT_EQ(entryAt(secret).st_mode & 07777, 0600u);
    };
    const QByteArray name = QFile::encodeName(debtPath);
    const struct
    {
        const char *what;
        std::function<void()> plant;
        std::function<void()> unchanged;
    } cases[] = {
        {"is a symbolic link", [&] { symlink(QFile::encodeName(secret).constData(), name.constData()); }, secretUntouched},
        {"is a symbolic link", // to where nothing is yet: nothing is made there
         [&] { symlink(QFile::encodeName(secret + QStringLiteral(".new")).constData(), name.constData()); },
         [&] { EXPECT_FALSE(QFile::exists(secret + QStringLiteral(".new"))); }},
        {"has 2 links", [&] { link(QFile::encodeName(secret).constData(), name.constData()); }, secretUntouched},
        {"is a folder", [&] { mkdir(name.constData(), 0755); }, [&] { EXPECT_TRUE(QDir(debtPath).exists()); }},
        {"is not a regular file", [&] { mkfifo(name.constData(), 0666); }, [] {}},
    };
    for (const auto &c : cases) {
        c.plant();
        expectLeftAlone(debtPath + QLatin1Char(' ') + QLatin1String(c.what), c.unchanged);
        ::remove(name.constData());
    }
}

TEST_F(LockFolder, AnotherUsersDebtFileIsReadButNeitherChangedNorRemoved)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    QString said;
    leaveLineDebt(slave, someDebt(), lockDir.path(), &said);
    ASSERT_EQ(chown(QFile::encodeName(debtPath).constData(), 65534, 65534), 0);
    const QByteArray theirs = contentsOf(debtPath);
    expectLeftAlone(
        debtPath + QStringLiteral(" belongs to another user"), [&] { EXPECT_EQ(contentsOf(debtPath), theirs); }, true);
}

// Every user's next program may read what we leave; only we may change it,
// whatever the umask, and a file of ours left writable to all is mended.
TEST_F(LockFolder, OurDebtFileIsReadableByAllAndWritableByUsOnly)
{
    for (const mode_t mask : {mode_t(0), mode_t(077)}) {
        const mode_t old = umask(mask);
        if (mask == 0) {
            ASSERT_TRUE(writeFile(debtPath, "stale\n", 0666));
        }
        QString said;
        leaveLineDebt(slave, someDebt(), lockDir.path(), &said);
        umask(old);
        EXPECT_EQ(said, QString());
        EXPECT_EQ(entryAt(debtPath).st_mode & 07777, 0644u) << "umask " << mask;
        const LineDebt taken = takeLineDebt(slave, lockDir.path(), &said);
        ASSERT_EQ(taken.owed.size(), 1);
        EXPECT_EQ(taken.owed[0].request, hexWithCrc("010300000001"));
        EXPECT_FALSE(QFile::exists(debtPath)) << "ours: removed once taken";
    }
}

using LockFolderOfServoctl = LockFolder; // its debt in servoctl's own folder

// servoctl on a real line whose drive does not answer leaves a debt at
// exit; a link planted where it goes is said once and the root-only file it
// points to is kept as it was.
TEST_F(LockFolderOfServoctl, APlantedLinkIsSaidOnceAndItsTargetKept)
{
    debtPath = debtPathFor(slave, lineDebtFolder());
    QFile::remove(debtPath);
    ASSERT_EQ(symlink(QFile::encodeName(secret).constData(), QFile::encodeName(debtPath).constData()), 0);

    const Outcome run = servoctl({"-d", QString::fromLocal8Bit(ptsname(master)), "--timeout", "50", "--retries",
                                  "0", "read", "HR1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(holdsOnce(run.err, QStringLiteral("servoctl: %1 is a symbolic link: left alone\n").arg(debtPath)));
    EXPECT_EQ(run.err.count(debtPath), 1) << qPrintable(run.err);
    EXPECT_EQ(contentsOf(secret), QByteArray("root only\n"));
    EXPECT_TRUE(S_ISLNK(entryAt(debtPath).st_mode));
    QFile::remove(debtPath);
}

} // namespace
