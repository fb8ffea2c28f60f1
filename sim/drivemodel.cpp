#include "drivemodel.h"

#include <cmath>

#include "simdrive.h"

namespace {

const struct
{
    DriveModel model;
    const char *name;
} kModels[] = {
    {DriveModel::Static, "static"},
    {DriveModel::Servo, "servo"},
};

enum : int { SetPointRegister = 0, TimeConstantRegister = 1 };
enum : int { SpeedRegister = 0, PositionLowRegister = 1, PositionHighRegister = 2, StatusRegister = 3 };
enum : int { ServoOnCoil = 0, ResetCoil = 1 };

const double kTwoTo31 = 2147483648.0;
const double kTwoTo32 = 4294967296.0;

} // namespace

bool parseDriveModel(const QString &text, DriveModel *model, QString *error)
{
    for (const auto &known : kModels) {
        if (text == QLatin1String(known.name)) {
            *model = known.model;
            return true;
        }
    }
    *error = QStringLiteral("unknown model: %1 (static or servo)").arg(text);
    return false;
}

const char *driveModelName(DriveModel model)
{
    for (const auto &known : kModels) {
        if (known.model == model)
            return known.name;
    }
    return "?";
}

ServoModel::ServoModel(quint64 seed, qint64 nowNs) : m_timeNs(nowNs), m_random(seed)
{
}

void ServoModel::advance(qint64 nowNs)
{
    if (nowNs <= m_timeNs)
        return;
    const double seconds = double(nowNs - m_timeNs) * 1e-9;
    m_timeNs = nowNs;
    // The first-order lag solved exactly, speed and its integral, so the
    // result does not depend on how often the drive is asked.
    const double target = targetRpm();
    const double gap = m_speedRpm - target;
    const double tau = m_timeConstantMs / 1000.0;
    const double decay = tau > 0 ? std::exp(-seconds / tau) : 0.0;
    const double revolutions = (target * seconds + gap * tau * (1 - decay)) / 60.0;
    m_speedRpm = target + gap * decay;
    // Wrapped as the 32-bit counter wraps, so that the fraction of a count
    // keeps its precision on long runs.
    m_positionCounts += revolutions * kCountsPerRevolution;
    m_positionCounts -= std::floor((m_positionCounts + kTwoTo31) / kTwoTo32) * kTwoTo32;
    // Drawn on every step, shown only while running: the same seed and
    // requests give the same noise.
    const int spread = 2 * kNoiseRpm + 1;
    const int noise = int(m_random() % quint64(spread)) - kNoiseRpm;
    m_noiseRpm = running() ? noise : 0;
}

quint16 ServoModel::status() const
{
    quint16 bits = m_fault ? Fault : Ready;
    if (running()) {
        bits |= Running;
        if (std::fabs(m_speedRpm - targetRpm()) <= kAtSpeedRpm)
            bits |= AtSpeed;
    }
    return bits;
}

quint32 ServoModel::position() const
{
    return quint32(qint64(std::floor(m_positionCounts)));
}

bool ServoModel::read(SimArea area, int address, quint16 *value) const
{
    switch (area) {
    case SimArea::HoldingRegisters:
        if (address == SetPointRegister)
            *value = m_setPoint;
        else if (address == TimeConstantRegister)
            *value = m_timeConstantMs;
        else
            return false;
        return true;
    case SimArea::InputRegisters:
        if (address == SpeedRegister) {
            const long shown = std::lround(m_speedRpm) + m_noiseRpm;
            *value = quint16(qint16(qBound(-32768L, shown, 32767L)));
        } else if (address == PositionLowRegister) {
            *value = quint16(position() & 0xFFFF);
        } else if (address == PositionHighRegister) {
            *value = quint16(position() >> 16);
        } else if (address == StatusRegister) {
            *value = status();
        } else {
            return false;
        }
        return true;
    case SimArea::Coils:
        if (address == ServoOnCoil)
            *value = m_servoOn;
        else if (address == ResetCoil)
            *value = 0;
        else
            return false;
        return true;
    default:
        return false;
    }
}

bool ServoModel::write(SimArea area, int address, quint16 value)
{
    if (area == SimArea::HoldingRegisters && address == SetPointRegister)
        m_setPoint = value;
    else if (area == SimArea::HoldingRegisters && address == TimeConstantRegister)
        m_timeConstantMs = value;
    else if (area == SimArea::Coils && address == ServoOnCoil)
        m_servoOn = value != 0;
    else if (area == SimArea::Coils && address == ResetCoil)
        m_fault = m_fault && !value;
    else
        return false;
    if (std::abs(int(qint16(m_setPoint))) > kRatedRpm)
        m_fault = true;
    return true;
}
