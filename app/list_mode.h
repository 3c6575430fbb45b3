#pragma once
// The listings for scripts behind "--list" and "--history": what the panel would show now, with
// the exact items a clean of each row removes, and the kept history. Like the self-test they
// delete and write nothing: no setting, no log line, no history record.

#include <cstdio>

namespace sweepkin {

struct ProcessValues;

// "--list": the rows the panel would show (name, size, ticked, running) as a table; with `json`
// every catalogue row found, with its id, bytes, tick, whether it runs and its items' paths.
void printListing(std::FILE* out, bool json, const ProcessValues& values);

// "--history": the kept records, oldest first, as lines or (`json`) one document. A store that
// cannot be read is said on standard error and lists as empty.
void printHistory(std::FILE* out, bool json, const ProcessValues& values);

}  // namespace sweepkin
