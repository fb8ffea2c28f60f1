// The special word store HR60000..HR60010 and its broadcast to the drives.
#include "teco_servo.h"

#include <algorithm>

#include "abstractdeviceinterface.h"
#include "qt_compat.h"
#include "tools.h"
#include "teco_servo_limits.h"
#include "teco_servo_texts.h"

namespace {

const unsigned int STATION_COUNT_ENTRY = 0;
const unsigned int READ_BACK_ENTRY = 9;
const unsigned int BROADCAST_ENTRY = 10;
// The station list is entries 1 to 8.
const unsigned short MAX_STATIONS = 8;
// Register of the drives that the broadcast word goes to (HR1300).
const unsigned short BROADCAST_REGISTER = 1299;
const int MAX_READ_WORDS = TecoServoLimit::ReadRegisters;

// Entry of a register number: HR60000 is entry 0. A register below the
// store wraps round to a large entry, which is refused.
unsigned int entryOf(unsigned short reg)
{
    return static_cast<unsigned short>(reg - SPECIAL_FIRST_REGISTER);
}

unsigned short wordAt(const QByteArray &data, int offset)
{
    return static_cast<unsigned short>(static_cast<unsigned char>(data.at(offset))
                                       | static_cast<unsigned char>(data.at(offset + 1)) << 8);
}

} // namespace

QByteArray DriverTecoServo::readSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg, int count)
{
    const unsigned int entry = entryOf(reg);
    if (entry > BROADCAST_ENTRY || count < 0 || count > MAX_READ_WORDS) {
        setCommError(QtCompat::asprintf(TecoServoText::ReadWordRange, "HR", reg + 1));
        return QByteArray();
    }
    if (entry + count > BROADCAST_ENTRY && specialWords[STATION_COUNT_ENTRY] != 0) {
        const unsigned char station = specialWords[READ_BACK_ENTRY] & 0xFF;
        const QByteArray value = readWords(port, QByteArrayLiteral("HR"), BROADCAST_REGISTER, 1, station);
        if (value.size() == 2)
            specialWords[BROADCAST_ENTRY] = wordAt(value, 0);
    }
    QByteArray result;
    result.reserve(2 * count);
    for (unsigned int e = entry; e < entry + count; ++e) {
        const unsigned short word = e <= BROADCAST_ENTRY ? specialWords[e] : 0;
        result.append(static_cast<char>(word & 0xFF));
        result.append(static_cast<char>(word >> 8));
    }
    return result;
}

bool DriverTecoServo::broadcastToStations(AbstractDeviceInterface *port, int &progress, FunctionRef<bool(unsigned char)> send)
{
    const int stations = std::min<int>(specialWords[STATION_COUNT_ENTRY], MAX_STATIONS);
    if (progress < 0)
        progress = 0;
    while (progress < stations) {
        if (!send(specialWords[progress + 1] & 0xFF))
            return false;
        if (++progress < stations)
            waitFrameDelay(port);
    }
    return true;
}

bool DriverTecoServo::writeSpecialWords(AbstractDeviceInterface *port, unsigned short reg, const QByteArray &data,
                                        int &progress, WriteMode mode)
{
    const unsigned int entry = entryOf(reg);
    if (entry > BROADCAST_ENTRY) {
        setCommError(QtCompat::asprintf(TecoServoText::WriteWordRange, reg + 1));
        return false;
    }
    const unsigned int words = static_cast<unsigned int>(data.size()) / 2;
    if (entry + words <= BROADCAST_ENTRY) {
        for (unsigned int i = 0; i < words; ++i)
            specialWords[entry + i] = wordAt(data, static_cast<int>(2 * i));
        if (specialWords[READ_BACK_ENTRY] > MAX_STATIONS)
            specialWords[READ_BACK_ENTRY] = MAX_STATIONS;
        return true;
    }
    const bool sent = broadcastToStations(port, progress, [&](unsigned char station) {
        return mode == WriteMode::Block ? writeWords(port, BROADCAST_REGISTER, data, station)
                                        : writeWordsWithFN6(port, BROADCAST_REGISTER, data, station);
    });
    if (!sent)
        return false;
    // Register 1299 of the drives got the first word: that is the broadcast word.
    specialWords[BROADCAST_ENTRY] = wordAt(data, 0);
    return true;
}

bool DriverTecoServo::writeSpecialBit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                                      const QByteArray &data, int &progress, WriteMode mode)
{
    const unsigned int entry = entryOf(reg);
    if (entry > BROADCAST_ENTRY) {
        setCommError(QtCompat::asprintf(TecoServoText::WriteBitInStore, reg + 1));
        return false;
    }
    unsigned short &count = specialWords[STATION_COUNT_ENTRY];
    if (entry == BROADCAST_ENTRY) {
        const bool sent = broadcastToStations(port, progress, [&](unsigned char station) {
            return mode == WriteMode::Block ? writeHRbit(port, BROADCAST_REGISTER, bit, data, station)
                                            : writeHRbitWithFN6(port, BROADCAST_REGISTER, bit, data, station);
        });
        if (!sent) {
            count = std::min(count, MAX_STATIONS);
            return false;
        }
    }
    if (!data.isEmpty() && bit < 16) {
        const unsigned short mask = static_cast<unsigned short>(1u << bit);
        unsigned short &word = specialWords[entry];
        word = static_cast<unsigned short>(data.at(0) ? (word | mask) : (word & ~mask));
    }
    count = entry == STATION_COUNT_ENTRY ? MAX_STATIONS : std::min(count, MAX_STATIONS);
    return true;
}

bool DriverTecoServo::writeSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg, const QByteArray &data, int &progress)
{
    return writeSpecialWords(port, reg, data, progress, WriteMode::Block);
}

bool DriverTecoServo::writeSpecialFN6HRWords(AbstractDeviceInterface *port, unsigned short reg,
                                             const QByteArray &data, int &progress)
{
    return writeSpecialWords(port, reg, data, progress, WriteMode::Single);
}

bool DriverTecoServo::writeSpecialHRbit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                                        const QByteArray &data, int &progress)
{
    return writeSpecialBit(port, reg, bit, data, progress, WriteMode::Block);
}

bool DriverTecoServo::writeSpecialFN6HRbit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                                           const QByteArray &data, int &progress)
{
    return writeSpecialBit(port, reg, bit, data, progress, WriteMode::Single);
}
