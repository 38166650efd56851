// The window mode of rowsmith (-D). It is built into a module of its own that
// the program loads only for -D, so that converting needs no window library.
#pragma once

#include "rowsmith/startup.h"

namespace rowsmith {

// Shows the Rowsmith window on paths until the operator leaves it. Returns
// the exit status of the last conversion run from the window (0 when none
// ran), or kUsageExit when there is no display to open it on.
int run_dialog(int argc, char** argv, const Paths& paths);

}  // namespace rowsmith

// The module's entry point (see window_entry in startup.h), with plain C
// types so that it can be looked up by name.
extern "C" int rowsmith_window_main(int argc, char** argv, const char* workdir, const char* source,
                                    const char* target);
