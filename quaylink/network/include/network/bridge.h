// The command bridges: they turn a numbered request text from the command
// dispatcher ("4,C:\DATA.TXT,DATA.TXT") into FTP or relay client calls and
// answer with the one line of text the terminal gets back.
//
// The local file of a request (field 1 of DIR, SEND, FSEND, DBIN and RECV,
// and of the relay's send forms) comes as its name, for the messages and
// the sent-file register, and may come opened as well (local_file.h): the
// dispatcher opens it where it checks the terminal's name, and the
// transfer then uses that open file or folder instead of the name.
//
// A request is the code and up to three parameters, separated by ','. The
// result is 0 for success (also for the ALREADY SENT answers, which tell
// the terminal its file was delivered before) and nonzero for failure; the
// dispatcher puts '0' or '1' before the reply text accordingly.
//
// Both bridges share the request splitter and the sent-file register
// "FTPSENDX.INI" in the working directory, which stops the same file from
// being sent twice in a row while the setting lastftpsend is on.
//
// Everything here runs on the communication thread.
#pragma once

#include <cstddef>
#include <string>

#include "network/local_file.h"

namespace ql {

// ---- Request fields -----------------------------------------------------

inline constexpr size_t kRequestFieldMax = 255;  // characters kept of each field
inline constexpr int kRequestFields = 4;

// Clears the four request fields, then fills fields 0 to 3 from the pieces
// of text between ','. Characters of a piece beyond 255 are dropped, pieces
// after the fourth are ignored, an empty piece gives an empty field.
void split_request(const std::string& text);

// Field i (0 to 3) of the last split; empty for other i.
const std::string& request_field(int i);

// ---- Sent-file register -------------------------------------------------

// Full path of the register: the working directory + "FTPSENDX.INI".
std::string sent_register_path();

// 0 when the register is on (lastftpsend) and its stored name is not empty
// and equals name byte for byte (case counts); -1 otherwise. A register that
// cannot be read holds no name.
int sent_register_check(const std::string& name);

// When the register is on, stores name as the last file sent and returns
// the profile writer's result; when off, writes nothing and returns -1.
int sent_register_record(const std::string& name);

// ---- FTP command bridge -------------------------------------------------

// Carries out one FTP request (codes 1 OPEN, 2 CLOSE, 3 DIR, 4 SEND,
// 44 FSEND, 5 RECV, 6 CWD, 7 HARBOR, 8 DBIN, 9 COPY, 10 APPEND, 11 COPYDEL,
// 12 APPDEL) and writes the reply line (at most 255 characters) into
// reply. passive: only its low byte counts, as the passive flag of any
// open this request makes. Codes 3 to 6, 8 to 12 and 44 first open the
// connection with the default login when it is not open, and with the
// login of the last open when the client closed that connection because
// it fell out of step (a reply that never ended, replies owed by a
// transfer that never came). Unknown codes
// answer "INVALID COMMAND:%d" with result 99. A successful OPEN writes
// "FTP %s" (server address) into the network status field, every CLOSE a
// single space. local: the request's local file, opened (see above), or
// nullptr to open it by name.
int ftp_bridge(int passive, const std::string& request, std::string& reply,
               LocalFile* local = nullptr);

// Called when communication starts: forgets the connected mark (without
// closing anything, so a connection still open is reused by the next open),
// sets the default login from the settings, and sets the bridge's and the
// FTP client's log flag.
void ftp_set_defaults(const std::string& host, const std::string& user, const std::string& password,
                      int log_flag);

// Called when communication ends: QUITs the connection the bridge opened.
void ftp_bridge_close();

// True while the FTP bridge holds an open connection.
bool ftp_bridge_connected();

// The bridge log flag: when set, both bridges log each request's fields
// and each reply.
bool bridge_log_flag();

// Starts clean: not connected, empty defaults, defaults-set and log flags
// cleared, empty request fields. Closes nothing.
void ftp_bridge_reset();

// ---- Relay command bridge -----------------------------------------------

// Carries out one relay request (operations 1 open, 2 close, 3 list,
// 4/40/41/44 send, 5 receive, 6 change directory, 9 copy, 10 append,
// 13 delete, 14 load) and writes the reply line (at most 255 characters)
// into reply. Operations other than 1 and 2 answer "IP NOT OPEN" (result 1)
// while no relay connection is open, before their arguments are looked at.
// Unknown operations answer "INVALID COMMAND:%d" with result 99. A
// successful open writes "IP %s" (server address) into the network status
// field, every close a single space. local: as for ftp_bridge.
int relay_bridge(const std::string& request, std::string& reply, LocalFile* local = nullptr);

// True while the relay bridge holds an open relay connection.
bool relay_bridge_open();

// Starts clean: closes the relay connections and clears the open flag.
void relay_bridge_reset();

}  // namespace ql
