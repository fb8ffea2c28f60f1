#ifndef LINK_H
#define LINK_H

#include <memory>

#include <QString>

// How the port's bytes reach the line: a terminal device (an adapter, a
// pseudo-terminal) or a TCP socket to a converter that passes RTU frames
// unchanged. The port owns one and asks it what differs, instead of
// knowing who opened it; a link that reframes the bytes keeps its state.
//
// Called by: SerialPort, on its own thread, with the line's descriptor,
// which is non-blocking: write() and read() do not block; drain() blocks
// until the bytes are out.
class Link
{
public:
    virtual ~Link();
    // Whether the port keeps and reads the line's time: silences before a
    // request, characters' times, when an answer could have been on the
    // wire. A converter keeps its own line's; a socket shows none of it,
    // and a copy of an answer can then come after the next request with
    // nothing to tell it by.
    virtual bool keepsLineTime() const = 0;
    // A read that returns no bytes means the far end closed the link.
    virtual bool endOfInputIsLoss() const = 0;
    // As write(2) of RTU bytes: the bytes taken, or -1 with errno.
    virtual long write(int fd, const char *data, long length) = 0;
    // As read(2), into RTU bytes.
    virtual long read(int fd, char *data, long length);
    // Until what was written is on the line, where that can be known.
    virtual void drain(int fd) = 0;
    // Why the link is gone when the far end ended it.
    virtual QString hangUpText() const = 0;
};

std::unique_ptr<Link> terminalLink();
std::unique_ptr<Link> socketLink();

#endif // LINK_H
