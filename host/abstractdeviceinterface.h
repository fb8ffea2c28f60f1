#ifndef ABSTRACTDEVICEINTERFACE_H
#define ABSTRACTDEVICEINTERFACE_H

class QVariant;

// The runtime's port object. A driver calls only these six operations, in
// this order of declaration; the port owns the line and all its waiting.
class AbstractDeviceInterface
{
public:
    virtual ~AbstractDeviceInterface() {}

    // Bytes placed into buffer, at most maxLength; 0 or less when nothing came.
    virtual int receive(char *buffer, int maxLength) = 0;
    virtual int send(const char *data, int length) = 0;
    // This option with the value 0 is made before every request.
    static constexpr int DiscardInputOption = 12;
    virtual bool setOption(int option, const QVariant &value) = 0;
    // Further attempts after a failed one; 0 or less means none.
    virtual int retryCount() = 0;
    // Slave address for requests; above 255 (as unsigned) it is invalid.
    virtual int stationId() = 0;
    // Milliseconds to wait before each attempt and between multi-step frames.
    virtual int frameDelay() = 0;
};

#endif // ABSTRACTDEVICEINTERFACE_H
