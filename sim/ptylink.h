#ifndef PTYLINK_H
#define PTYLINK_H

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// A fixed name for a simulated line's pseudo-terminal, such as
// /tmp/ttySIM0 -> /dev/pts/3, for clients set up with one device path.
//
// The name is taken only where nothing is or where a symbolic link into
// /dev/pts/ is; anything else there belongs to the user and is refused and
// left as it is. A link to a terminal that is gone is one a killed simulator
// left. A link to one that still exists is taken over all the same, and
// notice() says so: it may be another simulator's, still serving, but just
// as well a terminal that has taken a killed simulator's number since (on a
// busy machine numbers come back at once), and refusing it would leave the
// name unusable. A link is replaced atomically, so a client never finds the
// name missing or half made.
//
// The link is removed (by remove() or the destructor) only while it still
// points where make() pointed it: another simulator may have taken the name
// over meanwhile. remove() and then make() with a new terminal is a USB
// adapter unplugged and plugged back in.
class PtyLink
{
public:
    explicit PtyLink(const QString &path);
    ~PtyLink();

    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;

    // Points the name at the terminal; false with errorString() when the
    // name is taken by something else or the link cannot be made.
    bool make(const QString &terminal);
    void remove();

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    // After make(): what the user should know, such as a link taken over
    // from a terminal that still exists; empty when nothing.
    QString notice() const { return m_notice; }

private:
    bool fail(const QString &text);
    QString refusalToReplace(const QByteArray &path, mode_t mode) const;
    bool replace(const QByteArray &target);

    QString m_path;
    QString m_terminal; // empty while no link of ours is there
    QString m_error;
    QString m_notice;
};

#endif // PTYLINK_H
