#ifndef TECO_SERVO_LIMITS_H
#define TECO_SERVO_LIMITS_H

// What one request of the driver may carry, and the numbers it can address:
// the driver's own limits (bits and coils a little past the Modbus
// standard's 2000 and 1968, on purpose), used by the driver and by servoctl,
// which checks a command against them before anything is sent.
namespace TecoServoLimit {

constexpr int ReadRegisters = 125;  // functions 3 and 4
constexpr int ReadBits = 2008;      // functions 1 and 2
constexpr int WriteRegisters = 123; // function 16 (and 6, checked alike)
constexpr int WriteCoils = 1976;    // function 15 (and 5, checked alike)
// Register, coil and input numbers on the wire: 0 to 65535.
constexpr int AddressSpace = 65536;

} // namespace TecoServoLimit

#endif // TECO_SERVO_LIMITS_H
