// info: the plug-in's identity, limits and default settings; no line.
#include "commandwords.h"

#include <cstdio>
#include <memory>

#include "driverinterface.h"
#include "drv_dev_setting.h"
#include "session.h"

namespace {

bool buildInfo(const Command &command, const Options &, Chain *chain, Step *step, QString *error)
{
    if (!command.args.isEmpty()) {
        *error = QStringLiteral("info takes no arguments");
        return false;
    }
    return takeStations(command, *chain, false, step, error);
}

int runInfo(Session &session, const Step &)
{
    DriverInterface *driver = session.driver();
    std::unique_ptr<DeviceSetting> port(driver->getDefaultSerialDeviceSetting());
    std::unique_ptr<DriverSetting> setting(driver->getDefaultDriverSetting());
    std::printf("driver:        %s\n", qPrintable(driver->name()));
    std::printf("vendor:        %s\n", qPrintable(driver->vender()));
    std::printf("version:       %s\n", qPrintable(driver->getVersionNumber()));
    std::printf("plug-in:       %s\n", qPrintable(session.pluginPath()));
    std::printf("entry point:   %s\n",
                session.options().entry == DriverLoader::QtPlugin ? "Qt plug-in instance" : "CreateDriver");
    std::printf("block limits:  %d registers, %d bits per request\n", driver->getBlockAccessSize(),
                driver->getBitBlockAccessSize());
    std::printf("flags:         0x%02X\n", driver->supportedCommunicationFlags());
    std::printf("line:          %s\n", qPrintable(driver->getStringBasedDefaultDriverSetting()));
    std::printf("default port:  %s, %d baud, %d data bits, stop bits code %d, parity code %d\n",
                qPrintable(port->string), port->baudrate, port->databits, port->stopbits, port->parity);
    std::printf("protocol:      time-out %d ms, %d retries, station %d, delay %d ms\n", setting->timeout,
                setting->retry, setting->stationid, setting->delay);
    return 0;
}

} // namespace

extern const CommandEntry infoCommand = {
    "info", Step::Info, false,   false,  false,
    false,  buildInfo,  runInfo, "info", "identity, limits and default settings of the driver"};
