#include "ops/report_dialogs.h"
