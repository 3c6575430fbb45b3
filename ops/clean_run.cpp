#include "ops/clean_run.h"
