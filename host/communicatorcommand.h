#ifndef COMMUNICATORCOMMAND_H
#define COMMUNICATORCOMMAND_H

#include <QString>

// One command of the runtime's polling schedule, as a driver sees it.
struct CommunicatorCommand
{
    enum DataType { Bit = 0, Byte = 1, Word = 2, DoubleWord = 3, QuadWord = 4, Block = 5, Bit2 = 6 };

    CommunicatorCommand() = default;
    CommunicatorCommand(int type, int itemCount, const QString &addressText)
        : dataType(type), count(itemCount), address(addressText)
    {
    }

    int dataType = Word;
    int count = 0;
    QString address;
};

#endif // COMMUNICATORCOMMAND_H
