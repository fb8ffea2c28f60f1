#ifndef DRV_DEV_SETTING_H
#define DRV_DEV_SETTING_H

#include <QDataStream>
#include <QList>
#include <QPair>
#include <QString>

#include "toolkit_global.h"

// Kind of a runtime port. The runtime owns the values; this library itself
// only uses the serial port kind.
enum device_type : qint32 { DEVICE_TYPE_SERIAL = 16 };

// A driver's protocol settings, as the runtime stores and traces them.
class TOOLKIT_EXPORT DriverSetting
{
public:
    DriverSetting(int timeout, int retry, int stationid, int delay);
    DriverSetting(int timeout, int retry, int stationid, int delay, const QString &unusedText, unsigned short unusedNumber);
    DriverSetting(int timeout, int retry, int stationid, int delay, const QString &unusedText,
                  unsigned short unusedNumber, const QString &text, bool flag);

    void copy(const DriverSetting &other);
    void dump();

    qint32 timeout;
    qint32 retry;
    qint32 stationid;
    qint32 delay;
    QString extraText;
    bool extraFlag;
};

TOOLKIT_EXPORT QDataStream &operator<<(QDataStream &out, const DriverSetting &setting);
TOOLKIT_EXPORT QDataStream &operator>>(QDataStream &in, DriverSetting &setting);

// One port of the runtime: serial line parameters, its link in the project,
// and for network ports a list of (IP text, port number) with one current.
class TOOLKIT_EXPORT DeviceSetting
{
public:
    DeviceSetting(device_type type, QString string, int baudrate, int databits, int stopbits, int parity);
    DeviceSetting(device_type type, QString string, int baudrate, int databits, int stopbits, int parity,
                  int extraValue, QString extraText);

    // An index of -1 means currentIPIndex; an index naming no entry gives
    // 0 / a null string, and the setters then change nothing.
    unsigned short port(int index) const;
    QString socketIP(int index) const;
    void setPort(unsigned short port, int index);
    void setSocketIP(const QString &ip, int index);
    void setCurrentIPIndex(int index);
    void setSocketData(const QList<QPair<QString, QString> > &data);
    void dump();

    device_type type;
    QString string;
    qint32 baudrate;
    qint32 databits;
    qint32 stopbits;
    qint32 parity;
    qint32 extraValue;
    QString extraText;
    qint32 linkID;
    qint32 currentIPIndex;
    QList<QPair<QString, unsigned short> > socketData;

private:
    int entryIndex(int index) const;
};

TOOLKIT_EXPORT QDataStream &operator<<(QDataStream &out, const DeviceSetting &setting);
TOOLKIT_EXPORT QDataStream &operator>>(QDataStream &in, DeviceSetting &setting);

#endif // DRV_DEV_SETTING_H
