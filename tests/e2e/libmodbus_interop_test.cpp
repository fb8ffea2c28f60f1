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

// The map's bits packed low bit first, and its registers low byte first,
// as the driver hands them on.
QByteArray packed(const uint8_t *bits, int count)
{
    QByteArray data((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i)
        data[i / 8] = char(data[i / 8] | (bits[i] & 1) << (i % 8));
    return data;
}

QByteArray words(const uint16_t *registers, int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data.append(char(registers[i])).append(char(registers[i] >> 8));
    return data;
}

TEST_F(LibmodbusSlave, ReadFunctionsOneToFourAgreeWithTheRegisterMap)
{
    // Functions 1, 2, 3 and 4, in turn.
    EXPECT_EQ(read(CommunicatorCommand::Bit, 37, "DO10").toHex(), packed(map->tab_bits + 9, 37).toHex());
    EXPECT_EQ(read(CommunicatorCommand::Bit, 21, "DI100").toHex(), packed(map->tab_input_bits + 99, 21).toHex());
    EXPECT_EQ(read(CommunicatorCommand::Word, 125, "HR876").toHex(), words(map->tab_registers + 875, 125).toHex());
    EXPECT_EQ(read(CommunicatorCommand::Word, 3, "IR1").toHex(), words(map->tab_input_registers, 3).toHex());
}

TEST_F(LibmodbusSlave, WriteFunctionsFiveSixFifteenAndSixteenChangeTheRegisterMap)
{
    write(CommunicatorCommand::Bit, "FN5DO3", QByteArray::fromHex("0100"), 2);           // function 5, twice
    write(CommunicatorCommand::Word, "FN6HR8", QByteArray::fromHex("3412"), 1);          // function 6
    write(CommunicatorCommand::Bit, "DO20", QByteArray::fromHex("010101000001"), 6);     // function 15
    write(CommunicatorCommand::DoubleWord, "HR500", QByteArray::fromHex("78563412"), 1); // function 16
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(map->tab_bits + 2), 2).toHex(), "0100");
    EXPECT_EQ(map->tab_registers[7], 0x1234);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(map->tab_bits + 19), 6).toHex(), "010101000001");
    EXPECT_EQ(words(map->tab_registers + 499, 2).toHex(), "78563412");
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
