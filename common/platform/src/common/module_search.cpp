// The search for a module's function over its candidate files: the same on
// every OS; only the loader call (shared::load_module_function) differs.
#include "platform/files.h"
#include "platform/module.h"
#include "platform_shared.h"

namespace platform {

void* module_function(const std::string& module, const char* name, std::string& error) {
    std::vector<std::string> files = module_candidates(module);
    if (files.empty()) {
        error = "the program's own folder is unknown";
        return nullptr;
    }
    error.clear();
    for (const std::string& file : files) {
        std::string why;
        void* function = nullptr;
        if (!path_exists(file)) {
            why = file + ": not found";
        } else {
            function = shared::load_module_function(file, name, why);
        }
        if (function != nullptr) {
            error.clear();
            return function;
        }
        error += (error.empty() ? "" : "; ") + why;
    }
    return nullptr;
}

}  // namespace platform
