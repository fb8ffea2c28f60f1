#ifndef SERVOCTL_STEPCHECKS_H
#define SERVOCTL_STEPCHECKS_H

#include <QString>

#include "plan.h"

// The Modbus standard's quantity limits where the driver's go further (2008
// bits read, 1976 coils written): a drive that keeps to the standard answers
// more with exception 03. Registers: the driver's 125 and 123 are the
// standard's.
const int kStandardBitsPerRead = 2000;
const int kStandardCoilsPerWrite = 1968;

// A register's last bit; reads may name higher ones, which run on into the
// registers that follow.
const int kLastRegisterBit = 15;

bool isWrite(const Step &step);
// The registers (coils, inputs) a read or write step spans, first to last.
int firstUnit(const Step &step);
int lastUnit(const Step &step);
// Whether the step's span touches the numbers of the driver's store in HR
// and FN6HR, and whether the driver serves the step from the store.
bool reachesStore(const Step &step);
bool servedByStore(const Step &step);

// What is wrong with a read or write step as the driver would take it (its
// type, area, count, broadcast); empty when nothing is. The store's own
// rules are StoreModel's.
QString stepRefusal(const Step &step);

// What a step the driver takes asks beyond the standard's limits, said
// before it is sent; empty when it keeps within them.
QString pastStandardWarning(const Step &step);

#endif // SERVOCTL_STEPCHECKS_H
