#include "tools.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "qt_compat.h"

// ---- Project database lookups ------------------------------------------------------

static const QString COMPILE_PATH = QStringLiteral("compile");
static const QString DATABASE_PATH = QStringLiteral("database");

QDir GetCompilePath()
{
    QDir dir(QCoreApplication::applicationDirPath());
    if (dir.exists(COMPILE_PATH))
        dir.cd(COMPILE_PATH);
    return dir;
}

QString GetDatabaseName()
{
    QDir dir = GetCompilePath();
    if (dir.exists(DATABASE_PATH))
        dir.cd(DATABASE_PATH);
    return dir.absoluteFilePath(DATABASE_PATH);
}

int DevStrToHmiPort(const QString &dev_str)
{
    if (dev_str.startsWith(QLatin1String("ETHERNET"), Qt::CaseInsensitive))
        return 2000;
    int i = dev_str.size() - 1;
    while (i >= 0 && dev_str.at(i).unicode() >= '0' && dev_str.at(i).unicode() <= '9')
        --i;
    if (i < 0 || i + 1 >= dev_str.size())
        return DEV_STR_INVALID_PORT;
    return dev_str.mid(i + 1).toInt() + 1001;
}

namespace {

// Runs a lookup on the runtime's named connection and hands each row to
// readRow until it returns false. A connection that cannot be opened or a
// failing query reads no row.
template <typename RowReader>
void forEachRow(const QString &connection, const QString &text, const QVariantList &values, RowReader readRow)
{
    if (!QSqlDatabase::contains(connection))
        return;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.isOpen() && !db.open())
        return;
    QSqlQuery query(db);
    if (!query.prepare(text))
        return;
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        return;
    while (query.next() && readRow(query)) {
    }
}

} // namespace

bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, int &linkId, unsigned char &stationId)
{
    bool found = false;
    forEachRow(connection,
               QStringLiteral("SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE "
                              "LINK.HMIPORT = %1 AND NODE.LINKID = LINK.LINKID AND "
                              "NODE.ISDEFAULT = 1;")
                   .arg(hmiPort),
               {}, [&](const QSqlQuery &row) {
                   linkId = row.value(0).toInt();
                   stationId = static_cast<unsigned char>(row.value(1).toUInt() & 0xFF);
                   found = true;
                   return false;
               });
    return found;
}

bool GetLinkIdAndDefaultStationId(const QString &connection, int linkId, QList<LinkIdStationId> &list)
{
    forEachRow(connection,
               QStringLiteral("SELECT NODE.STATIONID FROM NODE WHERE NODE.LINKID = %1 AND "
                              "NODE.ISDEFAULT = 1")
                   .arg(linkId),
               {}, [&](const QSqlQuery &row) {
                   list.append({linkId, qint32(row.value(0).toUInt())});
                   return true;
               });
    return !list.isEmpty();
}

bool GetLinkIdAndDefaultStationId(const QString &connection, int hmiPort, const QString &ip, unsigned short port,
                                  QList<LinkIdStationId> &list)
{
    // The address text is bound, never spliced into the statement.
    forEachRow(connection,
               QStringLiteral("SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE "
                              "LINK.HMIPORT = %1 AND NODE.LINKID = LINK.LINKID AND "
                              "NODE.IP = ? AND NODE.PORT = %2 AND NODE.ISDEFAULT = 1;")
                   .arg(hmiPort)
                   .arg(port),
               QVariantList() << ip, [&](const QSqlQuery &row) {
                   list.append({row.value(0).toInt(), qint32(row.value(1).toUInt())});
                   return true;
               });
    return !list.isEmpty();
}
