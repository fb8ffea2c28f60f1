#ifndef TECO_SERVO_H
#define TECO_SERVO_H

#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "../../host/driverinterface.h"
#include "../common/toolkit_global.h"

class AbstractDeviceInterface;

// Modbus RTU driver for TECO servo drives on an RS-485 line.
class TOOLKIT_EXPORT DriverTecoServo : public QObject, public DriverInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.vantrel.drivers.DriverInterface/1.1" FILE "teco_servo.json")
    Q_INTERFACES(DriverInterface)

public:
    DriverTecoServo();
    ~DriverTecoServo() override;

    // DriverInterface
    int totalSize() override;
    bool write(AbstractDeviceInterface *port, const CommunicatorCommand &cmd,
               const QByteArray &data) override;
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
    QByteArray readWords(AbstractDeviceInterface *port, const QByteArray &area,
                         unsigned short address, int count);
    QByteArray readWords(AbstractDeviceInterface *port, const QByteArray &area,
                         unsigned short address, int count, unsigned char station);
    QByteArray readDWords(AbstractDeviceInterface *port, const QByteArray &area,
                          unsigned short address, int count, bool swapWords);
    QByteArray readBytes(AbstractDeviceInterface *port, const QByteArray &area,
                         unsigned short address, int count);

    // Bit reads (functions 1 and 2, and bits inside registers).
    QByteArray readDIDOs(AbstractDeviceInterface *port, const QByteArray &area,
                         unsigned short address, int count);
    QByteArray readIRHRbits(AbstractDeviceInterface *port, const QByteArray &area,
                            unsigned short address, unsigned char bitOffset, int count);
    QByteArray readBits(AbstractDeviceInterface *port, const CommunicatorCommand &command);

    // Register writes with one function-16 request.
    bool writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data,
                    unsigned char station);
    bool writeDWords(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data,
                     bool swapWords);
    bool writeBytes(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);

    // Register writes with one function-6 request per register.
    bool writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address,
                          const QByteArray &data);
    bool writeWordWithFN6(AbstractDeviceInterface *port, unsigned short address,
                          const QByteArray &data, unsigned char station);
    bool writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address,
                           const QByteArray &data);
    bool writeWordsWithFN6(AbstractDeviceInterface *port, unsigned short address,
                           const QByteArray &data, unsigned char station);
    bool writeDWordsWithFN6(AbstractDeviceInterface *port, unsigned short address,
                            const QByteArray &data, bool swapWords);
    bool writeBytesWithFN6(AbstractDeviceInterface *port, unsigned short address,
                           const QByteArray &data);

    // Bits inside holding registers, by read, modify and write-back.
    bool writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                    const QByteArray &data);
    bool writeHRbit(AbstractDeviceInterface *port, unsigned short address, unsigned char bit,
                    const QByteArray &data, unsigned char station);
    bool writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address,
                           unsigned char bit, const QByteArray &data);
    bool writeHRbitWithFN6(AbstractDeviceInterface *port, unsigned short address,
                           unsigned char bit, const QByteArray &data, unsigned char station);

    // Coils with function 15, or one by one with function 5.
    bool writeCoils(AbstractDeviceInterface *port, unsigned short address, const QByteArray &data);
    bool writeCoilsWithFN5(AbstractDeviceInterface *port, unsigned short address,
                           const QByteArray &data);

    // The special word store, HR60000 to HR60010.
    QByteArray readSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg, int count);
    bool writeSpecialHRWords(AbstractDeviceInterface *port, unsigned short reg,
                             const QByteArray &data, int &progress);
    bool writeSpecialFN6HRWords(AbstractDeviceInterface *port, unsigned short reg,
                                const QByteArray &data, int &progress);
    bool writeSpecialHRbit(AbstractDeviceInterface *port, unsigned short reg, unsigned char bit,
                           const QByteArray &data, int &progress);
    bool writeSpecialFN6HRbit(AbstractDeviceInterface *port, unsigned short reg,
                              unsigned char bit, const QByteArray &data, int &progress);

private:
    Q_DISABLE_COPY(DriverTecoServo)

    bool errorFlag;
    bool debugMode;
    QString lastError;
    std::vector<unsigned short> specialWords;
};

#endif // TECO_SERVO_H
