// The plug-in as the panel runtime meets it, in a process of the Qt the
// plug-in was built against (Qt 4 on the panel): loaded with QPluginLoader
// and through CreateDriver, asked for its identity, limits and default
// records, then driving simulated drives on a pseudo-terminal through a port
// of the host's own.
//   panel_host PLUGIN [SERVOSIM [ARGUMENT...]]
// SERVOSIM with its arguments is the command that starts servosim (an
// emulator's, in a cross build). Prints every check; status 1 when one
// fails, 2 when it cannot start.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>

#include <QCoreApplication>
#include <QFileInfo>
#include <QPluginLoader>
#include <QVariant>

#include "qt_compat.h" // before child_process.h, for Qt 4

#include "abstractdeviceinterface.h"
#include "child_process.h"
#include "communicatorcommand.h"
#include "driverinterface.h"
#include "drv_dev_setting.h"

namespace {

int checks = 0;
int failures = 0;

QByteArray shown(const QString &text)
{
    return '"' + text.toLocal8Bit() + '"';
}
QByteArray shown(int value)
{
    return QByteArray::number(value);
}

// Data as upper-case hex ("34 12"), so that a failure's text reads as itself.
QString hexText(const QByteArray &bytes)
{
    QString text;
    for (int i = 0; i < bytes.size(); ++i)
        text += QString(i ? " %1" : "%1").arg(uint(uchar(bytes[i])), 2, 16, QChar('0')).toUpper();
    return text;
}

template <typename T>
void check(const char *what, const T &got, const T &expected)
{
    ++checks;
    if (got == expected) {
        std::printf("ok    %s\n", what);
    } else {
        ++failures;
        std::printf("FAIL  %s: %s, not %s\n", what, shown(got).constData(), shown(expected).constData());
    }
    std::fflush(stdout);
}

qint64 nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The host's serial port on a termios device: receive waits up to the
// time-out for all the bytes asked for, option 12 discards unread input.
class PanelPort : public AbstractDeviceInterface
{
public:
    explicit PanelPort(int fd) : m_fd(fd) {}
    ~PanelPort() { ::close(m_fd); }

    int receive(char *buffer, int maxLength)
    {
        int got = 0;
        const qint64 deadline = nowMs() + timeoutMs;
        while (got < maxLength) {
            const qint64 left = deadline - nowMs();
            pollfd p = {m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            const ssize_t n = ::read(m_fd, buffer + got, size_t(maxLength - got));
            if (n <= 0)
                break;
            got += int(n);
        }
        return got;
    }
    int send(const char *data, int length)
    {
        int done = 0;
        while (done < length) {
            const ssize_t n = ::write(m_fd, data + done, size_t(length - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return -1;
            done += int(n);
        }
        return done;
    }
    bool setOption(int option, const QVariant &value)
    {
        if (option == DiscardInputOption && value.toInt() == 0)
            return ::tcflush(m_fd, TCIFLUSH) == 0;
        return false;
    }
    int retryCount() { return retries; }
    int stationId() { return station; }
    int frameDelay() { return 0; }

    int station = 1;
    int retries = 0;
    int timeoutMs = 500;

private:
    int m_fd;
};

// 9600 baud, 8 data bits, no parity, 2 stop bits: the driver's default line.
int openLine(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    if (fd < 0 || ::tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | CSTOPB;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Words as the runtime holds them, low byte first.
QByteArray words(std::initializer_list<int> values)
{
    QByteArray data;
    for (int v : values)
        data.append(char(v & 0xFF)).append(char(v >> 8));
    return data;
}

void checkIdentity(const char *route, DriverInterface *driver)
{
    std::printf("-- %s\n", route);
    check("identity", driver->name() + '/' + driver->vender() + '/' + driver->getVersionNumber(),
          QString("Teco Servo/Modbus/1.0.0"));
    check("limits, size and flags",
          QString("%1 %2 %3 %4")
              .arg(driver->getBlockAccessSize())
              .arg(driver->getBitBlockAccessSize())
              .arg(driver->totalSize(), 0, 16)
              .arg(driver->supportedCommunicationFlags(), 0, 16),
          QString("125 2008 44000 70"));
    check("line settings", driver->getStringBasedDefaultDriverSetting(), QString("RS485,9600,NONE,8,2"));
    std::unique_ptr<DriverSetting> settings(driver->getDefaultDriverSetting());
    check("default driver setting",
          QString("%1 %2 %3 %4").arg(settings->timeout).arg(settings->retry).arg(settings->stationid).arg(settings->delay),
          QString("500 3 1 0"));
    std::unique_ptr<DeviceSetting> device(driver->getDefaultSerialDeviceSetting());
    check("default port setting",
          QString("%1 %2 %3 %4 %5 %6")
              .arg(int(device->type))
              .arg(device->string)
              .arg(device->baudrate)
              .arg(device->databits)
              .arg(device->stopbits)
              .arg(device->parity),
          QString("16 COM2 9600 8 0 2"));
}

void driveTheLine(DriverInterface *driver, PanelPort &port)
{
    std::printf("-- simulated drives 1, 2, 3\n");
    using C = CommunicatorCommand;
    // What a command gave: its data in hex, or the driver's error text.
    auto read = [&](int type, int count, const char *address) {
        const QByteArray data = driver->read(&port, C(type, count, QString::fromLatin1(address)));
        return driver->hasError() ? driver->getLastError() : hexText(data);
    };
    auto write = [&](int type, const char *address, const QByteArray &data) {
        return driver->write(&port, C(type, 1, QString::fromLatin1(address)), data)
                   ? QString("written")
                   : driver->getLastError();
    };
    auto hex = [](const QByteArray &bytes) { return hexText(bytes); };
    const QString written("written");

    check("driver initialised", int(driver->initialize(&port)), 1);
    check("write HR100 2 words (function 16)", write(C::Word, "HR100", words({0x1234, 0xFFFE})), written);
    check("read HR100 2 words", read(C::Word, 2, "HR100"), hex(words({0x1234, 0xFFFE})));
    check("write FN6HR102 (function 6)", write(C::Word, "FN6HR102", words({0x0042})), written);
    check("read HR102", read(C::Word, 1, "HR102"), hex(words({0x0042})));
    check("read IR1 2 words", read(C::Word, 2, "IR1"), hex(words({1000, 1001})));
    check("read HR100 dword swapped", read(C::DoubleWord, 1, "HR100SW"), QString("FE FF 34 12"));
    check("write HR100.4 bit", write(C::Bit, "HR100.4", QByteArray(1, 1)), written);
    check("read HR100 after the bit", read(C::Word, 1, "HR100"), hex(words({0x1234 | 0x10})));
    check("write DO20 10 coils (function 15)", write(C::Bit, "DO20", QByteArray::fromHex("01000101000001010100")),
          written);
    check("read DO20 10 coils", read(C::Bit, 10, "DO20"), QString("CD 01"));
    check("write FN5DO5 (function 5)", write(C::Bit, "FN5DO5", QByteArray(1, 1)), written);
    check("read DO5", read(C::Bit, 1, "DO5"), QString("01"));
    check("read DI1 4 inputs", read(C::Bit, 4, "DI1"), QString("09"));

    check("store: 3 stations", write(C::Word, "HR60000", words({3})), written);
    check("store: stations 1, 2, 3", write(C::Word, "HR60001", words({1, 2, 3})), written);
    check("store: read back from station 2", write(C::Word, "HR60009", words({2})), written);
    check("store: broadcast 0x5678", write(C::Word, "HR60010", words({0x5678})), written);
    for (int station = 1; station <= 3; ++station) {
        port.station = station;
        const QByteArray what = "HR1300 of station " + QByteArray::number(station);
        check(what.constData(), read(C::Word, 1, "HR1300"), hex(words({0x5678})));
    }
    port.station = 1;
    check("store: HR60010 read back", read(C::Word, 1, "HR60010"), hex(words({0x5678})));
    port.station = 9;
    port.timeoutMs = 200;
    check("silent station 9", read(C::Word, 1, "HR1"), QString("PLC no response (read 1 word(s) from 9-HR1)"));
    check("silent station 9, a write", write(C::Word, "HR1", words({1})),
          QString("PLC no response (write 1 word to 9-HR1)"));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: panel_host PLUGIN [SERVOSIM [ARGUMENT...]]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::printf("Qt %s\n", qVersion());

    // What Qt 4's loader compares with its own before it takes the plug-in.
    void *handle = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    typedef const char *(*Query)();
    Query query = handle ? reinterpret_cast<Query>(::dlsym(handle, "qt_plugin_query_verification_data")) : nullptr;
#if QT_VERSION < 0x050000
    // Built against Qt 4: that Qt's own version and build key.
    check("verification data: Qt " QT_VERSION_STR ", build key \"" QT_BUILD_KEY "\", release",
          QString(query ? query() : "(none)"),
          QString("pattern=QT_PLUGIN_VERIFICATION_DATA\nversion=" QT_VERSION_STR "\ndebug=false\nbuildkey=" QT_BUILD_KEY));
#else
    // Built against Qt 5: the panel runtime's.
    check("verification data: the panel runtime's", QString(query ? query() : "(none)"),
          QString("pattern=QT_PLUGIN_VERIFICATION_DATA\nversion=4.7.3\ndebug=false\n"
                  "buildkey=arm linux gnueabi-g++ full-config"));
#endif

    QPluginLoader loader(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath());
    QObject *instance = loader.instance();
    if (!instance) {
        std::printf("FAIL  QPluginLoader: %s\n", loader.errorString().toLocal8Bit().constData());
        return 1;
    }
    DriverInterface *driver = qobject_cast<DriverInterface *>(instance);
    check("QPluginLoader: a DriverInterface by its identifier", int(driver != nullptr), 1);
    if (!driver)
        return 1;
    checkIdentity("QPluginLoader", driver);

    typedef DriverInterface *(*Create)();
    Create create = handle ? reinterpret_cast<Create>(::dlsym(handle, "CreateDriver")) : nullptr;
    check("CreateDriver found", int(create != nullptr), 1);
    if (!create)
        return 1;
    std::unique_ptr<DriverInterface> own(create());
    checkIdentity("CreateDriver", own.get());

    QStringList simulator; // the command that starts servosim, as ChildProcess takes it
    for (int i = 2; i < argc; ++i)
        simulator << QString::fromLocal8Bit(argv[i]);
    for (int busy = 0; argc > 2 && busy < 2; ++busy) {
        // servosim's drives 1, 2 and 3, then drives that are always busy:
        // exception 6 to every request. Its first line names the terminal.
        ChildProcess sim(simulator.join("|").toLocal8Bit().constData(),
                         QStringList() << "--stations"
                                       << "1-3"
                                       << "--faults" << (busy ? "exception=1" : ""));
        const QByteArray terminal = sim.waitFor("\n", 60000, ChildProcess::OutOnly)
                                        ? sim.out().section('\n', 0, 0).toLocal8Bit()
                                        : QByteArray();
        const int fd = terminal.isEmpty() ? -1 : openLine(terminal.constData());
        if (fd < 0) {
            std::printf("FAIL  no simulated line from %s\n", argv[2]);
            return 2;
        }
        {
            PanelPort port(fd);
            if (busy) {
                port.retries = 1;
                check("a busy drive's exception, after a retry",
                      driver->read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "HR1")).isEmpty()
                          ? driver->getLastError()
                          : QString(),
                      QString("exception code:0x06 (read 1 word(s) from 1-HR1)"));
            } else {
                driveTheLine(driver, port);
                port.station = 2;
                port.timeoutMs = 500;
                check("CreateDriver's driver: IR1 of station 2",
                      hexText(own->read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "IR1"))),
                      hexText(words({2000})));
            }
        }
        sim.signal(SIGTERM);
        sim.finish();
        std::fputs(sim.err().toLocal8Bit().constData(), stderr);
    }
    own.reset();
    std::printf("panel host: %d of %d checks passed\n", checks - failures, checks);
    return failures ? 1 : 0;
}
