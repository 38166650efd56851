// Port and cradle discovery: the serial ports of this machine and the USB
// bridges (CP210x) that terminal cradles use.
//
// The port table is process-wide: 32 entries indexed by port number (entry 0
// stays empty), each empty or a text of at most 31 characters, "COM<n>" or,
// for a recognised bridge, "COM<n> (<vendor> <product>)" cut to 31
// characters. It is rebuilt on every find_ports call, by the cradle-search
// thread during the first-run set-up or by the window thread before the
// settings dialog opens; readers get copies.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ql {

inline constexpr int kPortTableSize = 32;
inline constexpr size_t kPortEntryMax = 31;

// Items of the port search dialog that find_ports writes to.
namespace search_item {
inline constexpr int kDevice = 501;  // friendly name of the bridge found
inline constexpr int kCradle = 502;  // "Searching for Cradle", "Cradle Found", ...
inline constexpr int kDone = 503;    // "Search Complete" (the dialog's own)
}  // namespace search_item

// Command the search thread posts to its dialog when it ends.
inline constexpr int kSearchEndedCommand = 308;

// The port search dialog as the search sees it. Calls come from the search
// thread; implementations deliver them to their own thread without blocking.
class SearchDialog {
  public:
    virtual ~SearchDialog() = default;
    // Sets the text of item 501 or 502.
    virtual void show_text(int item, const std::string& text) = 0;
    // Posts command 308: the search is over.
    virtual void post_command(int command) = 0;
};

// Rebuilds the port table from the serial devices under the system device
// tree and returns the chosen port: the first recognised USB bridge port,
// or the first bridge where a cradle answered when the cradle search is
// requested with the IR connect kind and a dialog is given; 1 when no
// bridge is found. With a dialog, progress texts go to its items 501/502.
int find_ports(SearchDialog* dialog);

// The cradle-search thread's body: find_ports with the dialog, the result
// stored as the port setting, command 308 posted to the dialog, the worker
// flag cleared, and "Setup Init thread Ending" logged.
void cradle_search_thread(SearchDialog* dialog);

// Copy of entry n ("" when empty or out of range).
std::string port_table_entry(int n);

// All 32 entries (index = port number).
std::vector<std::string> port_table();

// Number of serial ports found by the last find_ports.
int port_table_count();

// Device path behind entry n ("/dev/ttyUSB0"), "" when none.
std::string port_table_device(int n);

// Device path behind entry n when its number was given by the search (a
// USB port without an entry in the port map): opening the number alone
// would not reach it, so whoever stores the port must store this path.
// "" for every other entry.
std::string port_table_assigned_device(int n);

// The cradle search request: the tick of "Search For Cradle" in the cradle
// question, kept until the question is asked again.
void set_cradle_search_request(bool on);
bool cradle_search_request();

// Root of the kernel's device tree ("/sys") and the folder of the device
// files ("/dev"); tests point them at a fake tree. Empty restores a default.
void set_device_tree(const std::string& sysfs_root, const std::string& dev_dir = "/dev");

// Decides whether a cradle answers on port n (baud, connect kind). The
// default opens the port with port_open, which performs the IR cradle
// handshake, and closes it again; it opens the device found for n even when
// the port map does not lead there yet. nullptr restores the default.
using CradleProbe = std::function<bool(int port, int baud, int connect_kind)>;
void set_cradle_probe(CradleProbe probe);

// True when name occurs in text as a whole word: not preceded or followed
// by a letter or digit, so "COM1" is not found in "(COM12)".
bool contains_word(const std::string& text, const std::string& name);

// Starts clean: empty table, count 0, no request, real device tree, default
// probe.
void discovery_reset();

}  // namespace ql
