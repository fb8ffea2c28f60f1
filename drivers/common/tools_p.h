#ifndef TOOLS_P_H
#define TOOLS_P_H

#include <QByteArray>
#include <QString>

// Inside the library only: the trace text of dumpByteArray, without sending
// it, for the packet builder's toString.
QString bytesAsHexAndText(const QByteArray &a);

#endif // TOOLS_P_H
