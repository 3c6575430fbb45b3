#include "ops/activity_log.h"
