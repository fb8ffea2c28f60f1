#ifndef TOOLS_P_H
#define TOOLS_P_H

#include <climits>

#include <QByteArray>
#include <QString>

// Inside the library only: the trace text of dumpByteArray, without sending
// it, for the packet builder's toString.
QString bytesAsHexAndText(const QByteArray &a);

// Helpers shared by the toolkit's source files.
namespace ToolsPrivate {

// Byte count of n elements of the given width, or -1 when it overflows.
inline int byteCount(int n, int width)
{
    if (n <= 0 || n > INT_MAX / width)
        return -1;
    return n * width;
}

// The array with zeros appended up to a multiple of width.
inline QByteArray padded(const QByteArray &a, int width)
{
    QByteArray out(a);
    const int rest = out.size() % width;
    if (rest != 0)
        out.append(QByteArray(width - rest, '\0'));
    return out;
}

inline bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

} // namespace ToolsPrivate

#endif // TOOLS_P_H
