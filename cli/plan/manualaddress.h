#ifndef SERVOCTL_MANUALADDRESS_H
#define SERVOCTL_MANUALADDRESS_H

#include <QString>

struct Address;

// Register numbers as drive manuals write them: counted from 0 (-0, as
// mbpoll's -0: HR0 is the first register, HR1 without it) or hexadecimal
// (HR0x10). servoctl turns them into its own numbering, counted from 1 in
// decimal, before the address reaches the driver, whose texts stay as they
// are (HR0 there means register 65535). Reference numbers as manuals print
// them name the table by their first digit and count from 1: 40001,
// 400001 and 4x0001 are HR1, 30001 IR1, 10001 DI1, 00001 DO1.
enum ManualForm { ZeroBased = 1, Hexadecimal = 2 };

// parseAddress() of text after that conversion: address->text is the
// driver's text, address->manualForm how it was given. False with a text
// saying what is wrong (the caller names the word).
bool parseManualAddress(const QString &text, bool zeroBased, Address *address, QString *error);

// A label (HR17, HR17.3, "HR17 low") in the numbering form gives: HR0x10.
QString manualLabel(const QString &label, int form);
// What the user sees of a label: "HR17 (0x10 zero-based)", "HR17 (0x11)",
// "HR17 (16 zero-based)"; the label alone when form is 0.
QString shownLabel(const QString &label, int form);

#endif // SERVOCTL_MANUALADDRESS_H
