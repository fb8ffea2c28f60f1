#ifndef SERVOCTL_DRIVERLOADER_H
#define SERVOCTL_DRIVERLOADER_H

#include <QString>

class DriverInterface;

// Loads the driver plug-in the way the runtime does, never linked:
// through Qt's plug-in loader (the shared instance) or through the plain
// entry CreateDriver (a driver of our own, deleted with the loader).
class DriverLoader
{
public:
    enum Entry { QtPlugin, CreateDriverEntry };

    DriverLoader() = default;
    ~DriverLoader();
    DriverLoader(const DriverLoader &) = delete;
    DriverLoader &operator=(const DriverLoader &) = delete;

    // Null with errorString() on failure. A second load first unloads what
    // the first loaded: its CreateDriver driver is deleted.
    DriverInterface *load(const QString &path, Entry entry);
    QString errorString() const { return m_error; }

    // The installed plug-in, found from the program's folder (bin/ and the
    // driver folder of one install), else the build tree's ../lib/.
    static QString defaultPath(const QString &programDir);

private:
    void unload();

    DriverInterface *m_owned = nullptr;
    void *m_handle = nullptr;
    QString m_error;
};

#endif // SERVOCTL_DRIVERLOADER_H
