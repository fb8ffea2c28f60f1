#ifndef SIMDRIVE_H
#define SIMDRIVE_H

#include <memory>
#include <vector>

#include <QByteArray>

#include "drivemodel.h"

// The four Modbus data areas of a drive.
enum class SimArea { Coils, DiscreteInputs, HoldingRegisters, InputRegisters };

// Number of addresses in each area (addresses 0 to size - 1 exist).
struct SimAreaSizes
{
    int coils = 65536;
    int discreteInputs = 65536;
    int holdingRegisters = 65536;
    int inputRegisters = 65536;
};

// One simulated drive: a Modbus RTU slave's data and its request handling.
// Holding registers and coils start at 0; input register a holds
// station x 1000 + a (modulo 65536) and discrete input a is on when a is a
// multiple of 3, so that reads of the read-only areas show something.
// A drive model other than static takes some addresses over (drivemodel.h)
// and is brought up to the monotonic clock whenever the drive is asked.
class SimDrive
{
public:
    SimDrive(int station, const SimAreaSizes &sizes);

    // The noise of a moving drive is drawn from the seed and the station.
    void setModel(DriveModel model, quint64 seed);

    int station() const { return m_station; }
    int size(SimArea area) const;
    // Bits read as 0 or 1; an address outside the area reads 0 and is not
    // written (setValue returns false). Both see the model's present state.
    quint16 value(SimArea area, int address) const;
    bool setValue(SimArea area, int address, quint16 value);

    // Executes a request PDU (function code and data, no station, no CRC)
    // and returns the answer PDU: the normal answer, or the function code
    // with bit 7 set and an exception code (1 illegal function, 2 illegal
    // data address, 3 illegal data value), checked in that order.
    // Functions 1, 2, 3, 4, 5, 6, 15 and 16; quantity limits as Modbus sets
    // them (2000 bits, 125 registers read; 1968 coils, 123 registers written).
    QByteArray execute(const QByteArray &pdu);

private:
    void advance() const;
    // At the state of the last advance, so that one request sees one moment.
    quint16 peek(SimArea area, int address) const;
    bool store(SimArea area, int address, quint16 value);

    int m_station;
    std::vector<quint16> m_areas[4]; // by SimArea; bits held as 0 or 1
    // Advanced by const reads too: its state follows the clock, not the caller.
    std::unique_ptr<ServoModel> m_model;
};

#endif // SIMDRIVE_H
