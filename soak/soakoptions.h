#ifndef SOAKOPTIONS_H
#define SOAKOPTIONS_H

#include <QString>
#include <QStringList>

// The soak's command line.
struct SoakOptions
{
    qint64 commands = 100000;
    quint64 seed = 20261205;
    QString faults = QStringLiteral("drop=0.02,corrupt=0.02,truncate=0.02,station=0.02,"
                                    "exception=0.02,delay=0.02:15,late=0.02:250,"
                                    "unheard=0.02,twin=0.02,noise=0.02");
    int timeoutMs = 50;
    QString stations = QStringLiteral("1,2,3");
    int minRetries = 1;
    int maxRetries = 3;
    double unplugRate = 0.002; // per command
    int replugMs = 20;
    bool lookAlike = false;
    QString trace; // the frames of both ends and each command, for a look at one run
    // Heap growth allowed after the first tenth.
    qint64 maxGrowthKiB = 1024;
};

// False with the usage line in error.
bool parseSoakOptions(const QStringList &args, SoakOptions *o, QString *error);

#endif // SOAKOPTIONS_H
