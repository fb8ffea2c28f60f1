#include "lowlatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

LowLatency enableLowLatency(int fd)
{
    serial_struct serial;
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return LowLatency::NotAvailable;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return LowLatency::AlreadyOn;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0 ? LowLatency::Enabled : LowLatency::NotAvailable;
}

void disableLowLatency(int fd)
{
    serial_struct serial;
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
}
