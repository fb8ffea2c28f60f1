#include "teco_servo.h"

#include <QVariant>

#include "abstractdeviceinterface.h"
#include "drv_dev_setting.h"
#include "qt_compat.h"
#include "teco_servo_limits.h"

namespace {

// The project's version, which CMake passes in.
const QString VERSION_STRING = QStringLiteral(TECO_SERVO_VERSION);

const int SPECIAL_WORD_COUNT = SPECIAL_LAST_REGISTER - SPECIAL_FIRST_REGISTER + 1;

} // namespace

DriverTecoServo::DriverTecoServo()
    : QObject(nullptr), errorFlag(false), debugMode(false), specialWords(SPECIAL_WORD_COUNT, 0)
{
}

DriverTecoServo::~DriverTecoServo()
{
}

int DriverTecoServo::totalSize()
{
    return 0x44000;
}

bool DriverTecoServo::initialize(AbstractDeviceInterface *port)
{
    if (port)
        port->setOption(AbstractDeviceInterface::DiscardInputOption, QVariant(int(0)));
    return true;
}

bool DriverTecoServo::validation(const QString &)
{
    return false;
}

QString DriverTecoServo::name()
{
    return QStringLiteral("Teco Servo");
}

QString DriverTecoServo::vender()
{
    return QStringLiteral("Modbus");
}

QString DriverTecoServo::getVersionNumber()
{
    return VERSION_STRING;
}

DeviceSetting *DriverTecoServo::getDefaultSerialDeviceSetting()
{
    return new DeviceSetting(DEVICE_TYPE_SERIAL, QStringLiteral("COM2"), 9600, 8, 0, 2);
}

DriverSetting *DriverTecoServo::getDefaultDriverSetting()
{
    return new DriverSetting(500, 3, 1, 0);
}

QString DriverTecoServo::getStringBasedDefaultDriverSetting()
{
    return QStringLiteral("RS485,9600,NONE,8,2");
}

int DriverTecoServo::supportedCommunicationFlags()
{
    return 0x70;
}

void DriverTecoServo::setDebugMode(bool on)
{
    debugMode = on;
}

int DriverTecoServo::getBlockAccessSize()
{
    return TecoServoLimit::ReadRegisters;
}

int DriverTecoServo::getBitBlockAccessSize()
{
    return TecoServoLimit::ReadBits;
}

bool DriverTecoServo::hasError()
{
    return errorFlag;
}

QString DriverTecoServo::getLastError()
{
    return lastError;
}

QObject *DriverTecoServo::getThisObject()
{
    return this;
}

void DriverTecoServo::clearError()
{
    errorFlag = false;
}

void DriverTecoServo::setCommError(const QString &text)
{
    errorFlag = true;
    lastError = text;
}

// ---- Plug-in entry points --------------------------------------------------
// The runtime may also create drivers through CreateDriver.

#if QT_VERSION < 0x050000
// Qt 4's export: qt_plugin_instance, and the verification data of the Qt
// built against (its version and build key), which the runtime's loader
// compares with its own.
Q_EXPORT_PLUGIN2(teco_servo, DriverTecoServo)
#else
// qt_plugin_instance and qt_plugin_query_metadata come from the plug-in
// metadata of the class; the verification text is the panel runtime's.
extern "C" Q_DECL_EXPORT const char *qt_plugin_query_verification_data()
{
    static const char verificationData[] = "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
                                           "version=4.7.3\n"
                                           "debug=false\n"
                                           "buildkey=arm linux gnueabi-g++ full-config";
    return verificationData;
}
#endif

extern "C" Q_DECL_EXPORT DriverInterface *CreateDriver()
{
    return new DriverTecoServo;
}
