#ifndef LINK_H
#define LINK_H

#include <memory>

#include <QList>
#include <QString>

#include "answerjudge.h"

// How the port's bytes reach the line: a terminal device (an adapter, a
// pseudo-terminal), a TCP socket to a converter that passes RTU frames
// unchanged, or one that speaks Modbus TCP (mbaplink.h). The port owns one and asks it what differs, instead of
// knowing who opened it; a link that reframes the bytes keeps its state.
//
// Called by: SerialPort, on its own thread, with the line's descriptor,
// which is non-blocking: write() does not block for long (a link that
// reframes writes a frame whole); drain() blocks until the bytes are out.
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
    // The RTU bytes in what was read off the line: as they came, or, where
    // the link reframes them, what of them is whole so far.
    virtual QByteArray rtuBytes(const char *data, long length);
    // Whether the link itself matches each answer to its request (a
    // transaction number): an earlier request's answer never reaches the
    // port, and none is owed.
    virtual bool matchesAnswers() const;
    // The answers it dropped since the last call (JudgeEvent::Late).
    virtual QList<JudgeEvent> takeEvents();
    // Why what the far end sends can no longer be read as frames; empty
    // while it can.
    virtual QString fault() const;
    // Until what was written is on the line, where that can be known.
    virtual void drain(int fd) = 0;
    // Why the link is gone when the far end ended it.
    virtual QString hangUpText() const = 0;
};

std::unique_ptr<Link> terminalLink();
std::unique_ptr<Link> socketLink();
std::unique_ptr<Link> mbapLink();

#endif // LINK_H
