// The command line of termsim.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "platform/serial.h"
#include "platform/serial_descriptor.h"
#include "termsim.h"

namespace termsim {

namespace {

const char* const kUsage =
    "Usage: termsim [options] DEVICE [LINE...]\n"
    "       termsim [options] --fd N [LINE...]\n"
    "\n"
    "Plays a handheld terminal on the serial device DEVICE (or on the open\n"
    "descriptor N): each LINE is sent as one checked command frame and the\n"
    "server's reply is printed as lead byte, status, text and checksum check.\n"
    "Without LINEs and without -f, lines are read from standard input.\n"
    "\n"
    "A LINE is the text of a command frame, for example\n"
    "  DATETIME   RECV,A.TXT   COPY,A.TXT,B.TXT   FTP,OPEN,host,user,pass\n"
    "or an action:\n"
    "  :send LOCAL [REMOTE]  announce the file with SEND, answer ACK, send it\n"
    "  :recv REMOTE [LOCAL]  ask for the file with RECV, answer ACK, receive it\n"
    "  :raw HEX...           write these bytes as they stand (e.g. :raw 18)\n"
    "  :ack                  write one ACK byte\n"
    "  :sleep MS             pause\n"
    "  :expect TEXT          the last reply's status and text must be TEXT\n"
    "Blank lines and lines beginning with # are skipped.\n"
    "\n"
    "Options:\n"
    "  -b BAUD     line speed (default 57600)\n"
    "  -f FILE     read lines from FILE ('-' for standard input)\n"
    "  -t MS       wait up to MS milliseconds for each reply (default 30000)\n"
    "  -a MS       pause after the ACK before a transfer starts (default 300;\n"
    "              longer than the server's inter-character delay)\n"
    "  -x          stop at the first line that fails\n"
    "  -v          print the transfer log on standard error\n"
    "  --fd N      use the already open descriptor N instead of a device\n"
    "  -h, --help  show this text\n"
    "  --version   show the suite's version\n"
    "\n"
    "Output: '> ' the frame sent, '< ' the reply, '= ' a transfer's result,\n"
    "'! ' a failure. Exit status: 0 when every line succeeded, 1 when one\n"
    "failed (no reply, refused or failed transfer, unmet :expect), 2 on a\n"
    "usage or device error.\n";

// Shows the log lines of the transfers on standard error (-v).
class StderrView final : public ql::OperatorView {
  public:
    void set_text(int, const std::string&) override {}
    void set_enabled(int, bool) override {}
    void status_list_append(const std::string& line, bool) override {
        std::cerr << line << std::endl;
    }
    void status_list_clear() override {}
    int message_box(const std::string& text, const std::string&, ql::Buttons, ql::Icon) override {
        std::cerr << text << std::endl;
        return ql::answer::kOk;
    }
    void post_command(int) override {}
    int bar_width_chars() override { return 40; }
};

struct Args {
    int baud = 57600;
    std::string script;
    Options options;
    bool stop_on_failure = false;
    bool verbose = false;
    int fd = -1;
    std::string device;
    std::vector<std::string> lines;
};

// 0 parsed, 1 help or version shown, 2 usage error.
int parse(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 1;
        } else if (arg == "--version") {
            std::cout << "termsim (quaylink suite) " << QL_SUITE_VERSION << "\n";
            return 1;
        } else if (arg == "-b" && has_value) {
            a.baud = std::atoi(argv[++i]);
        } else if (arg == "-f" && has_value) {
            a.script = argv[++i];
        } else if (arg == "-t" && has_value) {
            a.options.reply_wait_ms = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "-a" && has_value) {
            a.options.ack_pause_ms = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--fd" && has_value) {
            a.fd = std::atoi(argv[++i]);
        } else if (arg == "-x") {
            a.stop_on_failure = true;
        } else if (arg == "-v") {
            a.verbose = true;
        } else if (a.fd < 0 && a.device.empty() && arg.size() > 0 && arg[0] != '-') {
            a.device = arg;
        } else if (a.fd >= 0 || !a.device.empty()) {
            a.lines.push_back(arg);
        } else {
            std::cerr << "termsim: unknown option " << arg << "\n" << kUsage;
            return 2;
        }
    }
    if (a.fd < 0 && a.device.empty()) {
        std::cerr << "termsim: no device given\n" << kUsage;
        return 2;
    }
    return 0;
}

ql::Port* open_line(const Args& a) {
    std::unique_ptr<platform::SerialDevice> device;
    if (a.fd >= 0) {
        int err = platform::serial_from_descriptor(a.fd, true, device);
        if (err == ENOTSUP) {
            std::cerr << "termsim: --fd: not supported on this system\n";
            return nullptr;
        }
        if (err != 0) {
            std::cerr << "termsim: descriptor " << a.fd << ": " << std::strerror(err) << "\n";
            return nullptr;
        }
    } else {
        int err = platform::serial_open(a.device, device);
        if (err != 0) {
            std::cerr << "termsim: cannot open " << a.device << ": " << std::strerror(err) << "\n";
            return nullptr;
        }
    }
    platform::SerialConfig config;
    device->read_config(&config);
    config.baud = a.baud;
    if (device->configure(config) != 0) {
        std::cerr << "termsim: cannot set the line to " << a.baud << " baud\n";
        return nullptr;
    }
    return ql::port_from_device(std::move(device));
}

// Runs lines from a stream; false when one failed.
bool run_stream(Terminal& t, std::istream& in, bool stop_on_failure) {
    bool ok = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!t.run(line)) {
            ok = false;
            if (stop_on_failure) break;
        }
    }
    return ok;
}

}  // namespace

int termsim_main(int argc, char** argv) {
    Args a;
    int parsed = parse(argc, argv, a);
    if (parsed != 0) return parsed == 1 ? 0 : 2;
    StderrView view;
    if (a.verbose) ql::set_operator_view(&view);
    ql::Port* port = open_line(a);
    if (port == nullptr) return 2;
    Terminal t(port, std::cout, a.options);
    bool ok = true;
    if (!a.script.empty()) {
        if (a.script == "-") {
            ok = run_stream(t, std::cin, a.stop_on_failure);
        } else {
            std::ifstream in(a.script);
            if (!in) {
                std::cerr << "termsim: cannot read " << a.script << "\n";
                ql::port_close(port);
                return 2;
            }
            ok = run_stream(t, in, a.stop_on_failure);
        }
    }
    for (const std::string& line : a.lines) {
        if (!ok && a.stop_on_failure) break;
        if (!t.run(line)) ok = false;
    }
    if (a.script.empty() && a.lines.empty()) ok = run_stream(t, std::cin, a.stop_on_failure);
    ql::port_close(port);
    if (a.verbose) ql::set_operator_view(nullptr);
    return ok ? 0 : 1;
}

}  // namespace termsim
