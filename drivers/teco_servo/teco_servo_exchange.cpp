// The request/answer exchange that every transaction goes through.
#include "teco_servo.h"

#include <cstring>

#include <QVariant>

#include "abstractdeviceinterface.h"
#include "tools.h"
#include "modbus_rtu_frame.h"
#include "qt_compat.h"
#include "teco_servo_texts.h"

namespace {

// An exception answer, and the first stage of every answer.
const int MIN_ADU = 5;
// The longest answer is 256 bytes (2008 bits); one spare byte.
const int RECEIVE_BUFFER_SIZE = 257;

} // namespace

bool DriverTecoServo::queryStation(AbstractDeviceInterface *port, int &station)
{
    const int id = port->stationId();
    if (static_cast<unsigned int>(id) > 255) {
        setCommError(QtCompat::asprintf(TecoServoText::OtherStation, id));
        return false;
    }
    station = id;
    return true;
}

bool DriverTecoServo::exchange(AbstractDeviceInterface *port, int station, const RequestBuilder &build,
                               int answerLength, const AnswerData &take)
{
    if (station == StationFromPort && !queryStation(port, station))
        return false;
    // Callers bound their counts so that this never triggers; it keeps the
    // buffer safe should one of them ever get it wrong.
    if (answerLength < MIN_ADU || answerLength > RECEIVE_BUFFER_SIZE) {
        setCommError(QLatin1String(TecoServoText::PacketLoss));
        return false;
    }

    const QByteArray request = build(static_cast<unsigned char>(station));
    port->setOption(AbstractDeviceInterface::DiscardInputOption, QVariant(int(0)));
    port->send(request.constData(), request.size());

    char buffer[RECEIVE_BUFFER_SIZE];
    std::memset(buffer, 0, sizeof buffer);
    const int received = port->receive(buffer, MIN_ADU);
    if (!checkMinADU(static_cast<unsigned char>(station), buffer, received))
        return false;
    if (!checkException(buffer, static_cast<unsigned char>(request.at(1))))
        return false;

    const int rest = answerLength - MIN_ADU;
    if (port->receive(buffer + MIN_ADU, rest) != rest) {
        setCommError(QLatin1String(TecoServoText::PacketLoss));
        return false;
    }
    unsigned char *answer = reinterpret_cast<unsigned char *>(buffer);
    if (!ModbusRTUSlaveCheckCRC(answer, static_cast<unsigned int>(answerLength))) {
        setCommError(QLatin1String(TecoServoText::CrcError));
        return false;
    }
    if (take)
        take(answer + 3);
    return true;
}

bool DriverTecoServo::checkMinADU(unsigned char station, const char *buffer, int received)
{
    if (received <= 0) {
        setCommError(QLatin1String(TecoServoText::NoResponse));
        return false;
    }
    if (received != MIN_ADU) {
        setCommError(QtCompat::asprintf(TecoServoText::ShortAnswer, MIN_ADU));
        return false;
    }
    const unsigned char first = static_cast<unsigned char>(buffer[0]);
    if (first != station) {
        setCommError(QtCompat::asprintf(TecoServoText::OtherStation, int(first)));
        return false;
    }
    return true;
}

bool DriverTecoServo::checkException(const char *buffer, unsigned char function)
{
    const unsigned char answered = static_cast<unsigned char>(buffer[1]);
    if (answered == function)
        return true;
    if (answered == (function | 0x80)) {
        unsigned char exception[MIN_ADU];
        std::memcpy(exception, buffer, MIN_ADU);
        if (ModbusRTUSlaveCheckCRC(exception, MIN_ADU))
            setCommError(QtCompat::asprintf(TecoServoText::Exception, unsigned(static_cast<unsigned char>(buffer[2]))));
        else
            setCommError(QLatin1String(TecoServoText::CrcError));
        return false;
    }
    setCommError(QLatin1String(TecoServoText::InvalidResponse));
    return false;
}

void DriverTecoServo::waitFrameDelay(AbstractDeviceInterface *port)
{
    const int ms = port->frameDelay();
    HRSleep(ms > 0 ? static_cast<unsigned long>(ms) : 0ul);
}

bool DriverTecoServo::repeatAttempts(AbstractDeviceInterface *port, FunctionRef<void()> attempt)
{
    for (int tries = 0;; ++tries) {
        waitFrameDelay(port);
        clearError();
        attempt();
        if (!errorFlag)
            return true;
        if (tries >= port->retryCount())
            return false;
    }
}
