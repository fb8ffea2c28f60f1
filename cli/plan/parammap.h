#ifndef SERVOCTL_PARAMMAP_H
#define SERVOCTL_PARAMMAP_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "address.h"

struct DataType;

// One parameter of a map or of a backup: a line ADDRESS TYPE [VALUE] [NAME
// [UNIT]] [# comment], the value in backups only. The unit is read by plot
// (its axes); backup carries it into the backup, restore ignores it.
struct ParamEntry
{
    Address address;
    const DataType *type = nullptr;
    QString name;
    QString unit; // "rpm", "counts"; empty when none
    QString comment;
    int line = 0;          // in its file
    quint64 value = 0;     // a backup's saved value
    QByteArray data;       // the same, as the driver takes it for a write
    bool isSigned = false; // int16 or int32: values shown and saved with their sign

    // "HR100 speed_limit", or the address alone when it has no name.
    QString label() const;
    // word, dword, bit, or int16 and int32 for signed ones.
    QString typeName() const;
    // A value of the entry as a backup saves it: signed for int16 and int32.
    QString valueText(quint64 value) const;
};

struct ParamFile
{
    QList<ParamEntry> entries;
    int station = -1;    // a backup header's "# station: N"; -1 when none
    int stationLine = 0; // the line that names it, for a text that points there
    QString line;        // a servoctl backup header's "# line: ..."; empty when none
};

// What a servoctl backup's "# line:" names for the built-in simulated line.
extern const char kSimulatedLineText[];

// Signals: a map that only names what a log holds, for plot: any address
// and type servoctl reads, read-only areas too; only a repeated address is
// refused.
enum class ParamFileKind { Map, Backup, Signals };

// Reads and checks a whole map or backup: entries restore can write back
// and read again (HR, FN6HR, DO, FN5DO; word, dword or bit), none overlapping
// another. A backup that begins as servoctl writes one has its header read
// strictly: every line up to the one naming the entries' shape is a known
// "# KEY: VALUE", so nothing in a header can pass for a value. False with
// "PATH:LINE: ..." naming the offending word.
bool readParamFile(const QString &path, ParamFileKind kind, ParamFile *file, QString *error);
bool parseParamText(const QString &text, const QString &path, ParamFileKind kind, ParamFile *file, QString *error);

// "ADDRESS TYPE [VALUE] [NAME] [# comment]": a line of each kind, for the texts.
QString paramLineShape(ParamFileKind kind);
// The last line of a backup's header.
QString backupHeaderEnd();

// A backup's entry line: ADDRESS TYPE VALUE [NAME] [# comment], the value
// in decimal, signed for int16 and int32 (restore takes either form of the
// same bits, so older backups of 64036 for -1500 restore alike).
QString backupLine(const ParamEntry &entry, quint64 value);

#endif // SERVOCTL_PARAMMAP_H
