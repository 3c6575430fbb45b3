#include "ops/panel_texts.h"
