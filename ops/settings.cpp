#include "ops/settings.h"
