// The special word store HR60000..HR60010 and its broadcast to the drives.
#include "teco_servo.h"

#include "../../host/abstractdeviceinterface.h"
#include "../common/tools.h"

namespace {

const unsigned int STATION_COUNT_ENTRY = 0;
const unsigned int READ_BACK_ENTRY = 9;
const unsigned int BROADCAST_ENTRY = 10;
// The station list is entries 1 to 8.
const unsigned short MAX_STATIONS = 8;
// Register of the drives that the broadcast word goes to (HR1300).
const unsigned short BROADCAST_REGISTER = 1299;
const int MAX_READ_WORDS = 125;

// Entry of a register number: HR60000 (register 59999) is entry 0.
unsigned int entryOf(unsigned short reg)
{
    return static_cast<unsigned short>(reg + 5537);
}

unsigned short wordAt(const QByteArray &data, int offset)
{
    return static_cast<unsigned short>(static_cast<unsigned char>(data.at(offset))
                                       | static_cast<unsigned char>(data.at(offset + 1)) << 8);
}

} // namespace

QByteArray DriverTecoServo::readSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg,
                                               int count)
{
    const unsigned int entry = entryOf(reg);
    if (entry > BROADCAST_ENTRY || count < 0 || count > MAX_READ_WORDS) {
        setCommError(QString::asprintf("can't read any word from HR%d", reg + 1));
        return QByteArray();
    }
    if (entry + count > BROADCAST_ENTRY && specialWords[STATION_COUNT_ENTRY] != 0) {
        const unsigned char station = specialWords[READ_BACK_ENTRY] & 0xFF;
        const QByteArray value =
            readWords(port, QByteArrayLiteral("HR"), BROADCAST_REGISTER, 1, station);
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
