// The transfer progress display: the title, percentage and bar items of the
// "Xmit Status" group of the main window.
//
// Every file transfer (serial block transfer, FTP, relay) reports through
// show_progress. Updates are coalesced so that a fast transfer calling it
// thousands of times a second costs almost nothing: the start and the end
// always reach the window, the running count at most every 50 ms (and once
// more when the count reaches the total).
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace ql {

// Transfer kinds.
namespace progress_kind {
inline constexpr int kSerialSend = 0;
inline constexpr int kSerialRecv = 1;
inline constexpr int kRelaySend = 10;
inline constexpr int kRelayRecv = 11;
inline constexpr int kFtpSend = 20;
inline constexpr int kFtpRecv = 21;
}  // namespace progress_kind

// Values of done with a special meaning.
inline constexpr int64_t kProgressStart = 0;
inline constexpr int64_t kProgressEnd = -1;

// Shortest pause between two running-count updates that reach the window.
inline constexpr uint32_t kProgressIntervalMs = 50;

// Updates the display.
//   done == 0 : start of a transfer: title "SENDING: %s : %ld" (by kind) in
//               item 200, the bar width is taken from the view, the network
//               flag is set for the network kinds (above 1).
//   done  > 0 : running count: "%ld%%    %ld" (percent, done) in item 201
//               and a bar of '=' (bar width * done / total of them, padded
//               with blanks to the bar width) in item 207. The name is not
//               used. With total 0 the line shows the count alone and the
//               bar stays empty; done above total shows 100% and a full bar.
//   done == -1: end: the three items become a single blank and the network
//               flag is cleared.
// Other negative values of done are ignored. Call from one thread at a time
// (the communication thread).
void show_progress(const std::string& name, int kind, int64_t total, int64_t done);

// The network flag: set while a network transfer is shown (the window paints
// the bar red then). Safe to read from any thread.
bool progress_network_flag();

// The bar width in characters of the transfer now shown (0 before any
// start).
int progress_bar_width();

// Time source for the coalescing of running-count updates; nullptr restores
// the system clock. For tests.
void progress_set_clock(platform::Clock* clock);

// Starts clean: flag cleared, bar width 0, no pending update, system clock.
void progress_reset();

}  // namespace ql
