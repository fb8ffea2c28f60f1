#ifndef LOADEDVALUES_H
#define LOADEDVALUES_H

#include <QList>
#include <QString>

#include "simdrive.h"

class SimLine;

// servosim --load: the values of a servoctl backup (or a hand-written file
// of its shape) as the simulated drives' starting values, so that an
// integrator can rehearse against the parameters of their own drives. The
// file is read by servoctl's own parser (servoctl_plan), so that whatever
// servoctl restores, servosim loads alike.
struct LoadedValues
{
    struct Item
    {
        SimArea area;
        int address;   // on the wire: HR1 is 0
        quint16 mask;  // the bits this entry sets: a word, a register's bit, a coil
        quint16 value; // within mask
    };
    QString path;
    QList<int> stations; // the drives the values go into
    QList<Item> items;
    int entries = 0; // the file's entries (a dword is two items)
};

// Reads and checks the file whole against the line to be simulated. A
// file naming its station ("# station: N") goes into that drive, which
// must be among *stations when stationsGiven, and makes the line that
// drive alone when not; a file naming none goes into every drive. False
// with "PATH:LINE: ..." naming the offending word.
bool readLoadedValues(const QString &path, bool stationsGiven, const SimAreaSizes &sizes, QList<int> *stations,
                      LoadedValues *values, QString *error);

// Into the drives, through the model (so that a servo's ramp time is its own).
void applyLoadedValues(const LoadedValues &values, SimLine *line);

#endif // LOADEDVALUES_H
