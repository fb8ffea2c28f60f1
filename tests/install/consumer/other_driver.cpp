#include <tools.h>

// Uses the toolkit, so that a wrong include path or archive fails the build.
extern "C" Q_DECL_EXPORT unsigned short otherDriverChecksum(const unsigned char *data, int length)
{
    return CRC16Calculate(data, length);
}
