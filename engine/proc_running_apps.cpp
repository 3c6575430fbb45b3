#include "engine/proc_running_apps.h"
// Implementation in progress.
