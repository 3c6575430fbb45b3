#pragma once
// The conventional answers to --help and --version.

#include <cstdio>

namespace sweepkin {

struct ProcessValues;

// How to start Sweepkin, its two command-line modes and the files it writes.
void printUsage(std::FILE* out, const ProcessValues& values);

// "Sweepkin " and the version.
void printVersion(std::FILE* out, const ProcessValues& values);

}  // namespace sweepkin
