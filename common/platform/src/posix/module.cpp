#include "platform/module.h"

#include <dlfcn.h>

#include "platform/files.h"
#include "platform_shared.h"

#ifndef QL_MODULE_RELDIR
#define QL_MODULE_RELDIR "../lib/quaylink"
#endif

namespace platform {

std::vector<std::string> module_candidates(const std::string& module) {
    std::string here = shared::folder_of_executable();
    if (here.empty()) return {};
    std::string file = module + ".so";
    return {here + file, here + QL_MODULE_RELDIR + "/" + file};
}

void* module_function(const std::string& module, const char* name, std::string& error) {
    std::vector<std::string> files = module_candidates(module);
    if (files.empty()) {
        error = "the program's own folder is unknown";
        return nullptr;
    }
    error.clear();
    for (const std::string& file : files) {
        if (!path_exists(file)) {
            error += (error.empty() ? "" : "; ") + file + ": not found";
            continue;
        }
        void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        void* function = library ? ::dlsym(library, name) : nullptr;
        if (function) {
            error.clear();
            return function;
        }
        const char* why = ::dlerror();
        error += (error.empty() ? "" : "; ") + (why ? std::string(why) : file + ": no " + name);
    }
    return nullptr;
}

}  // namespace platform
