// The window mode of rowsmith (-D), kept apart so that the conversion and the
// program's start-up need no window library.
#pragma once

#include "rowsmith/startup.h"

namespace rowsmith {

// Shows the Rowsmith window on paths until the operator leaves it. Returns
// the exit status of the last conversion run from the window (0 when none
// ran), or kUsageExit when no display can be opened.
int run_dialog(int argc, char** argv, const Paths& paths);

}  // namespace rowsmith
