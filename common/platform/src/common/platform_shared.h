// Pieces of the platform layer that are the same on every OS, for the
// OS-specific sources (not a public header).
#pragma once

#include <cstdint>
#include <string>

namespace platform::shared {

// How many fresh names create_temp_file tries before it gives up.
inline constexpr int kTempNameTries = 32;

// The temporary-file name for target with the given random tag: target's
// folder (either separator the OS takes), ".qltmp-", the tag as 16
// lowercase hexadecimal digits, "-", and target's own name cut to 120 bytes
// (so the whole name stays within 255).
std::string temp_file_name(const std::string& target, uint64_t tag);

// The folder of the running executable with its trailing separator; empty
// when the executable's path is unknown.
std::string folder_of_executable();

// Loads one module file (already known to exist) and looks up its exported
// function `name`. Returns the address, or null with why set to a readable
// reason that names the file. The OS's own loader call.
void* load_module_function(const std::string& file, const char* name, std::string& why);

}  // namespace platform::shared
