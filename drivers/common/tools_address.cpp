#include "tools.h"

#include "communicatorcommand.h"
#include "tools_p.h"

using ToolsPrivate::byteCount;
using ToolsPrivate::isDigit;
using ToolsPrivate::padded;

// ---- Fitting command data to its length ---------------------------------------

QByteArray To16bitsData(const QByteArray &a)
{
    return padded(a, 2);
}

QByteArray To32bitsData(const QByteArray &a)
{
    return padded(a, 4);
}

QByteArray To64bitsData(const QByteArray &a)
{
    return padded(a, 8);
}

int GetSafeDataLen(const CommunicatorCommand &cmd)
{
    const int count = cmd.count;
    if (count < 0)
        return 0;
    switch (cmd.dataType) {
    case CommunicatorCommand::Bit:
    case CommunicatorCommand::Bit2:
        return count / 8 + (count % 8 != 0 ? 1 : 0);
    case CommunicatorCommand::Byte:
    case CommunicatorCommand::Block:
        return count;
    case CommunicatorCommand::Word:
        return qMax(byteCount(count, 2), 0);
    case CommunicatorCommand::DoubleWord:
        return qMax(byteCount(count, 4), 0);
    case CommunicatorCommand::QuadWord:
        return qMax(byteCount(count, 8), 0);
    default:
        return 0;
    }
}

QByteArray ToSafeData(const CommunicatorCommand &cmd, const QByteArray &data)
{
    const int length = GetSafeDataLen(cmd);
    if (data.size() == length)
        return data;
    QByteArray out = data.left(length);
    out.append(QByteArray(length - out.size(), '\0'));
    return out;
}

// ---- PLC address and command helpers --------------------------------------------

bool isBitCommand(const CommunicatorCommand &cmd)
{
    return cmd.dataType == CommunicatorCommand::Bit;
}
bool isByteCommand(const CommunicatorCommand &cmd)
{
    return cmd.dataType == CommunicatorCommand::Byte;
}
bool isWordCommand(const CommunicatorCommand &cmd)
{
    return cmd.dataType == CommunicatorCommand::Word;
}
bool isDoubleWordCommand(const CommunicatorCommand &cmd)
{
    return cmd.dataType == CommunicatorCommand::DoubleWord;
}
bool isBlockCommand(const CommunicatorCommand &cmd)
{
    return cmd.dataType == CommunicatorCommand::Block;
}

bool getBitData(const QByteArray &data)
{
    return !data.isEmpty() && (data.at(0) & 1) != 0;
}

QByteArray ExtractPrefixSymbol(const QByteArray &address)
{
    int i = 0;
    for (; i < address.size(); ++i) {
        const char c = address.at(i);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'))
            break;
    }
    return address.left(i);
}

QByteArray ExtractPrefixSymbol(const QString &address)
{
    return ExtractPrefixSymbol(address.toLatin1());
}

int ExtractPLCDeviceAddress(const QByteArray &address, int base)
{
    if (base != 8 && base != 10 && base != 16)
        return -1;
    const auto isBaseDigit = [base](char c) {
        if (base == 16)
            return isDigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        return c >= '0' && c < '0' + base;
    };
    int i = 0;
    while (i < address.size() && !isBaseDigit(address.at(i)))
        ++i;
    return address.mid(i).toInt(nullptr, base);
}

int ExtractPLCDeviceAddress(const QString &address, int base)
{
    return ExtractPLCDeviceAddress(address.toLatin1(), base);
}

void appendBigEndianUShort(QByteArray &a, unsigned short v)
{
    a.append(char(v >> 8));
    a.append(char(v & 0xFF));
}
