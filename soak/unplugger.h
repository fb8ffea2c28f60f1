#ifndef UNPLUGGER_H
#define UNPLUGGER_H

#include <thread>

class PtyLink;
class SimServer;

// Pulls the simulated line's adapter out and plugs it back in, from a
// thread of its own, at a moment the soak picks: the server's terminal is
// closed (the port sees a hang-up) and its link removed; later the same
// drives are served on a new terminal under the same link, the path the
// port opened.
class Unplugger
{
public:
    Unplugger(SimServer *server, PtyLink *link) : m_server(server), m_link(link) {}
    ~Unplugger() { waitPluggedIn(); }

    Unplugger(const Unplugger &) = delete;
    Unplugger &operator=(const Unplugger &) = delete;

    // Pulls it out afterUs microseconds from now and back in replugMs later.
    void schedule(int afterUs, int replugMs);
    // Returns once the last one scheduled is plugged back in; false when
    // the line could not be served again.
    bool waitPluggedIn();

private:
    SimServer *m_server;
    PtyLink *m_link;
    std::thread m_thread;
    bool m_pluggedIn = true;
};

#endif // UNPLUGGER_H
