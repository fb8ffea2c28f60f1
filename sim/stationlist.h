#ifndef STATIONLIST_H
#define STATIONLIST_H

#include <QList>
#include <QString>

// Station numbers as a user lists them: "5", "1,5,7", "1-10" or "1-3,7",
// each from min to max and each once, in the order given (a range upwards).
// False with a text naming the offending item. The one reading of a station
// list, for servoctl's stations and for the simulated drives' alike.
bool parseStationList(const QString &text, int min, int max, QList<int> *stations, QString *error);

// "1-3,7": the list written back in the short form parseStationList reads.
QString stationListText(const QList<int> &stations);

#endif // STATIONLIST_H
