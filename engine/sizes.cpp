#include "engine/sizes.h"
// Implementation in progress.
