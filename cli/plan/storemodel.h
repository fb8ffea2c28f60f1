#ifndef SERVOCTL_STOREMODEL_H
#define SERVOCTL_STOREMODEL_H

#include <QString>

struct Step;

// The driver's own store of eleven words, HR60000 to HR60010: entry 0 the
// station count, 1 to 8 the station list, 9 the read-back station, 10 the
// word broadcast to HR1300 of the listed stations.
const int kStoreFirst = 60000;
const int kStationCountEntry = 0;
const int kFirstListEntry = 1;
const int kListLength = 8;
const int kReadBackEntry = kFirstListEntry + kListLength;
const int kBroadcastEntry = kReadBackEntry + 1;
const int kStoreLast = kStoreFirst + kBroadcastEntry;
const int kBroadcastRegister = 1300;

// What the driver's special store holds as the chain goes on; servoctl makes
// its driver anew every run, so it starts all zero.
class StoreModel
{
public:
    // Empty when the step may go ahead with the store as it stands.
    QString refusal(const Step &step) const;
    // What an accepted step leaves in the store.
    void apply(const Step &step);

private:
    QString bitWriteRefusal(const Step &step) const;
    QString wordWriteRefusal(const Step &step) const;
    QString unlistedStationRefusal(const Step &step) const;
    QString readBackRefusal(const Step &step) const;

    quint16 m_entries[kBroadcastEntry] = {}; // 0 to 9; no check needs entry 10
};

#endif // SERVOCTL_STOREMODEL_H
