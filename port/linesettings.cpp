#include "linesettings.h"

#include <QStringList>

#include "drv_dev_setting.h"

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool checkNumbers(const LineSettings &s, QString *error)
{
    if (!isStandardBaudRate(s.baudRate))
        return fail(error, QStringLiteral("unsupported baud rate: %1").arg(s.baudRate));
    if (s.dataBits < 5 || s.dataBits > 8)
        return fail(error, QStringLiteral("unsupported data bits: %1").arg(s.dataBits));
    if (s.stopBits != 1 && s.stopBits != 2)
        return fail(error, QStringLiteral("unsupported stop bits: %1").arg(s.stopBits));
    return true;
}

} // namespace

bool LineSettings::parse(const QString &text, LineSettings *settings, QString *error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 5) {
        return fail(error, QStringLiteral("invalid line settings: \"%1\" (expected "
                                          "MODE,BAUD,PARITY,DATABITS,STOPBITS such as "
                                          "RS485,9600,NONE,8,2)")
                               .arg(text));
    }
    LineSettings s;
    const QString mode = fields[0].trimmed().toUpper();
    if (mode == QLatin1String("RS232"))
        s.mode = RS232;
    else if (mode == QLatin1String("RS422"))
        s.mode = RS422;
    else if (mode == QLatin1String("RS485"))
        s.mode = RS485;
    else
        return fail(error, QStringLiteral("unknown line mode: %1").arg(fields[0].trimmed()));

    const QString parity = fields[2].trimmed().toUpper();
    if (parity == QLatin1String("NONE") || parity == QLatin1String("N"))
        s.parity = NoParity;
    else if (parity == QLatin1String("ODD") || parity == QLatin1String("O"))
        s.parity = OddParity;
    else if (parity == QLatin1String("EVEN") || parity == QLatin1String("E"))
        s.parity = EvenParity;
    else
        return fail(error, QStringLiteral("unknown parity: %1").arg(fields[2].trimmed()));

    bool ok[3];
    s.baudRate = fields[1].trimmed().toInt(&ok[0]);
    s.dataBits = fields[3].trimmed().toInt(&ok[1]);
    s.stopBits = fields[4].trimmed().toInt(&ok[2]);
    const char *names[3] = {"baud rate", "data bits", "stop bits"};
    const int index[3] = {1, 3, 4};
    for (int i = 0; i < 3; ++i) {
        if (!ok[i]) {
            return fail(error,
                        QStringLiteral("invalid %1: %2").arg(QLatin1String(names[i]), fields[index[i]].trimmed()));
        }
    }
    if (!checkNumbers(s, error))
        return false;
    *settings = s;
    return true;
}

bool LineSettings::fromDeviceSetting(const DeviceSetting &record, Mode mode, LineSettings *settings, QString *error)
{
    LineSettings s;
    s.mode = mode;
    s.baudRate = record.baudrate;
    s.dataBits = record.databits;
    switch (record.parity) {
    case 0:
        s.parity = NoParity;
        break;
    case 1:
        s.parity = OddParity;
        break;
    case 2:
        s.parity = EvenParity;
        break;
    default:
        return fail(error, QStringLiteral("unsupported parity code: %1").arg(record.parity));
    }
    switch (record.stopbits) {
    case 0:
        s.stopBits = 1;
        break;
    case 2:
        s.stopBits = 2;
        break;
    default:
        return fail(error, QStringLiteral("unsupported stop bits code: %1").arg(record.stopbits));
    }
    if (!checkNumbers(s, error))
        return false;
    *settings = s;
    return true;
}

QString LineSettings::toString() const
{
    static const char *const modes[] = {"RS232", "RS422", "RS485"};
    static const char *const parities[] = {"NONE", "ODD", "EVEN"};
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(QLatin1String(modes[mode]))
        .arg(baudRate)
        .arg(QLatin1String(parities[parity]))
        .arg(dataBits)
        .arg(stopBits);
}

int LineSettings::characterBits() const
{
    return 1 + dataBits + (parity == NoParity ? 0 : 1) + stopBits;
}

qint64 LineSettings::characterTimeNs() const
{
    return qint64(characterBits()) * 1000000000 / (baudRate > 0 ? baudRate : 1);
}

qint64 LineSettings::silentIntervalNs() const
{
    if (baudRate > 19200)
        return 1750000;
    return characterTimeNs() * 7 / 2;
}
