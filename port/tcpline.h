#ifndef TCPLINE_H
#define TCPLINE_H

#include <QString>

#include "tcpaddress.h"

// The socket calls of a TCP line (tcpport.h, servosim --tcp), shared so
// that both ends open it alike.

// A connected, non-blocking socket without Nagle's delay (frames are small
// and each waits for its answer), or -1 with *error such as "cannot connect
// to tcp://127.0.0.1:5020: Connection refused". The wait for the connection
// ends at timeoutMs, or when interruptFd (if >= 0) becomes readable
// (*error "interrupted").
int connectTcp(const TcpAddress &address, int timeoutMs, int interruptFd, QString *error);

// A listening socket (close-on-exec, non-blocking); address->port is set to
// the one taken when it was 0. -1 with *error otherwise.
int listenTcp(TcpAddress *address, QString *error);

// One master on a converter's line within this machine: a listening socket
// bound to an abstract name made of the address the host resolves to and
// the port. No file stands for it, so none can be planted in its place or
// left behind, and it goes with its holder however that ends. The lock
// descriptor, or -1 with *error: "tcp://127.0.0.1:5020 is in use by servoctl
// (pid 4242)" when another program holds it (whoever that is), or why no
// lock could be had.
int claimTcpLine(const TcpAddress &address, QString *error);

// Writes to a socket without SIGPIPE when the far end has gone.
long sendToSocket(int fd, const char *data, long length);

#endif // TCPLINE_H
