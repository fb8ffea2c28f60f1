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

namespace drivertexts {

// The description the dispatch appends, or a null string for the data types
// that get none.
inline QString description(const CommunicatorCommand &cmd, int station, bool write)
{
    static const char *const readFormats[] = {
        " (read %d bit(s) from %d-", " (read %d byte(s) from %d-",
        " (read %d word(s) from %d-", " (read %d dword(s) from %d-"};
    static const char *const writeFormats[] = {
        " (write %d bit to %d-", " (write %d byte to %d-",
        " (write %d word to %d-", " (write %d dword to %d-"};
    const unsigned int type = static_cast<unsigned int>(cmd.dataType);
    if (type > 3)
        return QString();
    return QString::asprintf(write ? writeFormats[type] : readFormats[type], cmd.count,
                             station & 0xFF)
        + cmd.address + QLatin1Char(')');
}

// A transaction's or dispatch's own text, without the description.
inline bool isFailureText(const QString &text, const CommunicatorCommand &cmd)
{
    static const QStringList fixed = {
        QStringLiteral("PLC no response"), QStringLiteral("received bytes < 5"),
        QStringLiteral("invalid response"), QStringLiteral("CRC error"),
        QStringLiteral("packet loss")};
    // Range texts print the parsed area (any characters for an F-prefixed
    // address) and a number.
    static const QRegularExpression patterns(QStringLiteral(
        "^(invalid slave id:-?\\d+"
        "|exception code:0x[0-9A-F]{2}"
        "|can't read any (word|double word|byte) from .*\\d+"
        "|can't read -?\\d+ bits from .*\\d+"
        "|can't write any (word|double word|byte|bit) to HR\\d+"
        "|can't write \\d+ bits to DO\\d+)$"),
        QRegularExpression::DotMatchesEverythingOption);
    if (fixed.contains(text) || patterns.match(text).hasMatch())
        return true;
    for (const char *kind : {"bit", "byte", "word", "double word"}) {
        if (text == QStringLiteral("can't write any %1 to ").arg(QLatin1String(kind)) + cmd.address)
            return true;
    }
    return false;
}

inline bool isUnsupportedType(int dataType)
{
    const unsigned int type = static_cast<unsigned int>(dataType);
    return type == CommunicatorCommand::QuadWord || type > CommunicatorCommand::Bit2;
}

// True when lastError is what a failed read or write of cmd may leave:
// station is the port's station number when the command ended.
inline bool isDefinedFailure(const QString &lastError, const CommunicatorCommand &cmd,
                             int station, bool write)
{
    if (isUnsupportedType(cmd.dataType))
        return lastError == QStringLiteral("unsupported data type: ") + cmd.address;
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
