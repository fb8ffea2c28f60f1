// The plug-in as the runtime meets it: loaded by path, never linked.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>
#include <QPluginLoader>
#include <QVariant>

#include "abstractdeviceinterface.h"
#include "driverinterface.h"
#include "drv_dev_setting.h"

namespace {

// Slot of a virtual member function in the virtual table, read from its
// pointer-to-member representation (Itanium C++ ABI and its ARM variant).
template <typename Pmf>
long vtableSlot(Pmf pmf)
{
    struct Raw
    {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } raw;
    static_assert(sizeof(Pmf) == sizeof(Raw), "unexpected member pointer layout");
    std::memcpy(&raw, &pmf, sizeof raw);
#if defined(__arm__) || defined(__aarch64__)
    if (!(raw.adj & 1))
        return -1;
    return long(raw.ptr / sizeof(void *));
#else
    if (!(raw.ptr & 1))
        return -1;
    return long((raw.ptr - 1) / sizeof(void *));
#endif
}

TEST(DriverInterfaceLayout, OperationsKeepTheirVirtualTableSlots)
{
    // Slots 0 and 1 are the two destructor entries of the virtual destructor.
    const long seen[] = {
        vtableSlot(&DriverInterface::totalSize),
        vtableSlot(&DriverInterface::write),
        vtableSlot(&DriverInterface::read),
        vtableSlot(&DriverInterface::initialize),
        vtableSlot(&DriverInterface::validation),
        vtableSlot(&DriverInterface::name),
        vtableSlot(&DriverInterface::vender),
        vtableSlot(&DriverInterface::getVersionNumber),
        vtableSlot(&DriverInterface::getDefaultSerialDeviceSetting),
        vtableSlot(&DriverInterface::getDefaultDriverSetting),
        vtableSlot(&DriverInterface::getStringBasedDefaultDriverSetting),
        vtableSlot(&DriverInterface::supportedCommunicationFlags),
        vtableSlot(&DriverInterface::setDebugMode),
        vtableSlot(&DriverInterface::getBlockAccessSize),
        vtableSlot(&DriverInterface::getBitBlockAccessSize),
        vtableSlot(&DriverInterface::hasError),
        vtableSlot(&DriverInterface::getLastError),
        vtableSlot(&DriverInterface::getThisObject),
        vtableSlot(&DriverInterface::isSupportSessionCommand),
        vtableSlot(&DriverInterface::setSessionCommand),
        vtableSlot(&DriverInterface::clearSessionCommand),
        vtableSlot(&DriverInterface::deviceSettingChanged),
        vtableSlot(&DriverInterface::isConnected),
    };
    for (long i = 0; i < long(sizeof seen / sizeof seen[0]); ++i)
        EXPECT_EQ(seen[i], i + 2) << "operation " << i + 1;
}

class PortSpy : public AbstractDeviceInterface
{
public:
    int receive(char *, int) override { return 0; }
    int send(const char *, int length) override { return length; }
    bool setOption(int option, const QVariant &value) override
    {
        options.append(qMakePair(option, value));
        return true;
    }
    int retryCount() override { return 0; }
    int stationId() override { return 1; }
    int frameDelay() override { return 0; }

    QList<QPair<int, QVariant> > options;
};

// Identity, limits and default records: the panel host
// (tests/panel/panel_host.cpp), through both entry points.
void expectDefaults(DriverInterface *driver)
{
    EXPECT_FALSE(driver->validation(QString()));
    EXPECT_FALSE(driver->validation("RS485,9600,NONE,8,2"));
    EXPECT_FALSE(driver->isSupportSessionCommand());
    EXPECT_TRUE(driver->deviceSettingChanged(nullptr));
    EXPECT_TRUE(driver->isConnected(nullptr));
    EXPECT_FALSE(driver->hasError());
    EXPECT_TRUE(driver->getLastError().isEmpty());

    std::unique_ptr<DriverSetting> ds(driver->getDefaultDriverSetting());
    EXPECT_TRUE(ds->extraText.isNull());
    std::unique_ptr<DeviceSetting> dev(driver->getDefaultSerialDeviceSetting());
    EXPECT_EQ(dev->extraValue, 0);
    EXPECT_EQ(dev->linkID, -1);
    EXPECT_EQ(dev->currentIPIndex, 0);
    EXPECT_TRUE(dev->socketData.isEmpty());

    PortSpy port;
    EXPECT_TRUE(driver->initialize(nullptr));
    EXPECT_TRUE(driver->initialize(&port));
    ASSERT_EQ(port.options.size(), 1);
    EXPECT_EQ(port.options[0].first, 12);
    EXPECT_EQ(port.options[0].second, QVariant(int(0)));
}

void expectMetacast(QObject *object, DriverInterface *iface)
{
    void *part = object->qt_metacast("DriverInterface");
    EXPECT_EQ(part, static_cast<void *>(iface));
    EXPECT_EQ(object->qt_metacast(DriverInterface_iid), part);
    EXPECT_NE(part, static_cast<void *>(object));
    EXPECT_EQ(object->qt_metacast("DriverTecoServo"), static_cast<void *>(object));
    EXPECT_EQ(object->qt_metacast("QObject"), static_cast<void *>(object));
    EXPECT_EQ(object->qt_metacast("driverinterface"), nullptr);
    EXPECT_EQ(object->qt_metacast("COM.VANTREL.DRIVERS.DRIVERINTERFACE/1.1"), nullptr);
    EXPECT_EQ(object->qt_metacast(nullptr), nullptr);
    EXPECT_STREQ(object->metaObject()->className(), "DriverTecoServo");
    EXPECT_EQ(iface->getThisObject(), object);
}

class DlopenedPlugin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        handle = dlopen(TECO_SERVO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (handle)
            dlclose(handle);
    }
    template <typename F>
    F entry(const char *symbol)
    {
        return reinterpret_cast<F>(dlsym(handle, symbol));
    }
    void *handle = nullptr;
};

TEST_F(DlopenedPlugin, CreateDriverGivesANewInterfacePartEachCall)
{
    auto create = entry<DriverInterface *(*)()>("CreateDriver");
    ASSERT_NE(create, nullptr);
    std::unique_ptr<DriverInterface> a(create());
    std::unique_ptr<DriverInterface> b(create());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_NE(static_cast<void *>(a->getThisObject()), static_cast<void *>(a.get()));
    expectDefaults(a.get());
    expectMetacast(a->getThisObject(), a.get());
}

TEST_F(DlopenedPlugin, InstanceIsKeptUntilDeletedThenCreatedAgain)
{
    auto instance = entry<QObject *(*)()>("qt_plugin_instance");
    ASSERT_NE(instance, nullptr);
    QObject *first = instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(instance(), first);
    EXPECT_EQ(first->parent(), nullptr);
    DriverInterface *iface = qobject_cast<DriverInterface *>(first);
    ASSERT_NE(iface, nullptr);
    expectMetacast(first, iface);

    delete first;
    QObject *second = instance();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(instance(), second);
    EXPECT_EQ(second->metaObject()->className(), QByteArray("DriverTecoServo"));
    delete second;
}

// Qt's loader takes the plug-in, its interface by the identifier and the
// identity under either Qt: the panel host. Qt 5 reads its metadata first.
#if QT_VERSION >= 0x050000
TEST(QPluginLoaderTest, MetadataNamesTheInterfaceAndTheClass)
{
    QPluginLoader loader(QString::fromLocal8Bit(TECO_SERVO_PLUGIN_PATH));
    EXPECT_EQ(loader.metaData().value("IID").toString(), DriverInterface_iid);
    EXPECT_EQ(loader.metaData().value("className").toString(), "DriverTecoServo");
}
#endif

} // namespace
