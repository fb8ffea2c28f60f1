// The driver against an independent Modbus RTU slave, libmodbus's, serving
// a register map on the master side of a pseudo-terminal.
#include <atomic>
#include <thread>

#include <modbus/modbus.h>
#include <unistd.h>

#include "communicatorcommand.h"
#include "hosttest.h"

namespace {

class LibmodbusSlave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        int slave = -1;
        ASSERT_TRUE(openRawPty(&master, &slave));
        keepOpen = slave;
        map = modbus_mapping_new_start_address(0, 1000, 0, 1000, 0, 1000, 0, 1000);
        ASSERT_NE(map, nullptr);
        for (int i = 0; i < 1000; ++i) {
            map->tab_bits[i] = (i % 5 == 1);
            map->tab_input_bits[i] = (i % 7 == 2);
            map->tab_registers[i] = quint16(0x1000 + i);
            map->tab_input_registers[i] = quint16(0xA000 + i * 3);
        }
        // A client would use the path; the slave has only the master's fd.
        ctx = modbus_new_rtu("/dev/null", 115200, 'N', 8, 2);
        ASSERT_NE(ctx, nullptr);
        modbus_set_slave(ctx, 1);
        modbus_set_socket(ctx, master);
        modbus_set_indication_timeout(ctx, 0, 100000);
        // libmodbus waits its response time-out before an exception answer
        // to an illegal value; keep that well below the port's.
        modbus_set_response_timeout(ctx, 0, 100000);
        server = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stopping) {
                const int length = modbus_receive(ctx, query);
                if (length > 0)
                    modbus_reply(ctx, query, length, map);
            }
        });
        ASSERT_TRUE(port.open(QString::fromLocal8Bit(ptsname(master)), QStringLiteral("RS485,115200,NONE,8,2")));
        port.setAnswerTimeout(1000);
        port.setRetryCount(2);
        port.setStationId(1);
        port.setFrameDelay(0);
        ASSERT_NE(driver.get(), nullptr);
        driver->initialize(&port);
    }
    void TearDown() override
    {
        port.close();
        stopping = true;
        if (server.joinable())
            server.join();
        if (ctx)
            modbus_free(ctx); // not modbus_close: it would restore termios it never saved
        modbus_mapping_free(map);
        ::close(master);
        ::close(keepOpen);
    }

    QByteArray read(int type, int count, const char *address)
    {
        const QByteArray data = driver->read(&port, CommunicatorCommand(type, count, QLatin1String(address)));
        EXPECT_FALSE(driver->hasError()) << address << ": " << qPrintable(driver->getLastError());
        return data;
    }
    void write(int type, const char *address, const QByteArray &data, int count)
    {
        EXPECT_TRUE(driver->write(&port, CommunicatorCommand(type, count, QLatin1String(address)), data))
            << address << ": " << qPrintable(driver->getLastError());
    }

    int master = -1;
    int keepOpen = -1;
    modbus_t *ctx = nullptr;
    modbus_mapping_t *map = nullptr;
    std::thread server;
    std::atomic<bool> stopping{false};
    SerialPort port;
    PluginDriver driver;
};

bool bitOf(const QByteArray &bits, int i)
{
    return (quint8(bits[i / 8]) >> (i % 8)) & 1;
}

TEST_F(LibmodbusSlave, ReadFunctionsOneToFourAgreeWithTheRegisterMap)
{
    const QByteArray coils = read(CommunicatorCommand::Bit, 37, "DO10");         // function 1
    const QByteArray inputs = read(CommunicatorCommand::Bit, 21, "DI100");       // function 2
    const QByteArray holding = read(CommunicatorCommand::Word, 125, "HR876");    // function 3
    const QByteArray inputRegisters = read(CommunicatorCommand::Word, 3, "IR1"); // function 4
    ASSERT_EQ(coils.size(), 5);
    ASSERT_EQ(inputs.size(), 3);
    ASSERT_EQ(holding.size(), 250);
    ASSERT_EQ(inputRegisters.size(), 6);
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(bitOf(coils, i), bool(map->tab_bits[9 + i])) << "coil " << 9 + i;
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(bitOf(inputs, i), bool(map->tab_input_bits[99 + i])) << "input " << 99 + i;
    for (int i = 0; i < 125; ++i)
        EXPECT_EQ(quint8(holding[2 * i]) | quint8(holding[2 * i + 1]) << 8, map->tab_registers[875 + i]);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(quint8(inputRegisters[2 * i]) | quint8(inputRegisters[2 * i + 1]) << 8, map->tab_input_registers[i]);
}

TEST_F(LibmodbusSlave, WriteFunctionsFiveSixFifteenAndSixteenChangeTheRegisterMap)
{
    write(CommunicatorCommand::Bit, "FN5DO3", QByteArray::fromHex("0100"), 2);           // function 5, twice
    write(CommunicatorCommand::Word, "FN6HR8", QByteArray::fromHex("3412"), 1);          // function 6
    write(CommunicatorCommand::Bit, "DO20", QByteArray::fromHex("010101000001"), 6);     // function 15
    write(CommunicatorCommand::DoubleWord, "HR500", QByteArray::fromHex("78563412"), 1); // function 16
    EXPECT_EQ(map->tab_bits[2], 1);
    EXPECT_EQ(map->tab_bits[3], 0);
    EXPECT_EQ(map->tab_registers[7], 0x1234);
    const int coils[] = {1, 1, 1, 0, 0, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(map->tab_bits[19 + i], coils[i]) << "coil " << 19 + i;
    EXPECT_EQ(map->tab_registers[499], 0x5678);
    EXPECT_EQ(map->tab_registers[500], 0x1234);
    write(CommunicatorCommand::Bit, "HR600.4", QByteArray::fromHex("00"), 1); // functions 3 and 16
    EXPECT_EQ(map->tab_registers[599], (0x1000 + 599) & ~0x10);
}

TEST_F(LibmodbusSlave, ExceptionAnswersBecomeTheDriversExceptionTexts)
{
    driver->read(&port, CommunicatorCommand(CommunicatorCommand::Word, 2, QStringLiteral("HR1000")));
    EXPECT_EQ(driver->getLastError(), QStringLiteral("exception code:0x02 (read 2 word(s) from 1-HR1000)"));
    driver->read(&port, CommunicatorCommand(CommunicatorCommand::Bit, 2001, QStringLiteral("DO1")));
    EXPECT_EQ(driver->getLastError(), QStringLiteral("exception code:0x03 (read 2001 bit(s) from 1-DO1)"));
    EXPECT_FALSE(driver->write(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, QStringLiteral("FN6HR1001")),
                               QByteArray(2, '\0')));
    EXPECT_EQ(driver->getLastError(), QStringLiteral("exception code:0x02 (write 1 word to 1-FN6HR1001)"));
    EXPECT_FALSE(driver->write(&port, CommunicatorCommand(CommunicatorCommand::Bit, 1970, QStringLiteral("DO1")),
                               QByteArray(1970, '\1')));
    EXPECT_EQ(driver->getLastError(), QStringLiteral("exception code:0x03 (write 1970 bit to 1-DO1)"));
}

} // namespace
