#include "engine/safety_guard.h"
// Implementation in progress.
