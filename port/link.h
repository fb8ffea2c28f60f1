#ifndef LINK_H
#define LINK_H

#include <QString>

// How the port's bytes reach the line, one entry a kind of link: a
// terminal device (an adapter, a pseudo-terminal) or a TCP socket to a
// converter that passes RTU frames unchanged. The port holds one and asks
// it what differs, instead of knowing who opened it.
//
// Called by: SerialPort, on its own thread. write() does not block (the
// descriptor is non-blocking); drain() blocks until the bytes are out.
struct Link
{
    // Whether the port keeps and reads the line's time: silences before a
    // request, characters' times, when an answer could have been on the
    // wire. A converter keeps its own line's; a socket shows none of it,
    // and a copy of an answer can then come after the next request with
    // nothing to tell it by.
    bool keepsLineTime;
    // A read that returns no bytes means the far end closed the link.
    bool endOfInputIsLoss;
    // As write(2): the bytes taken, or -1 with errno.
    long (*write)(int fd, const char *data, long length);
    // Until what was written is on the line, where that can be known.
    void (*drain)(int fd);
    // Why the link is gone when the far end ended it.
    QString (*hangUpText)();
};

extern const Link terminalLink;
extern const Link socketLink;

#endif // LINK_H
