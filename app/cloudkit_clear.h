#pragma once
// The immediate, unconfirmed clear behind "--clear-cloudkit-now".

#include <cstdio>

namespace sweepkin {

struct ProcessValues;

// Removes the CloudKit cache folder through the guarded deletion, prints its progress to `out`
// and writes the cleanup report. Writes no log line and no setting.
void clearCloudKitNow(std::FILE* out, const ProcessValues& values);

}  // namespace sweepkin
