// POSIX side of platform/service.h: there is no service manager to talk to
// from inside the program. The systemd template unit quaylink@NAME runs the
// console server of one line instead.
#include "platform/service.h"

#include <cerrno>

namespace platform {

namespace {

int not_here(std::string& error) {
    error =
        "Services are a Windows feature; on Linux run one systemd instance per line: "
        "systemctl enable --now quaylink@NAME (see docs/service.md)";
    return ENOTSUP;
}

}  // namespace

int service_install(const ServiceSetup&, std::string& error) {
    return not_here(error);
}

int service_remove(const std::string&, std::string& error) {
    return not_here(error);
}

std::string shared_data_directory() {
    return {};
}

int service_run(const std::string&, const std::string&, const std::function<int()>&,
                std::string& error) {
    return not_here(error);
}

bool service_stop_requested() {
    return false;
}

bool service_wait_for_stop(int) {
    return false;
}

void service_report(const std::string&, bool) {}

}  // namespace platform
