#ifndef LINEDEBT_H
#define LINEDEBT_H

#include <QByteArray>
#include <QList>

// What a line still owes when its port closes, handed to the next program
// that opens it. A drive may answer a request of the last program after
// that program has gone (a shell loop of one-shot reads against a slow
// drive); the next program must hold back and drop that answer as it would
// its own late one, not take it for the answer to its own request.
//
// Times are on the monotonic clock of this boot; where it is kept is
// linedebtfile.h's business.
struct LineDebt
{
    struct Owed
    {
        QByteArray request; // the request frame as sent
        qint64 sentNs;
        qint64 holdUntilNs; // look-alike requests wait until then
        int carried;
    };
    qint64 quietUntilNs = 0; // an answer's rest may still come until then
    QList<Owed> owed;

    bool isEmpty() const { return quietUntilNs == 0 && owed.isEmpty(); }
};

// The debt as the text the next program reads: the line it is owed on
// (lineId) first, then what is owed. The text is read from a file anyone
// may have written: what does not parse, or names another line, is no debt.
QByteArray lineDebtText(const LineDebt &debt, const QByteArray &lineId);
LineDebt lineDebtFromText(const QByteArray &text, const QByteArray &lineId);

#endif // LINEDEBT_H
