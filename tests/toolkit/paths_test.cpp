#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDir>

#include "qt_test_compat.h"
#include "tools.h"

namespace {

void removeMadeDirectories(const QDir &base)
{
    for (const char *name : {"compile", "database"})
        removeFolder(base.filePath(name));
}

TEST(ProjectPaths, FollowTheDirectoriesThatExist)
{
    int argc = 1;
    char name[] = "toolkit_paths_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QDir appDir(QCoreApplication::applicationDirPath());
    ASSERT_FALSE(appDir.exists("compile") || appDir.exists("database")) << "left over";
    const std::shared_ptr<void> cleanUp(nullptr, [&](void *) { removeMadeDirectories(appDir); });

    const struct
    {
        std::vector<QString> make;
        const char *compilePath;
        const char *database;
    } cases[] = {
        {{}, ".", "database"},
        {{"database"}, ".", "database/database"},
        {{"compile"}, "compile", "compile/database"},
        {{"compile/database"}, "compile", "compile/database/database"},
    };
    for (const auto &c : cases) {
        for (const QString &dir : c.make)
            ASSERT_TRUE(appDir.mkpath(dir));
        EXPECT_EQ(GetCompilePath().absolutePath(), QDir::cleanPath(appDir.absoluteFilePath(c.compilePath)));
        EXPECT_EQ(GetDatabaseName(), appDir.absoluteFilePath(c.database));
        removeMadeDirectories(appDir);
    }
}

} // namespace
