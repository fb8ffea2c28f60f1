#ifndef LOWLATENCY_H
#define LOWLATENCY_H

// USB serial adapters hold received bytes back for a latency timer (16 ms
// on FTDI chips) unless the kernel is asked for low latency, which sets it
// to 1 ms. Devices without the setting (a pseudo-terminal, most on-board
// UARTs, which deliver at once anyway) are left as they are.

enum class LowLatency {
    Enabled,     // switched on by this call
    AlreadyOn,   // the device had it on
    NotAvailable // the device has no such setting, or refused it
};

LowLatency enableLowLatency(int fd);
// Switches it off again; for a device on which enableLowLatency switched it on.
void disableLowLatency(int fd);

#endif // LOWLATENCY_H
