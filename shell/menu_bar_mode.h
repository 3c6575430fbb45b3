#pragma once
// The tray application: creates the GUI application object and runs its event loop.

namespace sweepkin {

struct ProcessValues;

// Returns the process exit status.
int runMenuBarMode(int argc, char** argv, const ProcessValues& values);

}  // namespace sweepkin
