// The terminal simulator.
#include "termsim.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "terminal/frame.h"
#include "terminal/xmodem.h"

namespace termsim {

namespace {

std::string lead_name(uint8_t b) {
    switch (b) {
        case ql::line::kStx:
            return "STX";
        case ql::line::kAck:
            return "ACK";
        case ql::line::kNak:
            return "NAK";
        case ql::line::kCan:
            return "CAN";
        default: {
            char buf[8];
            std::snprintf(buf, sizeof buf, "0x%02X", b);
            return buf;
        }
    }
}

// Shows control bytes of a reply text as <XX>.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            out += buf;
        }
    }
    return out;
}

std::vector<std::string> words_of(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

std::string leaf_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string command_frame(const std::string& text) {
    std::string frame(1, static_cast<char>(ql::line::kStx));
    frame += text;
    frame += static_cast<char>(ql::checksum8(text.data(), static_cast<int>(text.size())));
    return frame;
}

Reply decode_reply(const std::string& bytes) {
    Reply r;
    r.raw = bytes;
    if (bytes.empty()) return r;
    r.present = true;
    r.lead = static_cast<uint8_t>(bytes[0]);
    if (bytes.size() == 1) {
        r.checksum_ok = true;
        return r;
    }
    r.status = bytes[1];
    if (bytes.size() >= 3) r.text = bytes.substr(2, bytes.size() - 3);
    int body = static_cast<int>(bytes.size()) - 2;  // status and text
    uint8_t sum = ql::checksum8(bytes.data() + 1, body);
    r.checksum_ok = bytes.size() >= 3 && sum == static_cast<uint8_t>(bytes.back());
    return r;
}

std::string describe(const Reply& reply) {
    if (!reply.present) return "(no reply)";
    std::string s = lead_name(reply.lead);
    if (reply.raw.size() == 1) return s;
    s += " ";
    s += reply.status;
    if (!reply.text.empty()) {
        s += ' ';
        s += printable(reply.text);
    }
    s += reply.checksum_ok ? " (checksum ok)" : " (CHECKSUM WRONG)";
    return s;
}

Terminal::Terminal(ql::Port* port, std::ostream& out, Options options)
    : port_(port), out_(out), options_(options) {}

Reply Terminal::exchange(const std::string& bytes) {
    ql::port_write(port_, bytes.data(), static_cast<int>(bytes.size()));
    char buf[ql::kFrameMax + 1];
    int n = ql::port_read(port_, buf, ql::kFrameMax, options_.reply_wait_ms, ql::kNoBlockHint);
    last_ = decode_reply(std::string(buf, static_cast<size_t>(n > 0 ? n : 0)));
    out_ << "< " << describe(last_) << std::endl;
    return last_;
}

bool Terminal::send_file(const std::string& local, const std::string& remote) {
    int64_t size = platform::file_size(local);
    if (size < 0) {
        out_ << "! cannot read " << local << std::endl;
        return false;
    }
    std::string text = "SEND," + remote + "," + std::to_string(size);
    out_ << "> " << text << std::endl;
    Reply r = exchange(command_frame(text));
    if (r.status != '0') return false;
    uint8_t ack = ql::line::kAck;
    ql::port_write(port_, &ack, 1);
    platform::sleep_ms(options_.ack_pause_ms);
    int rc = ql::xm_send(port_, local, 1, 0);
    out_ << "= sent " << local << " (" << size << " bytes): result " << rc << std::endl;
    return rc == 0;
}

bool Terminal::receive_file(const std::string& remote, const std::string& local) {
    std::string text = "RECV," + remote;
    out_ << "> " << text << std::endl;
    Reply r = exchange(command_frame(text));
    if (r.status != '0') return false;
    int64_t size = std::strtoll(r.text.c_str(), nullptr, 10);
    uint8_t ack = ql::line::kAck;
    ql::port_write(port_, &ack, 1);
    platform::sleep_ms(options_.ack_pause_ms);
    int rc = ql::xm_recv(port_, local, 1, size);
    out_ << "= received " << local << " (" << size << " bytes): result " << rc << std::endl;
    return rc == 0;
}

bool Terminal::action(const std::string& line) {
    std::vector<std::string> w = words_of(line);
    const std::string& verb = w[0];
    if (verb == ":send" && (w.size() == 2 || w.size() == 3)) {
        return send_file(w[1], w.size() == 3 ? w[2] : leaf_of(w[1]));
    }
    if (verb == ":recv" && (w.size() == 2 || w.size() == 3)) {
        return receive_file(w[1], w.size() == 3 ? w[2] : leaf_of(w[1]));
    }
    if (verb == ":raw" && w.size() >= 2) {
        std::string bytes;
        for (size_t i = 1; i < w.size(); ++i) {
            bytes += static_cast<char>(std::strtoul(w[i].c_str(), nullptr, 16));
        }
        out_ << "> " << printable(bytes) << std::endl;
        return exchange(bytes).present;
    }
    if (verb == ":ack" && w.size() == 1) {
        uint8_t ack = ql::line::kAck;
        return ql::port_write(port_, &ack, 1) == 1;
    }
    if (verb == ":sleep" && w.size() == 2) {
        platform::sleep_ms(static_cast<uint32_t>(std::strtoul(w[1].c_str(), nullptr, 10)));
        return true;
    }
    if (verb == ":expect") {
        std::string want = line.size() > 8 ? line.substr(8) : "";
        if (last_.line() == want) return true;
        out_ << "! expected \"" << want << "\", got \"" << printable(last_.line()) << "\""
             << std::endl;
        return false;
    }
    out_ << "! unknown action: " << line << std::endl;
    return false;
}

bool Terminal::run(const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') return true;
    if (line[0] == ':') return action(line);
    out_ << "> " << line << std::endl;
    return exchange(command_frame(line)).present;
}

}  // namespace termsim
