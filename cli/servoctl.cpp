// servoctl: commissions TECO servo drives through the driver plug-in.
#include <dlfcn.h>

#include <cstdio>
#include <memory>

#include <QCoreApplication>
#include <QPluginLoader>
#include <QStringList>

#include "driverinterface.h"
#include "drv_dev_setting.h"

namespace {

void printInfo(DriverInterface *driver)
{
    std::unique_ptr<DeviceSetting> port(driver->getDefaultSerialDeviceSetting());
    std::unique_ptr<DriverSetting> setting(driver->getDefaultDriverSetting());
    std::printf("driver:        %s\n", qPrintable(driver->name()));
    std::printf("vendor:        %s\n", qPrintable(driver->vender()));
    std::printf("version:       %s\n", qPrintable(driver->getVersionNumber()));
    std::printf("block limits:  %d registers, %d bits per request\n",
                driver->getBlockAccessSize(), driver->getBitBlockAccessSize());
    std::printf("flags:         0x%02X\n", driver->supportedCommunicationFlags());
    std::printf("line:          %s\n", qPrintable(driver->getStringBasedDefaultDriverSetting()));
    std::printf("default port:  %s, %d baud, %d data bits, stop bits code %d, parity code %d\n",
                qPrintable(port->string), port->baudrate, port->databits, port->stopbits,
                port->parity);
    std::printf("protocol:      time-out %d, %d retries, station %d, delay %d\n",
                setting->timeout, setting->retry, setting->stationid, setting->delay);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) != "info") {
        std::fprintf(stderr, "usage: servoctl info\n");
        return 2;
    }
    QPluginLoader loader(QString::fromLocal8Bit(TECO_SERVO_PLUGIN_PATH));
    DriverInterface *driver = qobject_cast<DriverInterface *>(loader.instance());
    if (!driver) {
        std::fprintf(stderr, "servoctl: cannot load the plug-in: %s\n",
                     qPrintable(loader.errorString()));
        return 1;
    }
    printInfo(driver);
    return 0;
}
