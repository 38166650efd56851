#include <gtest/gtest.h>

#include "fake_line.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "recording_view.h"
#include "terminal/frame.h"

using testing_support::RecordingView;
using transfer_test::FakePort;

namespace {

// Records pauses instead of sleeping.
class PauseClock final : public platform::Clock {
  public:
    uint32_t now_ms() override { return 0; }
    void sleep(uint32_t ms) override { slept.push_back(ms); }
    std::vector<uint32_t> slept;
};

std::string command_frame(const std::string& body) {
    std::string frame = "\x02" + body;
    frame += static_cast<char>(ql::checksum8(body.data(), static_cast<int>(body.size())));
    return frame;
}

class Frames : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::settings_reset_defaults();
        ql::settings().interchardelay = 1;
        ql::port_reset_state();
        ql::fields_reset();
        ql::frame_set_clock(&clock);
    }
    void TearDown() override {
        ql::frame_set_clock(nullptr);
        ql::settings_reset_defaults();
        ql::log_reset();
    }

    // Feeds one frame and reads it.
    ql::FrameKind feed(const std::string& bytes) {
        line.line->queue(bytes);
        return ql::read_frame(line.port, frame, 50);
    }
    std::string sent() const {
        std::string all;
        for (const auto& w : line.line->writes) all += w;
        return all;
    }

    RecordingView view;
    PauseClock clock;
    FakePort line;
    ql::Frame frame;
};

TEST_F(Frames, ChecksumIsTheLowByteOfTheSum) {
    EXPECT_EQ(ql::checksum8("", 0), 0);
    EXPECT_EQ(ql::checksum8("A", -3), 0);
    EXPECT_EQ(ql::checksum8("\xff\x02", 2), 1);
    EXPECT_EQ(ql::checksum8("DATETIME", 8), (68 + 65 + 84 + 69 + 84 + 73 + 77 + 69) % 256);
}

TEST_F(Frames, GoodCommandIsSplitAndShownButNotAnswered) {
    EXPECT_EQ(feed(command_frame("DATETIME")), ql::FrameKind::kCommand);
    EXPECT_STREQ(ql::field(0), "DATETIME");
    EXPECT_EQ(view.text(ql::item::kStatusLine), "DATETIME");
    EXPECT_TRUE(line.line->writes.empty());
    EXPECT_TRUE(view.has_line("DATETIME  ")) << "verbosity 1 logs word, field 1, field 2";
}

TEST_F(Frames, ReplyCarriesStatusTextAndChecksumAfterAPause) {
    int n = ql::send_reply(line.port, ql::line::kStx, '0', "20240131235959");
    std::string body = "020240131235959";
    ASSERT_EQ(n, 17);
    EXPECT_EQ(sent(), "\x02" + body + static_cast<char>(ql::checksum8(body.data(), 15)));
    EXPECT_EQ(line.line->writes.size(), 1u) << "one write for the whole reply";
    EXPECT_EQ(clock.slept, std::vector<uint32_t>{20});
}

TEST_F(Frames, ChecksumOffByOneGetsCheckSumErrorAndLeavesFields) {
    ql::set_field(1, "KEEP");
    std::string bad = command_frame("DATETIME");
    bad.back() = static_cast<char>(bad.back() + 1);
    EXPECT_EQ(feed(bad), ql::FrameKind::kChecksumError);
    EXPECT_STREQ(ql::field(1), "KEEP");
    EXPECT_EQ(ql::send_line_answer(line.port, frame.kind), 18);
    std::string body = "1CHECK SUM ERROR";
    EXPECT_EQ(sent(), "\x02" + body + static_cast<char>(ql::checksum8(body.data(), 16)));
    EXPECT_TRUE(view.has_line("Error Out[18] STX[2] 1CHECK SUM ERROR"));
}

TEST_F(Frames, SingleByteRepliesAndSilences) {
    struct Case {
        std::string in;
        ql::FrameKind kind;
        std::string out;
    };
    const Case cases[] = {
        {"ATDT5551234\r", ql::FrameKind::kOther, "\x15"},
        {"\r\nNO CARRIER\r\n", ql::FrameKind::kNoCarrier, "\x15"},
        {"+++", ql::FrameKind::kModemEscape, ""},
        {"xx+++yy", ql::FrameKind::kModemEscape, ""},
        {"\x18", ql::FrameKind::kCancel, ""},
    };
    for (const Case& c : cases) {
        line.line->writes.clear();
        EXPECT_EQ(feed(c.in), c.kind) << c.in;
        ql::send_line_answer(line.port, frame.kind);
        EXPECT_EQ(sent(), c.out) << c.in;
    }
    EXPECT_TRUE(view.has_line("CALL ENDED"));
    EXPECT_EQ(view.text(ql::item::kStatusLine), "READY");

    // An unknown command word: the dispatcher answers CAN alone.
    line.line->writes.clear();
    EXPECT_EQ(feed(command_frame("FOO")), ql::FrameKind::kCommand);
    EXPECT_EQ(ql::send_reply(line.port, ql::line::kCan, '\0', ""), 1);
    EXPECT_EQ(sent(), "\x18");
}

TEST_F(Frames, SilenceIsIdle) {
    EXPECT_EQ(ql::read_frame(line.port, frame, 5), ql::FrameKind::kIdle);
    EXPECT_EQ(frame.count, 0);
}

TEST_F(Frames, ChecksumByteZeroIsLocatedByCount) {
    std::string body = "dx$";  // 100 + 120 + 36 = 256
    ASSERT_EQ(ql::checksum8(body.data(), 3), 0);
    EXPECT_EQ(feed("\x02" + body + std::string(1, '\0')), ql::FrameKind::kCommand);
    EXPECT_STREQ(ql::field(0), "dx$");
}

TEST_F(Frames, ShortestFrames) {
    EXPECT_EQ(feed("\x02"), ql::FrameKind::kChecksumError);
    EXPECT_EQ(feed(std::string("\x02\x00", 2)), ql::FrameKind::kCommand);
    EXPECT_STREQ(ql::field(0), "");
}

TEST_F(Frames, SplitKeepsBlanksEmptiesAndCutsLongFields) {
    ql::split_command("COPY,,B");
    EXPECT_STREQ(ql::field(0), "COPY");
    EXPECT_STREQ(ql::field(1), "");
    EXPECT_STREQ(ql::field(2), "B");

    ql::split_command(" FTP , a b ,");
    EXPECT_STREQ(ql::field(0), " FTP ");
    EXPECT_STREQ(ql::field(1), " a b ");
    EXPECT_STREQ(ql::field(2), "");
    EXPECT_STREQ(ql::field(3), "") << "slots are cleared before a split";

    // A field as long as a frame allows is kept whole (a folder path of 100
    // characters was cut at 63 and became another, missing, folder).
    std::string long_field(120, 'x');
    ql::split_command("SEND," + long_field + ",2,3,4,5,6,7,EIGHT,NINE");
    EXPECT_EQ(std::string(ql::field(1)), long_field);
    EXPECT_STREQ(ql::field(2), "2");
    EXPECT_STREQ(ql::field(7), "7");
    EXPECT_STREQ(ql::field(8), "") << "only eight slots";
}

TEST_F(Frames, FieldWritesAreCut) {
    ql::set_field(3, std::string(300, 'y'));
    EXPECT_EQ(std::string(ql::field(3)), std::string(ql::kFieldSlotSize - 1, 'y'));
    ql::set_field(9, "ignored");
    ql::set_field(-1, "ignored");
}

TEST_F(Frames, FullVerbosityLogsBothDirectionsWithSignedLeadBytes) {
    ql::log_state().verbosity = 2;
    feed(command_frame("DIR,*.TXT"));
    EXPECT_TRUE(view.has_line("Bytes In[11] STX[2] DIR,*.TXT"));
    ql::send_reply(line.port, ql::line::kAck, '8', "BUSY");
    EXPECT_TRUE(view.has_line("Bytes Out[7] STX[6] 8BUSY"));
    feed("\x85OK\x01");
    EXPECT_TRUE(view.has_line("Bytes In[4] STX[ffffff85] OK"));
    EXPECT_FALSE(view.has_line("DIR *.TXT")) << "word line is for verbosity 1 only";
}

TEST_F(Frames, SuccessfulRepliesAreNotLoggedBelowFullVerbosity) {
    ql::send_reply(line.port, ql::line::kStx, '0', "COPY SUCCESSFUL");
    EXPECT_FALSE(view.has_line("COPY SUCCESSFUL"));
}

TEST_F(Frames, LongReplyTextIsCutToTheBuffer) {
    std::string text(300, 'm');
    EXPECT_EQ(ql::send_reply(line.port, ql::line::kStx, '1', text), 127);
    std::string out = sent();
    ASSERT_EQ(out.size(), 127u);
    EXPECT_EQ(out.substr(2, 124), std::string(124, 'm'));
    EXPECT_EQ(static_cast<uint8_t>(out[126]), ql::checksum8(out.data() + 1, 125));
}

}  // namespace

namespace {

TEST(SecretMask, OnlyTheOpenPasswordAndLoginAreMasked) {
    EXPECT_EQ(ql::mask_command_secret("FTP,OPEN,host,user,s3cret,1,21"),
              "FTP,OPEN,host,user,********,1,21");
    EXPECT_EQ(ql::mask_command_secret("FTP,OPEN,host,user,s3cret"), "FTP,OPEN,host,user,********");
    EXPECT_EQ(ql::mask_command_secret("IPCOMM,OPEN,host,l0gin,7000"),
              "IPCOMM,OPEN,host,********,7000");
    // Words fit by their leading letters, as the dispatcher matches them.
    EXPECT_EQ(ql::mask_command_secret("FTPX,OPENX,h,u,p"), "FTPX,OPENX,h,u,********");
    // Nothing to hide: empty or missing fields, other commands.
    EXPECT_EQ(ql::mask_command_secret("FTP,OPEN,host,user,,1"), "FTP,OPEN,host,user,,1");
    EXPECT_EQ(ql::mask_command_secret("FTP,OPEN,host"), "FTP,OPEN,host");
    EXPECT_EQ(ql::mask_command_secret("FTP,SEND,a,b,c"), "FTP,SEND,a,b,c");
    EXPECT_EQ(ql::mask_command_secret("IPCOMM,SEND,a,b,c"), "IPCOMM,SEND,a,b,c");
    EXPECT_EQ(ql::mask_command_secret("COPY,OPEN,a,b,c"), "COPY,OPEN,a,b,c");
}

TEST_F(Frames, TheFrameDumpHidesThePassword) {
    ql::log_state().verbosity = 2;
    feed(command_frame("FTP,OPEN,127.0.0.1,quay,s3cret,1,2121"));
    EXPECT_FALSE(view.has_line("s3cret"));
    EXPECT_TRUE(view.has_line("STX[2] FTP,OPEN,127.0.0.1,quay,********,1,2121"));
}

}  // namespace
