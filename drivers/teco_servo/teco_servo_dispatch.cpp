#include "teco_servo.h"

// Placeholder dispatch until the transactions land: every command is refused.

QByteArray DriverTecoServo::read(AbstractDeviceInterface *, const CommunicatorCommand &cmd)
{
    setCommError(QStringLiteral("unsupported data type: ") + cmd.address);
    return QByteArray();
}

bool DriverTecoServo::write(AbstractDeviceInterface *, const CommunicatorCommand &cmd,
                            const QByteArray &)
{
    setCommError(QStringLiteral("unsupported data type: ") + cmd.address);
    return false;
}
