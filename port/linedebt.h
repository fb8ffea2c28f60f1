#ifndef LINEDEBT_H
#define LINEDEBT_H

#include <QByteArray>
#include <QList>
#include <QString>

// What a line still owes when its port closes, handed to the next program
// that opens it. A drive may answer a request of the last program after
// that program has gone (a shell loop of one-shot reads against a slow
// drive); the next program must hold back and drop that answer as it would
// its own late one, not take it for the answer to its own request.
//
// Kept in a small file per device (by its device number) in
// lineDebtFolder(); only the holder of the line (claimLine) reads or writes
// it. Times are on the monotonic clock of this boot. A file from another
// boot, or from another device that had the same number (a
// pseudo-terminal's number comes back at once, an adapter plugged in again
// gets a new device node), is ignored: the node's change time tells them
// apart.
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

// The folder the debts are kept in: /run/lock, or the temporary folder
// where that cannot be written. Both are open to every user: the files are
// handled as sharedfile.h says, and what is left alone is said in *warning
// (empty otherwise).
QString lineDebtFolder();

// Writes the debt for the next program (readable by every user, writable
// by us only), or removes our file when there is none. Other failures are
// silent: the debt is a courtesy to the next program.
void leaveLineDebt(int fd, const LineDebt &debt, const QString &folder, QString *warning);
// Reads what the last program left, whoever that was, and removes it if
// it is ours. The port bounds the times it takes from it.
LineDebt takeLineDebt(int fd, const QString &folder, QString *warning);

#endif // LINEDEBT_H
