#ifndef TECO_SERVO_H
#define TECO_SERVO_H

#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "driverinterface.h"
#include "toolkit_global.h"
#include "function_ref.h"

class AbstractDeviceInterface;
// How a register read counts and converts; private to the driver's reads.
struct RegisterReadShape;

// The driver's own special words, HR60000 to HR60010.
const unsigned short SPECIAL_FIRST_REGISTER = 59999;
const unsigned short SPECIAL_LAST_REGISTER = 60009;

// Modbus RTU driver for TECO servo drives on an RS-485 line.
class TOOLKIT_EXPORT DriverTecoServo : public QObject, public DriverInterface
{
    Q_OBJECT
#if QT_VERSION >= 0x050000
    Q_PLUGIN_METADATA(IID DriverInterface_iid FILE "teco_servo.json")
#endif
    Q_INTERFACES(DriverInterface)

public:
    DriverTecoServo();
    ~DriverTecoServo() override;

    // DriverInterface. read and write wait the port's frameDelay before every
    // attempt (a negative delay counts as 0) and retry up to retryCount times.
    // A null port fails at once with "PLC no response", without description.
    int totalSize() override;
    bool write(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &data) override;
    QByteArray read(AbstractDeviceInterface *port, const CommunicatorCommand &cmd) override;
    bool initialize(AbstractDeviceInterface *port) override;
    bool validation(const QString &text) override;
    QString name() override;
    QString vender() override;
    QString getVersionNumber() override;
    DeviceSetting *getDefaultSerialDeviceSetting() override;
    DriverSetting *getDefaultDriverSetting() override;
    QString getStringBasedDefaultDriverSetting() override;
    int supportedCommunicationFlags() override;
    void setDebugMode(bool on) override;
    int getBlockAccessSize() override;
    int getBitBlockAccessSize() override;
    bool hasError() override;
    QString getLastError() override;
    QObject *getThisObject() override;

    // Error state: every failure goes through setCommError.
    void clearError();
    void setCommError(const QString &text);

    // Command descriptions appended when a command has failed for good.
    void appendCmdToReadCommError(unsigned char station, const CommunicatorCommand &cmd);
    void appendCmdToWriteCommError(unsigned char station, const CommunicatorCommand &cmd);

    // Staged answer validation shared by every transaction.
    bool checkMinADU(unsigned char station, const char *buffer, int received);
    bool checkException(const char *buffer, unsigned char function);

    // Register reads (functions 3 and 4); data come back low byte first.
    // A negative count is refused with the member's range text (bytes too).
    QByteArray readWords(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count);
    QByteArray readWords(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count,
                         unsigned char station);
    QByteArray readDWords(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count,
                          bool swapWords);
    QByteArray readBytes(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count);

    // Bit reads (functions 1 and 2, and bits inside registers).
    QByteArray readDIDOs(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address, int count);
    QByteArray readIRHRbits(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address,
                            unsigned char bitOffset, int count);
    // Unused here; kept because the plug-in's exported symbols are fixed.
    QByteArray readBits(AbstractDeviceInterface *port, const CommunicatorCommand &command);

    // Register writes with one function-16 request. Words and double words
    // are written whole: a trailing partial word or double word of the data is
    // not sent. Bytes pad an odd last byte with a zero high byte.
    bool writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, unsigned char station);
    bool writeDWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, bool swapWords);
    bool writeBytes(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);

    // Register writes with one function-6 request per register.
    // The two writeWordWithFN6: unused here, kept as the exported symbols are fixed.
    bool writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data,
                          unsigned char station);
    bool writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data,
                           unsigned char station);
    bool writeDWordsWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, bool swapWords);
    bool writeBytesWithFN6(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);

    // Bits inside holding registers, by read, modify and write-back. Bit
    // numbers above 15 reach into the following registers. Empty bit data
    // changes nothing: true, and nothing is sent.
    bool writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit, const QByteArray &data);
    bool writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                    const QByteArray &data, unsigned char station);
    bool writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address, unsigned char bit, const QByteArray &data);
    bool writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                           const QByteArray &data, unsigned char station);

    // Coils with function 15, or one by one with function 5.
    bool writeCoils(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeCoilsWithFN5(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);

    // The special word store, HR60000 to HR60010 (entries 0 to 10: station
    // count, station list 1..8, read-back station, broadcast word), never
    // touched beyond entry 10:
    // - a read returns 2 bytes per word; words past entry 10 read as zero. A
    //   count above 125 or below 0 is refused ("can't read any word from HR%d").
    // - a word write reaching entry 10 (starting below it or carrying several
    //   words) sends all its words to register 1299 of every station, and
    //   entry 10 keeps the first word, the value register 1299 got; entries
    //   below 10 are not changed by it. A trailing odd byte is ignored.
    // - a broadcast uses at most 8 stations (entries 1..8), whatever entry 0
    //   holds; word writes leave entry 0 as written. A negative progress
    //   counts as 0.
    // - a bit number above 15 leaves the entry unchanged; empty bit data
    //   changes no bit (the station count is still bounded).
    // - called directly with a register outside 59999..60009 they refuse with
    //   "can't write any word to HR%1" / "can't write any bit to HR%1".
    QByteArray readSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg, int count);
    bool writeSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg, const QByteArray &data, int &progress);
    bool writeSpecialFN6HRWords(AbstractDeviceInterface *port, unsigned short reg, const QByteArray &data, int &progress);
    bool writeSpecialHRbit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                           const QByteArray &data, int &progress);
    bool writeSpecialFN6HRbit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                              const QByteArray &data, int &progress);

private:
    Q_DISABLE_COPY(DriverTecoServo)

    // Station argument of the helpers below that means "ask the port".
    enum { StationFromPort = -1 };
    // Block: one request for all items (functions 15 and 16); Single: one
    // request per item (functions 5 and 6).
    enum class WriteMode { Block, Single };

    // Callbacks live only for the call they are passed to.
    using RequestBuilder = FunctionRef<QByteArray(unsigned char station)>;
    using AnswerData = FunctionRef<void(const unsigned char *data)>;

    // Asks the port for its station; above 255 (as unsigned) records
    // "invalid slave id:%d" and returns false.
    bool queryStation(AbstractDeviceInterface *port, int &station);
    // The one request/answer exchange of every transaction: station (asked
    // of the port for StationFromPort), request, option call, send, staged
    // reception of answerLength bytes into a bounded stack buffer, CRC. On
    // success hands the answer's bytes from offset 3 to take.
    bool exchange(AbstractDeviceInterface *port, int station, const RequestBuilder &build, int answerLength,
                  const AnswerData &take = AnswerData());
    // Waits the port's frame delay; a negative delay counts as 0.
    static void waitFrameDelay(AbstractDeviceInterface *port);
    // Repeats attempt (after the delay, with the error cleared) until it
    // leaves no error or the port's retry count is used up; true on success.
    bool repeatAttempts(AbstractDeviceInterface *port, FunctionRef<void()> attempt);

    QByteArray readRegisters(AbstractDeviceInterface *port, const QByteArray &area, unsigned short address,
                             int count, int station, const RegisterReadShape &shape);
    QByteArray readCoilsOrInputs(AbstractDeviceInterface *port, unsigned char function, unsigned short address,
                                 int count, bool clearTail);
    // Register count limit of a write (123, and below 65536); records rangeText
    // (with %1 = address + 1) when it is exceeded.
    bool registersFit(unsigned short address, int registers, const char *rangeText);
    bool writeRegisterData(AbstractDeviceInterface *port, unsigned short address, const QByteArray &wire,
                           int station, const char *rangeText, WriteMode mode);
    bool writeSingleRegister(AbstractDeviceInterface *port, unsigned short address, const QByteArray &wire, int station);
    bool writeRegisterBits(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                           const QByteArray &data, int station, WriteMode mode);
    bool writeCoilData(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data, WriteMode mode);
    // Sends to the stations of the list from entry progress + 1 on, counting
    // each acknowledgement in progress, waiting the delay between stations.
    bool broadcastToStations(AbstractDeviceInterface *port, int &progress, FunctionRef<bool(unsigned char)> send);
    bool writeSpecialWords(AbstractDeviceInterface *port, unsigned short reg, const QByteArray &data,
                           int &progress, WriteMode mode);
    bool writeSpecialBit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                         const QByteArray &data, int &progress, WriteMode mode);
    // Refuses a null port and unsupported data types (after one delay wait);
    // false when the command ends here.
    bool acceptCommand(AbstractDeviceInterface *port, const CommunicatorCommand &cmd);
    QByteArray readOnce(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &area,
                        unsigned short reg, unsigned char bit);
    bool writeOnce(AbstractDeviceInterface *port, const CommunicatorCommand &cmd, const QByteArray &data,
                   const QByteArray &area, unsigned short reg, unsigned char bit, int &progress);

    bool errorFlag;
    // Set by setDebugMode() and read by nothing: the runtime's interface
    // has the switch, and this driver has no debug output to gate.
    bool debugMode;
    QString lastError;
    std::vector<unsigned short> specialWords;
};

#endif // TECO_SERVO_H
