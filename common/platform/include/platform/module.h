// Loadable modules (parts of a program kept out of it so that the program
// itself does not need their libraries), OS-neutral.
//
// A module is found by its base name ("quaylink_window") in two places, in
// this order:
//  1. the folder of the running executable (the build tree keeps programs
//     and modules side by side);
//  2. the private module folder of an installed copy, given relative to the
//     executable's folder when the program is built (QL_MODULE_RELDIR, for
//     example "../lib/x86_64-linux-gnu/quaylink" beside "bin").
// The file name is the base name plus the platform's suffix (".so" on
// POSIX, ".dll" on Windows; there the module's own folder is where its
// dependencies are looked for first). Nothing else is searched: no library path, no
// current directory, so a module can never be picked up from the data
// folders a terminal writes to.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The files module_function tries for base name `module`, in order.
std::vector<std::string> module_candidates(const std::string& module);

// Loads the module (once; later calls reuse it) and returns the address of
// its exported C function `name`. Blocks only while the loader maps the
// file and runs the module's constructors. Returns null and sets error to a
// readable reason (every path tried and why it failed) when no candidate
// file can be loaded or the function is missing. The module stays loaded
// until the process ends.
void* module_function(const std::string& module, const char* name, std::string& error);

}  // namespace platform
