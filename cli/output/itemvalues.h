#ifndef SERVOCTL_ITEMVALUES_H
#define SERVOCTL_ITEMVALUES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct Step;

// One item of a read as the user sees it.
struct ItemValue
{
    QString label;   // the item's own address: HR101, HR100.3, "HR100 low"
    quint64 raw = 0; // its bits as the driver returned them
    QString shown;   // in the step's format
};

// The items of the driver's answer to a read step; fewer than the step's
// count when the answer is too short to hold them all.
QList<ItemValue> itemValues(const Step &step, const QByteArray &data);

// "LABEL = VALUE" lines, and a last line saying what was missing, if any.
QStringList describeItems(const Step &step, const QByteArray &data);

#endif // SERVOCTL_ITEMVALUES_H
