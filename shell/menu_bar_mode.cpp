#include "shell/menu_bar_mode.h"

#include <cstdio>

namespace sweepkin {

int runMenuBarMode(int, char**) {
    std::fputs("Sweepkin: menu-bar mode is not part of this build; use --selftest or --clear-cloudkit-now.\n",
               stderr);
    return 1;
}

}  // namespace sweepkin
