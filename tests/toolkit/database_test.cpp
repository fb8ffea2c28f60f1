#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "qt_test_compat.h"
#include "tools.h"

namespace {

const char CONNECTION[] = "project";
using Rows = std::vector<std::pair<int, int>>;

Rows rows(const QList<LinkIdStationId> &list)
{
    Rows out;
    for (const LinkIdStationId &r : list)
        out.push_back({r.linkId, r.defaultStationId});
    return out;
}

// A project database file with two serial links and one Ethernet link,
// closed again so that the lookups have to open it themselves.
class ProjectDatabase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CONNECTION);
        db.setDatabaseName(dir.filePath(QStringLiteral("database")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        // One row a statement: Qt 4.7's SQLite takes no lists of rows.
        for (const char *statement :
             {"CREATE TABLE LINK (LINKID INTEGER, HMIPORT INTEGER)",
              "CREATE TABLE NODE (LINKID INTEGER, STATIONID INTEGER, ISDEFAULT INTEGER, IP TEXT, PORT INTEGER)",
              "INSERT INTO LINK VALUES (7, 1003)", "INSERT INTO LINK VALUES (8, 1011)",
              "INSERT INTO LINK VALUES (9, 2000)", "INSERT INTO NODE VALUES (7, 300, 1, '', 0)",
              "INSERT INTO NODE VALUES (7, 5, 0, '', 0)", "INSERT INTO NODE VALUES (8, 3, 1, '', 0)",
              "INSERT INTO NODE VALUES (8, 4, 1, '', 0)", "INSERT INTO NODE VALUES (9, 11, 1, '192.168.1.10', 502)",
              "INSERT INTO NODE VALUES (9, 12, 1, '192.168.1.11', 502)",
              "INSERT INTO NODE VALUES (9, 13, 1, '192.168.1.10', 503)",
              "INSERT INTO NODE VALUES (9, 14, 0, '192.168.1.10', 502)",
              "INSERT INTO NODE VALUES (9, 15, 1, 'it''s', 502)"})
            ASSERT_TRUE(q.exec(QString::fromLatin1(statement))) << statement;
        q.clear();
        db.close();
    }
    void TearDown() override { QSqlDatabase::removeDatabase(CONNECTION); }

    TestFolder dir;
};

TEST_F(ProjectDatabase, LinkAndStationsOfAPortOrLink)
{
    int linkId = -5;
    unsigned char stationId = 99;
    EXPECT_FALSE(GetLinkIdAndDefaultStationId(CONNECTION, 1004, linkId, stationId));
    EXPECT_FALSE(GetLinkIdAndDefaultStationId("no such connection", 1003, linkId, stationId));
    EXPECT_EQ(linkId, -5);
    EXPECT_EQ(stationId, 99);
    EXPECT_TRUE(GetLinkIdAndDefaultStationId(CONNECTION, 1003, linkId, stationId));
    EXPECT_EQ(linkId, 7);
    EXPECT_EQ(stationId, 44); // 300 cut to its low 8 bits

    QList<LinkIdStationId> list;
    EXPECT_TRUE(GetLinkIdAndDefaultStationId(CONNECTION, 8, list));
    EXPECT_EQ(rows(list), (Rows{{8, 3}, {8, 4}}));
    EXPECT_TRUE(GetLinkIdAndDefaultStationId(CONNECTION, 99, list)); // keeps what it held
    list.clear();
    EXPECT_FALSE(GetLinkIdAndDefaultStationId(CONNECTION, 99, list));
}

TEST_F(ProjectDatabase, StationsByAddressTakeTheAddressAsPlainText)
{
    const struct
    {
        const char *ip;
        unsigned short port;
        Rows found;
    } cases[] = {
        {"192.168.1.10", 502, {{9, 11}}},
        {"192.168.1.10", 503, {{9, 13}}},
        {"192.168.1.12", 502, {}},
        {"it's", 502, {{9, 15}}},
        {"' OR '1'='1", 502, {}},
        {"x' OR 1=1 --", 502, {}},
        {"192.168.1.10' OR NODE.IP <> '", 502, {}},
        {"'; DROP TABLE NODE; --", 502, {}},
    };
    for (const auto &c : cases) {
        QList<LinkIdStationId> list;
        EXPECT_EQ(GetLinkIdAndDefaultStationId(CONNECTION, 2000, c.ip, c.port, list), !c.found.empty()) << c.ip;
        EXPECT_EQ(rows(list), c.found) << c.ip;
    }
}

TEST_F(ProjectDatabase, UnopenableDatabaseFindsNothing)
{
    QSqlDatabase::database(CONNECTION, false).setDatabaseName(dir.filePath("missing/dir/db"));
    QList<LinkIdStationId> list;
    EXPECT_FALSE(GetLinkIdAndDefaultStationId(CONNECTION, 8, list));
}

TEST(DevStrToHmiPort, SerialNumberOrEthernet)
{
    const struct
    {
        const char *name;
        int port;
    } cases[] = {
        {"COM2", 1003},
        {"COM10", 1011},
        {"ETHERNET", 2000},
        {"ethernet1", 2000},
        {"Ethernet", 2000},
        {"/dev/ttyS0", 1001},
        {"COM99999999999", 1001},
        {"", DEV_STR_INVALID_PORT},
        {"COM", DEV_STR_INVALID_PORT},
        {"12", DEV_STR_INVALID_PORT},
        {"COM2 ", DEV_STR_INVALID_PORT},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DevStrToHmiPort(QString::fromLatin1(c.name)), c.port) << c.name;
    EXPECT_EQ(DevStrToHmiPort(QStringLiteral("COM\uFF12")), DEV_STR_INVALID_PORT); // wide digit
}

} // namespace
