#include "engine/running_apps.h"
// Implementation in progress.
