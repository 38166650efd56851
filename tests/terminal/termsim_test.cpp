// The terminal simulator's frames and reply decoding.
#include <gtest/gtest.h>

#include "termsim.h"

namespace {

TEST(Termsim, CommandFrameCarriesTheSumOfTheText) {
    std::string f = termsim::command_frame("AB");
    EXPECT_EQ(f, std::string("\x02"
                             "AB") +
                     static_cast<char>('A' + 'B'));
    // The sum keeps its low 8 bits only.
    std::string text(3, static_cast<char>(0xF0));
    EXPECT_EQ(static_cast<uint8_t>(termsim::command_frame(text).back()), 0xD0);
}

TEST(Termsim, DecodesAndDescribesReplies) {
    termsim::Reply r = termsim::decode_reply(std::string("\x02"
                                                         "0OK") +
                                             char('0' + 'O' + 'K'));
    EXPECT_TRUE(r.checksum_ok);
    EXPECT_EQ(r.line(), "0OK");
    EXPECT_EQ(termsim::describe(r), "STX 0 OK (checksum ok)");

    r = termsim::decode_reply(std::string("\x06"
                                          "8BUSY") +
                              char(0));
    EXPECT_FALSE(r.checksum_ok);
    EXPECT_EQ(termsim::describe(r), "ACK 8 BUSY (CHECKSUM WRONG)");

    r = termsim::decode_reply("\x18");
    EXPECT_EQ(termsim::describe(r), "CAN");
    EXPECT_EQ(r.line(), "");
    EXPECT_EQ(termsim::describe(termsim::decode_reply("")), "(no reply)");
    // A status alone: the checksum equals the status byte.
    r = termsim::decode_reply(
        "\x02"
        "00");
    EXPECT_TRUE(r.checksum_ok);
    EXPECT_EQ(r.line(), "0");
}

}  // namespace
