// Opening and closing relay connections, the sequence counter across
// connections, and the one-exchange operations: listing, directory change,
// copy/append/delete and the remote load.
#include <chrono>
#include <string>
#include <thread>

#include "platform/files.h"
#include "relay_fixture.h"

namespace {

using relay_testing::pattern;
using relay_testing::RelayTest;

TEST_F(RelayTest, OpenLogsInAndCloseAllClosesBoth) {
    server->set_login("secret");
    ASSERT_EQ(ql::relay_open("127.0.0.1", "secret", server->port_text()), 0);
    EXPECT_NE(ql::relay_command_socket(), ql::kNoSocket);
    auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].payload, "100secret");
    EXPECT_FALSE(reqs[0].data);
    ql::relay_close_all();
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, RefusedLoginReturnsTheCodeAndClosesTheConnection) {
    server->set_login("secret");
    EXPECT_EQ(ql::relay_open("127.0.0.1", "guess", server->port_text()), 530);
    EXPECT_TRUE(logged("IP:User Login Error RC=530"));
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, NothingListeningGivesMinus1WithTheOpenLine) {
    const std::string port = server->port_text();
    server.reset();  // the port is free again
    EXPECT_EQ(ql::relay_open("127.0.0.1", "u", port), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("IP:Open CMD[127.0.0.1][" + port + "] RC=-6"));
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, LoginDroppedByTheServerIsAnExchangeError) {
    server->close_on(100);
    EXPECT_EQ(ql::relay_open("127.0.0.1", "u", server->port_text()), ql::relay_result::kNoHeader);
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, CounterCarriesOverFromOneOpenToTheNextAndWraps) {
    open();
    ASSERT_EQ(ql::relay_change_dir("NOWHERE"), 550);
    EXPECT_EQ(ql::relay_sequence(), 2);
    ql::relay_close_all();
    open();
    EXPECT_EQ(ql::relay_sequence(), 3);
    auto reqs = server->requests();
    EXPECT_EQ(reqs.back().sequence, 2);
    EXPECT_EQ(server->sequence_errors(), 0);

    ql::relay_set_sequence(254);
    server.reset();
    server = std::make_unique<relayd::RelayServer>(remote.path());
    ASSERT_EQ(server->start(), 0);
    open();                                           // request 254
    EXPECT_EQ(ql::relay_change_dir("NOWHERE"), 550);  // request 255
    EXPECT_EQ(ql::relay_sequence(), 0);
    EXPECT_EQ(ql::relay_change_dir("NOWHERE"), 550);  // request 0
    EXPECT_EQ(ql::relay_sequence(), 1);
    EXPECT_EQ(server->sequence_errors(), 0);
}

TEST_F(RelayTest, OneWrongSequenceByteIsSkippedTwoFailTheExchange) {
    open();
    server->bad_sequence_on(260, 1);
    ASSERT_EQ(platform::make_directory(remote.path() + "/SUB"), 0);
    EXPECT_EQ(ql::relay_change_dir("SUB"), 0);
    EXPECT_EQ(ql::relay_sequence(), 2);

    server->bad_sequence_on(260, 2);
    EXPECT_EQ(ql::relay_change_dir("SUB"), ql::relay_result::kSequence);
    EXPECT_TRUE(logged("IP:Socket Read Error RC=-11"));
    EXPECT_EQ(ql::relay_sequence(), 2);
    // Client and server are still in step afterwards.
    server->clear_faults();
    EXPECT_EQ(ql::relay_change_dir("SUB"), 0);
    EXPECT_EQ(server->sequence_errors(), 0);
}

TEST_F(RelayTest, PortReplyWithoutFieldsLeavesThePortEmpty) {
    server->set_port_reply("000");
    open();
    EXPECT_EQ(ql::relay_open_data(), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("IP:Open DATA[127.0.0.1][] RC=-4"));
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, ListingIsDownloadedAndDeletedRemotely) {
    remote.write("ONE.TXT", "1");
    open();
    const std::string dest = local.file("DIR.TXT");
    ASSERT_EQ(ql::relay_list(dest), 0);
    const std::string text = testing_support::read_whole_file(dest);
    EXPECT_NE(text.find("ONE.TXT 1"), std::string::npos);
    auto codes = server->codes();
    EXPECT_EQ(codes.front(), "100");
    EXPECT_EQ(codes[1], "200");
    EXPECT_EQ(codes.back(), "210");
    EXPECT_FALSE(platform::path_exists(remote.file("RLIST1.TXT")));

    server->refuse(200, 450);
    EXPECT_EQ(ql::relay_list(dest), 450);
    EXPECT_TRUE(logged("IP:Dir Error RC=450"));
}

// A host name: "localhost" is resolved (::1 may come first, where relayd
// does not listen), the log names the address reached, and the data
// connection goes to the same name.
TEST_F(RelayTest, HostNameReachesTheRelayForCommandAndData) {
    remote.write("ONE.TXT", "1");
    ASSERT_EQ(ql::relay_open("localhost", "user", server->port_text()), 0);
    EXPECT_TRUE(logged("IP:Host [localhost] at [127.0.0.1]"));
    const std::string dest = local.file("DIR.TXT");
    ASSERT_EQ(ql::relay_list(dest), 0);
    EXPECT_NE(testing_support::read_whole_file(dest).find("ONE.TXT 1"), std::string::npos);
}

TEST_F(RelayTest, ChangeDirectoryFailureIsLogged) {
    open();
    EXPECT_EQ(ql::relay_change_dir("NOWHERE"), 550);
    EXPECT_TRUE(logged("IP:Cwd Error RC=550"));
}

TEST_F(RelayTest, CopyAppendDeleteAndAnUnknownKind) {
    remote.write("A.TXT", "aa");
    remote.write("B.TXT", "bb");
    open();
    EXPECT_EQ(ql::relay_file_op("A.TXT", "C.TXT", 0), 0);
    EXPECT_EQ(remote.read("C.TXT"), "aa");
    EXPECT_EQ(ql::relay_file_op("A.TXT", "B.TXT", 1), 0);
    EXPECT_EQ(remote.read("B.TXT"), "bbaa");
    EXPECT_EQ(ql::relay_file_op("A.TXT", "ignored", 2), 0);
    EXPECT_FALSE(platform::path_exists(remote.file("A.TXT")));
    auto reqs = server->requests();
    EXPECT_EQ(reqs[1].payload, "250A.TXT,C.TXT");
    EXPECT_EQ(reqs[2].payload, "240A.TXT,B.TXT");
    EXPECT_EQ(reqs[3].payload, "210A.TXT");

    EXPECT_EQ(ql::relay_file_op("A.TXT", "", 2), 550);
    EXPECT_TRUE(logged("IP:Copy/Append/Del Error RC=550"));
    const size_t before = server->requests().size();
    EXPECT_EQ(ql::relay_file_op("A.TXT", "B.TXT", 3), ql::relay_result::kFailed);
    EXPECT_EQ(server->requests().size(), before);
}

// ---- Loads --------------------------------------------------------------

TEST_F(RelayTest, LoadPollsWhileRunningAndReturnsTheResultText) {
    server->set_load(3, 0, "LOADED 12 RECORDS");
    open();
    std::string reply;
    ASSERT_EQ(ql::relay_load("ORDERS", "NIGHT", reply), 0);
    EXPECT_EQ(reply, "LOADED 12 RECORDS");
    auto codes = server->codes();
    EXPECT_EQ(codes, (std::vector<std::string>{"100", "150", "300", "301", "301", "301"}));
    EXPECT_EQ(server->requests()[2].payload, "300ORDERS,NIGHT");
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications(), (std::vector<std::string>{"101300ORDERS", "101302ORDERS"}));
    // The load's data connection stays open until the next transfer or close.
    EXPECT_NE(ql::relay_data_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, LoadRunningForeverTimesOutAfterTwentyPolls) {
    server->set_load(-1, 0, "");
    open();
    std::string reply;
    EXPECT_EQ(ql::relay_load("A", "B", reply), ql::relay_result::kLoadTimeout);
    EXPECT_EQ(reply, "TIMEOUT ERROR");
    size_t polls = 0;
    for (const auto& c : server->codes()) polls += c == "301";
    EXPECT_EQ(polls, 20u);
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications().back(), "101303A");
}

TEST_F(RelayTest, LoadErrorReturnsTheCodeAndTheWholeReply) {
    server->set_load(1, 417, "NO SUCH JOB");
    open();
    std::string reply;
    EXPECT_EQ(ql::relay_load("A", "B", reply), 417);
    EXPECT_EQ(reply, "417NO SUCH JOB");
    EXPECT_TRUE(logged("IP:Load Error RC=417 NO SUCH JOB"));
}

TEST_F(RelayTest, LoadWithoutADataPortWritesThePortError) {
    server->refuse(150, 425);
    open();
    std::string reply;
    EXPECT_EQ(ql::relay_load("A", "B", reply), ql::relay_result::kCannotStart);
    EXPECT_EQ(reply, "LOAD ERR:PORT CMD FAILED:425");
}

TEST_F(RelayTest, LoadWhoseStartIsDroppedFailsWithAText) {
    server->close_on(300);
    open();
    std::string reply;
    EXPECT_EQ(ql::relay_load("A", "B", reply), ql::relay_result::kCannotStart);
    EXPECT_EQ(reply, "LOAD ERR:LOAD CMD FAILED:-9");
}

TEST_F(RelayTest, LoadWhosePollIsDroppedFailsAndNotifiesTheFailure) {
    server->set_load(-1, 0, "");
    server->close_on(301);
    open();
    std::string reply;
    EXPECT_EQ(ql::relay_load("A", "B", reply), ql::relay_result::kCannotStart);
    size_t polls = 0;
    for (const auto& c : server->codes()) polls += c == "301";
    EXPECT_EQ(polls, 1u);
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications(), (std::vector<std::string>{"101300A", "101303A"}));
}

TEST_F(RelayTest, DataConnectionLeftByALoadIsClosedBeforeTheNextTransfer) {
    server->set_load(0, 0, "OK");
    open();
    std::string reply;
    ASSERT_EQ(ql::relay_load("A", "B", reply), 0);
    const std::string src = local.write("U.TXT", "data");
    ASSERT_EQ(ql::relay_send_file(src, "U.TXT"), 0);
    EXPECT_EQ(server->data_connections(), 2);
    // Both data connections are closed now; the server sees both ends.
    for (int i = 0; i < 500 && server->open_data_connections() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(server->open_data_connections(), 0);
}

}  // namespace
