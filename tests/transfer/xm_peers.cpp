#include "xm_peers.h"

#include "terminal/frame.h"
#include "terminal/xmodem.h"

namespace transfer_test {

std::string make_block(uint8_t number, const std::string& data, bool crc, bool one_k) {
    std::string block;
    block += static_cast<char>(one_k ? ql::line::kStx : ql::line::kSoh);
    block += static_cast<char>(number);
    block += static_cast<char>(255 - number);
    block += data;
    if (crc) {
        uint16_t sum = ql::crc16(data.data(), data.size());
        block += static_cast<char>(sum >> 8);
        block += static_cast<char>(sum & 0xFF);
    } else {
        block += static_cast<char>(ql::checksum8(data.data(), static_cast<int>(data.size())));
    }
    return block;
}

ReceiverPeer::ReceiverPeer(FakeLine& line, std::string start) {
    if (!start.empty()) line.queue(start);
    crc_ = start == "C";
    line.respond = [this](const std::string& bytes, FakeLine& l) { on_write(bytes, l); };
}

void ReceiverPeer::on_write(const std::string& bytes, FakeLine& line) {
    if (bytes == "\x18") {
        ++cans;
        return;
    }
    int index = writes++;
    std::string answer = "\x06";
    if (bytes == "\x04") {
        ++eots;
    } else {
        bool one_k = !bytes.empty() && bytes[0] == ql::line::kStx;
        size_t size = one_k ? 1024 : 128;
        uint8_t number = static_cast<uint8_t>(numbers.size() + 1);
        std::string data = bytes.size() > 3 ? bytes.substr(3, size) : std::string();
        bool intact = bytes.size() == 3 + size + (crc_ ? 2 : 1) &&
                      bytes == make_block(number, data, crc_, one_k);
        if (intact && answers.count(index) == 0) {
            this->data += data;
            headers.push_back(one_k ? "STX" : "SOH");
            numbers.push_back(static_cast<uint8_t>(bytes[1]));
        } else if (!intact) {
            ++damaged;
            answer = "\x15";
        }
    }
    if (answers.count(index) != 0) answer = answers[index];
    if (!answer.empty()) line.queue(answer);
}

SenderPeer::SenderPeer(FakeLine& line, std::string content, bool allow_one_k)
    : content_(std::move(content)), allow_one_k_(allow_one_k) {
    line.respond = [this](const std::string& bytes, FakeLine& l) { on_write(bytes, l); };
}

void SenderPeer::send_current(FakeLine& line) {
    if (offset_ >= content_.size()) {
        eot_sent_ = true;
        line.queue("\x04");
        return;
    }
    bool one_k = crc && allow_one_k_ && content_.size() - offset_ >= 1024;
    current_size_ = one_k ? 1024 : 128;
    std::string data = content_.substr(offset_, current_size_);
    data.resize(current_size_, '\x1a');
    std::string block = make_block(static_cast<uint8_t>(index_ + 1), data, crc, one_k);
    auto replaced = replace_once.find(index_);
    if (replaced != replace_once.end()) {
        block = replaced->second;
        replace_once.erase(replaced);
    } else if (mutate) {
        block = mutate(index_, sends_[index_]++, block);
    }
    if (!block.empty()) line.queue(block);
}

void SenderPeer::on_write(const std::string& bytes, FakeLine& line) {
    if (bytes.size() != 1) return;
    char c = bytes[0];
    if (c == '\x18') {
        ++cans;
        return;
    }
    if (!started_) {
        prompts += c == 'C' ? 'C' : 'N';
        if (ignore_prompts > 0) {
            --ignore_prompts;
            return;
        }
        started_ = true;
        crc = c == 'C';
        send_current(line);
        return;
    }
    if (c == '\x06') {
        if (eot_sent_) {
            finished = true;
            if (on_finished) on_finished();
            return;
        }
        ++acks;
        if (miss_ack_once.erase(index_) == 0) {
            offset_ += current_size_;
            ++index_;
        }
        if (go_silent_after >= 0 && index_ >= go_silent_after) return;
    } else if (c == '\x15') {
        ++naks;
    }
    if (eot_sent_) {
        line.queue("\x04");
        return;
    }
    send_current(line);
}

}  // namespace transfer_test
