#include "ops/cleanup_report.h"
// Implementation in progress.
