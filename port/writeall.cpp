#include "writeall.h"

#include <cerrno>

#include <unistd.h>

int writeAll(int fd, const QByteArray &data)
{
    for (qint64 done = 0; done < data.size();) {
        const ssize_t written = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return ENOSPC;
        done += written;
    }
    return 0;
}
