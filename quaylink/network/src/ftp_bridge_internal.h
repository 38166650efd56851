// State of the FTP command bridge that the relay bridge shares.
#pragma once

#include <initializer_list>
#include <string>

namespace ql::bridge_detail {

struct BridgeState {
    bool connected = false;
    std::string host, user, password;  // the default login, up to 63 characters each
    // The login of the open connection, for a reopen after the client
    // closed a connection that fell out of step.
    std::string open_host, open_user, open_password;
    bool defaults_set = false;
    bool log = false;
};

BridgeState& bridge_state();

// Field 0 of the last split read as a decimal number the way atoi reads it
// (0 when it is not a number), kept within the range of int.
int request_code();

// Cuts a reply to the dispatcher's 256-byte buffer.
std::string fit_reply(const std::string& text);

// The first of the given texts that holds CR, LF or NUL (which would end
// or cut a command line or a request text), or nullptr when none does.
const std::string* first_line_breaker(std::initializer_list<const std::string*> texts);

// Writes the network status field of the main window.
void show_network_status(const std::string& text);

}  // namespace ql::bridge_detail
