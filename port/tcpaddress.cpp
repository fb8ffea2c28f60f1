#include "tcpaddress.h"

namespace {

const char kScheme[] = "tcp://";
const char kModbusScheme[] = "modbus+tcp://";

// "HOST:PORT" or "[V6]:PORT" into its parts; false when either is missing
// or the port is not a number from minPort to 65535.
bool splitHostPort(const QString &text, int minPort, TcpAddress *address)
{
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return false;
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':'))) // an IPv6 address goes in brackets
            return false;
    }
    if (host.isEmpty() || host.contains(QLatin1Char('/')) || host.contains(QLatin1Char(' ')))
        return false;
    // Digits only: toInt() would take "+5" and " 5".
    if (port.isEmpty() || port.size() > 5)
        return false;
    for (const QChar c : port) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int number = port.toInt();
    if (number < minPort || number > 65535)
        return false;
    address->host = host;
    address->port = number;
    return true;
}

} // namespace

QString TcpAddress::url() const
{
    // Joined, not .arg()-chained: a host may hold a "%" (an IPv6 zone).
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QLatin1String(modbusTcp ? kModbusScheme : kScheme) + shown + QLatin1Char(':') + QString::number(port);
}

bool isModbusTcpUrl(const QString &device)
{
    return device.startsWith(QLatin1String(kModbusScheme), Qt::CaseInsensitive);
}

bool isTcpUrl(const QString &device)
{
    return device.startsWith(QLatin1String(kScheme), Qt::CaseInsensitive) || isModbusTcpUrl(device);
}

bool parseTcpUrl(const QString &text, TcpAddress *address, QString *error)
{
    if (isModbusTcpUrl(text)) {
        QString rest = text.mid(int(sizeof kModbusScheme) - 1);
        const bool portGiven = rest.startsWith(QLatin1Char('[')) ? !rest.endsWith(QLatin1Char(']'))
                                                                 : rest.contains(QLatin1Char(':'));
        if (!portGiven)
            rest += QLatin1Char(':') + QString::number(kModbusTcpPort);
        if (splitHostPort(rest, 1, address)) {
            address->modbusTcp = true;
            return true;
        }
        *error = QStringLiteral("invalid Modbus TCP address: %1 (modbus+tcp://HOST[:PORT], PORT 1 to 65535, "
                                "502 where none is given)")
                     .arg(text);
        return false;
    }
    if (isTcpUrl(text) && splitHostPort(text.mid(int(sizeof kScheme) - 1), 1, address)) {
        address->modbusTcp = false;
        return true;
    }
    *error = QStringLiteral("invalid TCP line: %1 (tcp://HOST:PORT, PORT 1 to 65535)").arg(text);
    return false;
}

bool parseListenAddress(const QString &text, TcpAddress *address, QString *error)
{
    const bool hasHost = text.contains(QLatin1Char(':'));
    const QString whole = hasHost ? text : QStringLiteral("127.0.0.1:") + text;
    if (splitHostPort(whole, 0, address))
        return true;
    *error = QStringLiteral("invalid --tcp: %1 ([HOST:]PORT, PORT 0 to 65535)").arg(text);
    return false;
}
