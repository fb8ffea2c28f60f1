#include "simline.h"

#include <QStringList>

#include "modbuscrc.h"

SimLine::SimLine(const QList<int> &stations, const SimAreaSizes &sizes)
{
    for (int station : stations) {
        if (station >= 1 && station <= 247)
            m_drives.emplace(station, SimDrive(station, sizes));
    }
}

bool SimLine::parseStations(const QString &text, QList<int> *stations, QString *error)
{
    QList<int> result;
    for (const QString &item : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int station = item.trimmed().toInt(&ok);
        if (!ok || station < 1 || station > 247 || result.contains(station)) {
            *error = QStringLiteral("invalid station list: %1 (station numbers from 1 to 247, "
                                    "each once, separated by commas)").arg(text);
            return false;
        }
        result.append(station);
    }
    *stations = result;
    return true;
}

void SimLine::setFaults(const FaultPlan &plan, quint64 seed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = FaultInjector(plan, seed);
}

QList<int> SimLine::stations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<int> result;
    for (const auto &entry : m_drives)
        result.append(entry.first);
    return result;
}

SimAnswer SimLine::process(const QByteArray &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SimAnswer answer;
    if (!hasValidModbusCrc(frame)) {
        ++m_stats.badFrames;
        return answer;
    }
    ++m_stats.frames;
    const int station = quint8(frame[0]);
    const QByteArray pdu = frame.mid(1, frame.size() - 3);
    if (station == 0) {
        ++m_stats.broadcasts;
        const quint8 function = quint8(pdu[0]);
        if (function == 5 || function == 6 || function == 15 || function == 16) {
            for (auto &entry : m_drives)
                entry.second.execute(pdu);
        }
        return answer;
    }
    const auto drive = m_drives.find(station);
    if (drive == m_drives.end()) {
        ++m_stats.otherStations;
        return answer;
    }
    QByteArray reply = drive->second.execute(pdu);
    if (quint8(reply[0]) & 0x80)
        ++m_stats.exceptions;

    answer.fault = m_faults.draw();
    ++m_stats.faults[answer.fault];
    int replyStation = station;
    switch (answer.fault) {
    case FaultPlan::Drop:
        return answer;
    case FaultPlan::WrongStation:
        replyStation = station % 247 + 1;
        break;
    case FaultPlan::Exception:
        reply = QByteArray();
        reply.append(char(quint8(pdu[0]) | 0x80));
        reply.append(char(m_faults.plan().exceptionCode));
        break;
    default:
        break;
    }
    answer.delayMs = m_faults.plan().waitMs(answer.fault);
    answer.frame.append(char(replyStation));
    answer.frame.append(reply);
    appendModbusCrc(answer.frame);
    if (answer.fault == FaultPlan::Corrupt) {
        const int at = int(m_faults.below(quint32(answer.frame.size())));
        answer.frame[at] = char(quint8(answer.frame[at]) ^ (1u << m_faults.below(8)));
    } else if (answer.fault == FaultPlan::Truncate) {
        answer.frame.truncate(1 + int(m_faults.below(quint32(answer.frame.size() - 1))));
    }
    ++m_stats.answered;
    return answer;
}

quint16 SimLine::value(int station, SimArea area, int address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto drive = m_drives.find(station);
    return drive == m_drives.end() ? 0 : drive->second.value(area, address);
}

bool SimLine::setValue(int station, SimArea area, int address, quint16 value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto drive = m_drives.find(station);
    return drive != m_drives.end() && drive->second.setValue(area, address, value);
}

SimStats SimLine::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}
