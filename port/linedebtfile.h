#ifndef LINEDEBTFILE_H
#define LINEDEBTFILE_H

#include <QString>

#include "linedebt.h"

// A line's debt (linedebt.h) kept in a small file per device (by its device
// number) in lineDebtFolder(); only the holder of the line (claimLine)
// reads or writes it. A file from another boot, or from another device that
// had the same number (a pseudo-terminal's number comes back at once, an
// adapter plugged in again gets a new device node), is ignored: the node's
// change time tells them apart.

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

#endif // LINEDEBTFILE_H
