#include "simline.h"

// The host side's CRC, never the driver's: the simulator must not share the code it checks.
#include "modbuscrc.h"

SimLine::SimLine(const QList<int> &stations, const SimAreaSizes &sizes)
{
    for (int station : stations) {
        if (station >= 1 && station <= 247)
            m_drives.emplace(station, SimDrive(station, sizes));
    }
}

void SimLine::setFaults(const FaultPlan &plan, quint64 seed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = FaultInjector(plan, seed);
}

void SimLine::setModel(DriveModel model, quint64 seed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &entry : m_drives)
        entry.second.setModel(model, seed);
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
    answer.fault = m_faults.draw();
    ++m_stats.faults[answer.fault];
    if (answer.fault == FaultPlan::Unheard)
        return answer; // nothing executed
    QByteArray reply;
    if (answer.fault == FaultPlan::Exception) {
        // A drive that answers an exception refused the request: it carried
        // none of it out, so a write it refused left its values as they were.
        reply.append(char(quint8(pdu[0]) | 0x80));
        reply.append(char(m_faults.plan().exceptionCode));
    } else {
        reply = drive->second.execute(pdu);
        if (quint8(reply[0]) & 0x80)
            ++m_stats.exceptions;
    }

    int replyStation = station;
    switch (answer.fault) {
    case FaultPlan::Drop:
        return answer; // executed all the same
    case FaultPlan::WrongStation:
        replyStation = station % 247 + 1;
        break;
    default:
        break;
    }
    answer.delayMs = m_faults.plan().waitMs(answer.fault);
    answer.frame.append(char(replyStation));
    answer.frame.append(reply);
    appendModbusCrc(answer.frame);
    damage(&answer);
    ++m_stats.answered;
    return answer;
}

void SimLine::damage(SimAnswer *answer)
{
    QByteArray &frame = answer->frame;
    switch (answer->fault) {
    case FaultPlan::Corrupt: {
        const int at = int(m_faults.below(quint32(frame.size())));
        frame[at] = char(quint8(frame[at]) ^ (1u << m_faults.below(8)));
        break;
    }
    case FaultPlan::Truncate:
        frame.truncate(1 + int(m_faults.below(quint32(frame.size() - 1))));
        break;
    case FaultPlan::Twin:
        frame = collide(frame, twinAnswer(frame), 1 + int(m_faults.below(7)));
        break;
    case FaultPlan::Noise: {
        QByteArray burst(1 + int(m_faults.below(16)), '\0');
        for (char &c : burst)
            c = char(m_faults.below(256));
        if (m_faults.below(2) == 0)
            answer->noiseBefore = burst;
        else
            frame.insert(1 + int(m_faults.below(quint32(frame.size() - 1))), burst);
        break;
    }
    default:
        break;
    }
}

// What a drive with the same station number answers: the same echo for a
// write, other data for a read (its registers hold other values).
QByteArray SimLine::twinAnswer(const QByteArray &frame)
{
    QByteArray twin = frame;
    const quint8 function = quint8(frame[1]);
    if (function >= 1 && function <= 4) {
        for (int i = 3; i < twin.size() - 2; ++i)
            twin[i] = char(quint8(twin[i]) ^ quint8(1 + m_faults.below(255)));
        twin.chop(2);
        appendModbusCrc(twin);
    }
    return twin;
}

// Two transmitters on the pair at once, the twin a few bit times behind:
// where either drives a 0 the master reads a 0 (bits go least significant
// first, so a later start shifts the twin's bits up). A collision that
// happened to pass the CRC check would be wrong data taken as good; a real
// line gives that once in 65,536 collisions, the rehearsal line never.
QByteArray SimLine::collide(const QByteArray &ours, const QByteArray &twins, int shiftBits)
{
    QByteArray heard(ours.size() + 1, '\xff');
    for (int i = 0; i < heard.size(); ++i) {
        const quint8 mine = i < ours.size() ? quint8(ours[i]) : 0xFF;
        const quint8 now = i < twins.size() ? quint8(twins[i]) : 0xFF;
        const quint8 before = i > 0 && i - 1 < twins.size() ? quint8(twins[i - 1]) : 0xFF;
        heard[i] = char(mine & quint8((now << shiftBits) | (before >> (8 - shiftBits))));
    }
    if (hasValidModbusCrc(heard))
        heard[heard.size() - 1] = char(quint8(heard[heard.size() - 1]) ^ 1);
    return heard;
}

void SimLine::countOtherBaud()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_stats.otherBaud;
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
