#ifndef PTYLINK_H
#define PTYLINK_H

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// A fixed name for a simulated line's pseudo-terminal, such as
// /tmp/ttySIM0 -> /dev/pts/3, for clients set up with one device path.
//
// The name is taken only where nothing is, where this object's own link is,
// or where a symbolic link to a /dev/pts/ terminal that no longer exists is:
// one left by a simulator that was killed. A link to a terminal that exists
// is in use (by another simulator still serving, or by whatever took the
// number since); it and anything else there are refused and left as they are. A link is replaced atomically, so a client
// never finds the name missing or half made.
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

private:
    bool fail(const QString &text);
    QString refusalToReplace(const QByteArray &path, mode_t mode) const;
    bool replace(const QByteArray &target);

    QString m_path;
    QString m_terminal; // empty while no link of ours is there
    QString m_error;
};

#endif // PTYLINK_H
