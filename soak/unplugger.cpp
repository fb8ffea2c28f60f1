#include "unplugger.h"

#include <unistd.h>

#include "ptylink.h"
#include "simserver.h"

void Unplugger::schedule(int afterUs, int replugMs)
{
    waitPluggedIn();
    m_thread = std::thread([this, afterUs, replugMs] {
        usleep(useconds_t(afterUs));
        const LineSettings settings = m_server->lineSettings();
        m_server->close();
        m_link->remove();
        usleep(useconds_t(replugMs) * 1000);
        m_pluggedIn = m_server->openPty(settings) && m_server->start() && m_link->make(m_server->path());
    });
}

bool Unplugger::waitPluggedIn()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_pluggedIn;
}
