#include "widecsv.h"

#include <unistd.h>

#include "csvlog.h"
#include "dataout.h"
#include "newfile.h"
#include "plan.h"
#include "systemerror.h"
#include "writeall.h"

namespace {

QString stationColumn(bool several, int station, const QString &label)
{
    return several ? QStringLiteral("station %1 %2").arg(station).arg(label) : label;
}

std::vector<Step> readItems(const Step &step)
{
    return step.action == Step::Poll ? step.items : std::vector<Step>{step};
}

QList<int> stationsOf(const Step &step)
{
    return step.action == Step::Poll ? step.stations : QList<int>{step.station};
}

} // namespace

QStringList wideColumns(const Step &step)
{
    const QList<int> stations = stationsOf(step);
    QStringList columns;
    for (const int station : stations) {
        for (const Step &item : readItems(step)) {
            for (int i = 0; i < item.count; ++i)
                columns.append(stationColumn(stations.size() > 1, station, item.address.itemLabel(*item.type, i)));
        }
    }
    return columns;
}

WideCsv::~WideCsv()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool WideCsv::open(const QString &path, const Step &step, QString *error)
{
    m_path = path;
    bool stream = false;
    m_fd = openLogFile(path, &stream, error);
    if (m_fd < 0)
        return false;
    m_severalStations = stationsOf(step).size() > 1;
    m_columns = wideColumns(step);
    QByteArray header = "time";
    for (const QString &name : qAsConst(m_columns))
        header += ',' + csvField(name);
    if (const int failed = writeAll(m_fd, header + '\n')) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, systemReason(failed));
        return false;
    }
    return true;
}

QString WideCsv::column(int station, const QString &label) const
{
    return stationColumn(m_severalStations, station, label);
}

void WideCsv::set(int station, const QString &label, const QString &value, qint64 epochMs)
{
    if (m_rowMs < 0)
        m_rowMs = epochMs;
    m_cells.insert(column(station, label), value);
}

bool WideCsv::endRow()
{
    if (!m_error.isEmpty())
        return false;
    if (m_rowMs < 0)
        return true; // nothing read this cycle
    QByteArray row = csvField(logTimeText(m_rowMs));
    for (const QString &name : qAsConst(m_columns))
        row += ',' + csvField(m_cells.value(name));
    m_cells.clear();
    m_rowMs = -1;
    if (const int failed = writeAll(m_fd, row + '\n')) {
        m_error = QStringLiteral("cannot write %1: %2").arg(m_path, systemReason(failed));
        return false;
    }
    return true;
}
