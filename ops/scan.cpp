#include "ops/scan.h"
