#include "engine/deletion.h"
// Implementation in progress.
