#ifndef SOAK_DRIVERTEXTS_H
#define SOAK_DRIVERTEXTS_H

// The failure texts the driver may leave after a command: one transaction or
// dispatch text, then (for data types 0 to 3) the command's description.
// Shared by the fuzz targets and the soak, which both insist that every
// failure carries one of these and nothing else; and the size of what a
// read that succeeds returns.

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "communicatorcommand.h"
#include "teco_servo_texts.h"

namespace drivertexts {

// The description the dispatch appends, or a null string for the data types
// that get none.
inline QString description(const CommunicatorCommand &cmd, int station, bool write)
{
    const unsigned int type = static_cast<unsigned int>(cmd.dataType);
    if (type > 3)
        return QString();
    const char *format = write ? TecoServoText::WriteDescription[type] : TecoServoText::ReadDescription[type];
    return QString::asprintf(format, cmd.count, station & 0xFF) + cmd.address + QLatin1Char(')');
}

// A printf format of the driver's as a pattern its texts match: names (an
// area, which an F-prefixed address makes any characters) and numbers.
inline QString formatPattern(const char *format)
{
    static const struct
    {
        const char *conversion;
        const char *pattern;
    } kConversions[] = {{"%d", "-?\\d+"}, {"%u", "\\d+"}, {"%s", ".*"}, {"%02X", "[0-9A-F]{2}"}};
    QString pattern;
    QString text = QString::fromLatin1(format);
    while (!text.isEmpty()) {
        bool converted = false;
        for (const auto &c : kConversions) {
            if (text.startsWith(QLatin1String(c.conversion))) {
                pattern += QLatin1String(c.pattern);
                text.remove(0, int(qstrlen(c.conversion)));
                converted = true;
                break;
            }
        }
        if (!converted) {
            pattern += QRegularExpression::escape(text.left(1));
            text.remove(0, 1);
        }
    }
    return pattern;
}

// A transaction's or dispatch's own text, without the description.
inline bool isFailureText(const QString &text, const CommunicatorCommand &cmd)
{
    using namespace TecoServoText;
    static const QRegularExpression patterns = [] {
        QStringList alternatives;
        for (const char *format :
             {NoResponse, ShortAnswer, OtherStation, Exception, CrcError, PacketLoss, InvalidResponse,
              ReadWordRange, ReadDWordRange, ReadByteRange, ReadBitRange, WriteWordRange, WriteDWordRange,
              WriteByteRange, WriteBitInStore, WriteCoilRange})
            alternatives << formatPattern(format);
        return QRegularExpression(QStringLiteral("^(%1)$").arg(alternatives.join(QLatin1Char('|'))),
                                  QRegularExpression::DotMatchesEverythingOption);
    }();
    if (patterns.match(text).hasMatch())
        return true;
    // The texts the command's own address follows.
    for (const char *prefix : {ReadNoBit, WriteNoBit, WriteNoByte, WriteNoWord, WriteNoDWord}) {
        if (text == QLatin1String(prefix) + cmd.address)
            return true;
    }
    const QRegularExpression counted(QStringLiteral("^") + formatPattern(ReadBitCount)
                                     + QRegularExpression::escape(cmd.address) + QLatin1Char('$'));
    return counted.match(text).hasMatch();
}

inline bool isUnsupportedType(int dataType)
{
    const unsigned int type = static_cast<unsigned int>(dataType);
    return type == CommunicatorCommand::QuadWord || type > CommunicatorCommand::Bit2;
}

// True when lastError is what a failed read or write of cmd may leave:
// station is the port's station number when the command ended.
inline bool isDefinedFailure(const QString &lastError, const CommunicatorCommand &cmd, int station, bool write)
{
    if (isUnsupportedType(cmd.dataType))
        return lastError == QLatin1String(TecoServoText::UnsupportedType) + cmd.address;
    const QString tail = description(cmd, station, write);
    if (tail.isNull())
        return isFailureText(lastError, cmd);
    return lastError.endsWith(tail) && isFailureText(lastError.chopped(tail.size()), cmd);
}

// What a successful read returns: the packed bits, bytes, words or double
// words the command asked for.
inline qint64 expectedReadSize(const CommunicatorCommand &cmd)
{
    const qint64 count = cmd.count;
    switch (cmd.dataType) {
    case CommunicatorCommand::Bit:
    case CommunicatorCommand::Bit2:
        return count / 8 + (count % 8 ? 1 : 0);
    case CommunicatorCommand::Byte:
    case CommunicatorCommand::Block:
        return count;
    case CommunicatorCommand::Word:
        return 2 * count;
    default:
        return 4 * count;
    }
}

} // namespace drivertexts

#endif // SOAK_DRIVERTEXTS_H
