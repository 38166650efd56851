// Simulated far ends of a block transfer, driven by FakeLine's responder:
// a receiver for xm_send and a sender for xm_recv. Both check every byte
// they see and can be told to misbehave at chosen points.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_line.h"

namespace transfer_test {

// Builds one block the way the line carries it.
std::string make_block(uint8_t number, const std::string& data, bool crc, bool one_k);

// The terminal receiving a file: answers each block and the EOT.
class ReceiverPeer {
  public:
    // start: the byte that opens the transfer ('C', NAK, ...); empty = none.
    explicit ReceiverPeer(FakeLine& line, std::string start);

    // Answers by write index (0 = first block or EOT written); a missing
    // entry means ACK for an intact block and NAK for a damaged one. An
    // empty answer is silence.
    std::map<int, std::string> answers;

    std::string data;                  // data bytes of accepted blocks
    std::vector<std::string> headers;  // "SOH" / "STX" of accepted blocks
    std::vector<int> numbers;          // block numbers accepted
    int eots = 0;
    int cans = 0;
    int damaged = 0;
    int writes = 0;

  private:
    void on_write(const std::string& bytes, FakeLine& line);
    bool crc_ = false;
};

// The terminal sending a file.
class SenderPeer {
  public:
    SenderPeer(FakeLine& line, std::string content, bool allow_one_k);

    // Prompts to ignore before answering the first one.
    int ignore_prompts = 0;
    // Changes a block before it goes out: (block index from 0, times it has
    // been sent before, bytes) -> bytes to send (empty = silence).
    std::function<std::string(int, int, const std::string&)> mutate;
    // Sends this instead of the block with the given index, once.
    std::map<int, std::string> replace_once;
    // Stop answering after this many blocks were accepted (-1 = never).
    int go_silent_after = -1;
    // Block indexes whose first ACK the terminal misses: it sends that block
    // again instead of the next one.
    std::set<int> miss_ack_once;
    int acks = 0;  // ACKs seen after blocks (missed ones included)

    std::string prompts;  // the start prompts seen ('C' / 'N')
    int naks = 0;         // NAKs after the start
    int cans = 0;
    bool finished = false;  // EOT acknowledged
    // Called when the EOT is acknowledged, before the receiver returns.
    std::function<void()> on_finished;
    bool crc = false;

  private:
    void on_write(const std::string& bytes, FakeLine& line);
    void send_current(FakeLine& line);
    std::string content_;
    bool allow_one_k_;
    bool started_ = false;
    bool eot_sent_ = false;
    size_t offset_ = 0;
    int index_ = 0;
    std::map<int, int> sends_;
    int current_size_ = 128;
};

}  // namespace transfer_test
