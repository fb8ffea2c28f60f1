#include "driverloader.h"

#include <dlfcn.h>

#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#include "driverinterface.h"

DriverLoader::~DriverLoader()
{
    unload();
}

void DriverLoader::unload()
{
    delete m_owned;
    m_owned = nullptr;
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

DriverInterface *DriverLoader::load(const QString &path, Entry entry)
{
    unload();
    if (entry == QtPlugin) {
        QPluginLoader loader(path);
        QObject *instance = loader.instance();
        DriverInterface *driver = qobject_cast<DriverInterface *>(instance);
        if (!driver) {
            m_error = instance ? QStringLiteral("%1 is not a driver plug-in").arg(path) : loader.errorString();
        }
        return driver;
    }
    m_handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        m_error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    using Create = DriverInterface *(*)();
    const auto create = reinterpret_cast<Create>(dlsym(m_handle, "CreateDriver"));
    if (!create) {
        m_error = QStringLiteral("%1 has no entry CreateDriver").arg(path);
        return nullptr;
    }
    m_owned = create();
    if (!m_owned)
        m_error = QStringLiteral("CreateDriver of %1 returned no driver").arg(path);
    return m_owned;
}

QString DriverLoader::defaultPath(const QString &programDir)
{
    const QString installed = programDir + QStringLiteral("/" TECO_SERVO_PLUGIN_FROM_BINDIR);
    const QString built = programDir + QStringLiteral("/../lib/libteco_servo.so");
    for (const QString &path : {installed, built}) {
        if (QFileInfo::exists(path))
            return QFileInfo(path).canonicalFilePath();
    }
    // Named as installed, so that a failure says where it was looked for.
    return QDir::cleanPath(installed);
}
