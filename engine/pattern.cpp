#include "engine/pattern.h"
// Implementation in progress.
