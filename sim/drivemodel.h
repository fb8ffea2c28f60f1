#ifndef DRIVEMODEL_H
#define DRIVEMODEL_H

#include <random>

#include <QString>

enum class SimArea;

// What a simulated drive does between requests. Static: nothing, its values
// change only when written. Servo: a motor that follows a speed set-point.
enum class DriveModel { Static, Servo };

// "static" or "servo"; false with a text naming the word for anything else.
bool parseDriveModel(const QString &text, DriveModel *model, QString *error);
const char *driveModelName(DriveModel model);

// A servo drive and its motor, so that trend plots of a simulated line move.
// Its addresses (0-based, as on the wire; servoctl numbers them from 1):
//
//   HR 0  speed set-point, rpm, signed; beyond +-3000 (the rated speed) it
//         trips the drive
//   HR 1  time constant of the speed ramp, ms (starts at 200; 0: no ramp)
//   IR 0  actual speed, rpm, signed, with +-2 rpm of noise while running
//   IR 1  position, 10000 counts a revolution, signed 32-bit, low word
//   IR 2  its high word (the driver's dword order without SW)
//   IR 3  status: bit 0 ready (no fault), 1 running (servo on, no fault),
//         2 fault, 3 at speed (running, within 30 rpm of the set-point)
//   coil 0  servo on
//   coil 1  fault reset: a 1 clears the fault, and the coil reads 0 again
//
// A fault latches until reset, stopping the motor as servo off does (along
// the ramp); a set-point still beyond the rated speed trips it again at once.
//
// Time is passed in, so that the arithmetic can be checked without a clock.
class ServoModel
{
public:
    static constexpr int kRatedRpm = 3000;
    static constexpr int kDefaultTimeConstantMs = 200;
    static constexpr int kCountsPerRevolution = 10000;
    static constexpr int kNoiseRpm = 2;
    static constexpr int kAtSpeedRpm = 30;

    enum Status : quint16 { Ready = 1, Running = 2, Fault = 4, AtSpeed = 8 };

    ServoModel(quint64 seed, qint64 nowNs);

    // Brings speed and position up to nowNs (earlier times are ignored).
    void advance(qint64 nowNs);

    // True when the address is the model's own.
    bool read(SimArea area, int address, quint16 *value) const;
    bool write(SimArea area, int address, quint16 value);

    // Unrounded and noise-free.
    double speedRpm() const { return m_speedRpm; }
    double positionCounts() const { return m_positionCounts; }

private:
    bool running() const { return m_servoOn && !m_fault; }
    double targetRpm() const { return running() ? qint16(m_setPoint) : 0.0; }
    quint16 status() const;
    quint32 position() const;

    qint64 m_timeNs;
    quint16 m_setPoint = 0;
    quint16 m_timeConstantMs = kDefaultTimeConstantMs;
    bool m_servoOn = false;
    bool m_fault = false;
    double m_speedRpm = 0;
    double m_positionCounts = 0; // kept within the 32-bit range
    int m_noiseRpm = 0;
    std::mt19937_64 m_random;
};

#endif // DRIVEMODEL_H
