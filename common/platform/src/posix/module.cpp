#include "platform/module.h"

#include <dlfcn.h>

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

void* shared::load_module_function(const std::string& file, const char* name, std::string& why) {
    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* function = library ? ::dlsym(library, name) : nullptr;
    if (function == nullptr) {
        const char* reason = ::dlerror();
        why = reason ? std::string(reason) : file + ": no " + name;
    }
    return function;
}

}  // namespace platform
