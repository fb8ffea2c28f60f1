#ifndef SERVOCTL_FETCHPLAN_H
#define SERVOCTL_FETCHPLAN_H

#include <vector>

#include <QByteArray>
#include <QList>

#include "plan.h"

// One read the driver is asked for in a poll cycle, and the polled items
// its answer holds.
struct Fetch
{
    Step read;        // the driver's command: an item's own, or a word (bit) run
    QList<int> items; // indexes into the poll's items
    bool merged() const { return items.size() > 1; }
};

// The fewest reads within the per-read limits (125 registers, the Modbus
// standard's 2000 bits) that fetch every item of one station: items of one
// function whose registers (coils, inputs) lie within one read's reach share
// a read, gaps included. An item alone keeps its own read, exactly as typed;
// words of the driver's own store are never merged (they are not the drive's
// registers).
QList<Fetch> planFetches(const std::vector<Step> &items);

// The fetch split into one read per item: for a drive that refuses a
// merged read (a gap register it does not have).
QList<Fetch> splitFetch(const Fetch &fetch, const std::vector<Step> &items);

// The bytes the driver returns for the item's own read, cut out of the
// merged read's answer; empty when the answer is too short to hold them.
QByteArray itemData(const Fetch &fetch, const Step &item, const QByteArray &fetched);

#endif // SERVOCTL_FETCHPLAN_H
