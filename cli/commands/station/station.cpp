// station LIST: the stations the commands after it address. It sends
// nothing; each later step carries the stations.
#include "commandwords.h"
#include "stationlist.h"

namespace {

bool parseStation(const Command &command, QList<int> *stations, QString *error)
{
    if (command.args.size() != 1) {
        *error = QStringLiteral("station takes one station number from 0 to %1, or a list: %2")
                     .arg(kLastStation)
                     .arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    return parseStationList(command.args[0], 0, kLastStation, stations, error);
}

bool buildStation(const Command &command, const Options &, Chain *chain, Step *step, QString *error)
{
    return parseStation(command, &chain->stations, error) && takeStations(command, *chain, true, step, error);
}

int runStation(Session &, const Step &)
{
    return 0;
}

} // namespace

extern const CommandEntry stationCommand = {
    "station",
    Step::Station,
    false,
    true,
    false,
    false,
    buildStation,
    runStation,
    "station LIST",
    "address these stations ({station}; several only\n"
    "for poll) in the commands that follow"};
