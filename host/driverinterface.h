#ifndef DRIVERINTERFACE_H
#define DRIVERINTERFACE_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QtPlugin>

#include "communicatorcommand.h"

class AbstractDeviceInterface;
class DeviceSetting;
class DriverSetting;

// The runtime calls these operations by their position in the virtual table:
// their order is the plug-in interface and must never change.
class DriverInterface
{
public:
    virtual ~DriverInterface() {}

    virtual int totalSize() = 0;
    virtual bool write(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &data) = 0;
    virtual QByteArray read(AbstractDeviceInterface *port, const CommunicatorCommand &cmd) = 0;
    virtual bool initialize(AbstractDeviceInterface *port) = 0;
    virtual bool validation(const QString &text) = 0;
    virtual QString name() { return QString("Not Assigned"); }
    virtual QString vender() { return QString("Not Assigned"); }
    virtual QString getVersionNumber() { return QString("Not Assigned"); }
    virtual DeviceSetting *getDefaultSerialDeviceSetting() = 0;
    virtual DriverSetting *getDefaultDriverSetting() = 0;
    virtual QString getStringBasedDefaultDriverSetting() { return QString("RS232,9600,EVEN,7,1"); }
    virtual int supportedCommunicationFlags() = 0;
    virtual void setDebugMode(bool on) = 0;
    virtual int getBlockAccessSize() = 0;
    virtual int getBitBlockAccessSize() = 0;
    virtual bool hasError() = 0;
    virtual QString getLastError() = 0;
    virtual QObject *getThisObject() = 0;
    virtual bool isSupportSessionCommand() { return false; }
    virtual void setSessionCommand(QList<CommunicatorCommand> commands) { Q_UNUSED(commands); }
    virtual void clearSessionCommand() {}
    virtual bool deviceSettingChanged(const DeviceSetting *setting)
    {
        Q_UNUSED(setting);
        return true;
    }
    virtual bool isConnected(AbstractDeviceInterface *port)
    {
        Q_UNUSED(port);
        return true;
    }
};

#define DriverInterface_iid "com.vantrel.drivers.DriverInterface/1.1"
Q_DECLARE_INTERFACE(DriverInterface, DriverInterface_iid)

#endif // DRIVERINTERFACE_H
