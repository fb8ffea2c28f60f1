#ifndef SOAKCOMMANDS_H
#define SOAKCOMMANDS_H

#include <random>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include "communicatorcommand.h"
#include "simdrive.h"

class SimLine;

// The kinds of command the soak sends: every read and write the driver
// serves, the special words and the broadcast included.
enum class SoakKind {
    ReadWords,
    ReadInputWords,
    ReadDWords,
    ReadBytes,
    ReadCoils,
    ReadInputs,
    ReadRegisterBits,
    ReadStore,
    ReadBroadcastWord,
    WriteWords,
    WriteWordsFn6,
    WriteDWords,
    WriteBytes,
    WriteRegisterBit,
    WriteRegisterBitFn6,
    WriteCoils,
    WriteCoilsFn5,
    WriteStore,
    WriteBroadcastWord,
    WriteBroadcastWordFn6,
    WriteBroadcastBit,
    Count
};

const char *soakKindName(SoakKind kind);

// Entries 0 to 9 of the driver's special word store as the soak set them:
// the station count, the list and the read-back station.
struct StoreModel
{
    quint16 entries[10] = {};
    QList<int> broadcastStations() const;
};

struct SoakCommand
{
    SoakKind kind = SoakKind::ReadWords;
    bool write = false;
    int station = 1; // the port's station number for this command
    CommunicatorCommand cmd;
    QByteArray data;
    // Drive registers or bits the command touches, read before it runs, so
    // that a bit write can be checked against what the other bits were.
    QVector<quint16> before;
};

// Draws commands from a seeded generator over the given stations.
class SoakCommandMix
{
public:
    SoakCommandMix(const QList<int> &stations, quint64 seed);

    // The store's first contents: every station in the list, read back from
    // the second. Written once before the soak starts.
    SoakCommand setUpStore() const;
    SoakCommand next(const SimLine &line);
    // A two-word read of input registers at one of four places of the first
    // station: answers that look alike, which no master can tell apart.
    SoakCommand nextLookAlike();

private:
    // What next() draws besides the kind, the station and the data.
    struct CommandShape
    {
        int type = CommunicatorCommand::Word;
        int count = 1;
        QString text;
    };

    int randomInt(int low, int high);
    QByteArray randomBytes(int n);
    // The first number of an ordinary command covering span registers or bits.
    int randomAddress(int span);
    CommandShape readShape(SoakKind kind);
    CommandShape registerWriteShape(SoakCommand &c);
    CommandShape bitWriteShape(const SimLine &line, SoakCommand &c);
    CommandShape storeWriteShape(const SimLine &line, SoakCommand &c);

    QList<int> m_stations;
    std::mt19937_64 m_random;
};

#endif // SOAKCOMMANDS_H
