#ifndef SOAKVERIFY_H
#define SOAKVERIFY_H

#include "soakcommands.h"

// Checks a command that the driver reported good against the simulated
// drives (and the store model); on a mismatch says what differs. A good
// store write updates the model.
bool verifyGood(const SoakCommand &command, const QByteArray &result, const SimLine &line, StoreModel &store,
                QString *difference);

#endif // SOAKVERIFY_H
