// The FTP client against a scripted peer: login paths, reply reading, the
// one-line commands, and the data connections' failure paths.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/server_state.h"
#include "ftp_client_fixture.h"
#include "network/bridge.h"
#include "network/tls.h"

using namespace ql;
using namespace ftp_client_test;

TEST_F(FtpClientTest, LoginSendsUserPassTypeAndMasksThePassword) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        answer_quit(s);
    });
    ftp_set_log_flag(true);
    ftp_set_control_port(server.port());
    ASSERT_EQ(ftp_open("127.0.0.1", "u", "p", 0x101), 0);
    EXPECT_TRUE(ftp_connection().connected);
    EXPECT_EQ(ftp_connection().passive, 1);  // only the low byte counts
    EXPECT_EQ(ftp_connection().server_address[0], 127);
    EXPECT_TRUE(view.has_line("FTP:Open [127.0.0.1][u][********]"));
    EXPECT_TRUE(view.has_line("FTP:Passive on"));
    ftp_quit();
    server.join();
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER u", "PASS p", "TYPE I", "QUIT"}));
    EXPECT_FALSE(ftp_connection().connected);
    EXPECT_EQ(ftp_connection().control, kNoSocket);
}

// Implicit TLS against a server that speaks plain FTP: the handshake meets
// a plain greeting, the open fails with the TLS code and says why, and no
// login goes out. (A build without a TLS library refuses before the
// connect, with a line that says so.)
TEST_F(FtpClientTest, ImplicitTlsAgainstAPlainServerFailsAndSaysWhy) {
    FakeFtpServer server([](FakeSession& s) {
        s.reply("220 plain text only");
        s.expect();  // the client's TLS hello is not a line; wait for the close
    });
    FtpOptions options;
    options.tls = FtpTlsMode::kImplicit;
    ftp_set_options(options);
    ftp_set_reply_timeout(5000);
    EXPECT_EQ(open_on(server), ftp_result::kTlsFailed);
    EXPECT_TRUE(view.has_line(tls_available() ? "FTP:TLS failed [127.0.0.1]: handshake failed"
                                              : "FTP:TLS is not available in this build"));
    EXPECT_EQ(ftp_connection().control, kNoSocket);
    if (!tls_available()) return;  // no connect: the server's accept runs out by itself
    server.join();
    for (const std::string& line : server.received())
        EXPECT_EQ(line.find("USER"), std::string::npos);
}

TEST_F(FtpClientTest, PreliminaryAndIntermediateGreetingsAreAccepted) {
    for (const char* greeting : {"120 soon", "331 odd but fine"}) {
        FakeFtpServer server([&](FakeSession& s) {
            s.reply(greeting);
            s.expect();
            s.reply("230 no password needed");
            s.expect();
            s.reply("200 ok");
            answer_quit(s);
        });
        EXPECT_EQ(open_on(server), 0) << greeting;
        ftp_quit();
    }
}

TEST_F(FtpClientTest, RefusingGreetingClosesWithoutQuit) {
    FakeFtpServer server([](FakeSession& s) {
        s.reply("421 too many users");
        EXPECT_TRUE(s.peer_closed());
    });
    ftp_set_log_flag(true);
    EXPECT_EQ(open_on(server), -4);
    server.join();
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(ftp_connection().control, kNoSocket);
    EXPECT_FALSE(ftp_connection().connected);
    EXPECT_TRUE(view.has_line("FTP:open Error"));
}

TEST_F(FtpClientTest, NothingListeningGivesOpenFailure) {
    int port = testing_support::free_loopback_port();
    ftp_set_control_port(port);
    EXPECT_EQ(ftp_open("127.0.0.1", "u", "p", 0), -4);
    EXPECT_EQ(ftp_connection().control, kNoSocket);
}

TEST_F(FtpClientTest, UserAnsweredWithLoggedInSkipsPass) {
    FakeFtpServer server([](FakeSession& s) {
        s.reply("220 hi");
        s.expect();
        s.reply("230 trusted");
        s.expect();
        s.reply("200 ok");
    });
    EXPECT_EQ(open_on(server), 0);
    server.join();
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER u", "TYPE I"}));
}

TEST_F(FtpClientTest, LoginFailuresQuitAndReportTheirCodes) {
    struct Case {
        const char* pass_reply;
        const char* type_reply;
        int result;
    };
    for (Case c : {Case{"530 wrong", nullptr, -6}, Case{"231 account?", nullptr, -8},
                   Case{"230 in", "500 no binary", -10}}) {
        FakeFtpServer server([&](FakeSession& s) {
            s.reply("220 hi");
            s.expect();
            s.reply("331 pw");
            s.expect();
            s.reply(c.pass_reply);
            if (c.type_reply) {
                s.expect();
                s.reply(c.type_reply);
            }
            answer_quit(s);
        });
        ftp_set_log_flag(true);
        EXPECT_EQ(open_on(server), c.result) << c.pass_reply;
        server.join();
        EXPECT_EQ(server.received().back(), "QUIT");
        EXPECT_FALSE(ftp_connection().connected);
        EXPECT_EQ(ftp_connection().listing_mode, 0);
    }
    EXPECT_TRUE(view.has_line("FTP:Type failed"));
}

TEST_F(FtpClientTest, SilentUserStepGivesUserFailure) {
    FakeFtpServer server([](FakeSession& s) {
        s.reply("220 hi");
        s.expect();  // USER, never answered
        s.expect();  // QUIT
    });
    // The greeting is bounded by it too: under wine on a loaded machine a
    // tenth of a second did not always cover it.
    ftp_set_reply_timeout(1000);
    EXPECT_EQ(open_on(server), -5);
    server.join();
    EXPECT_TRUE(view.has_line("Reply error, timeout/close[111]"));
}

TEST_F(FtpClientTest, ReplyCutShortBySilenceIsNotAccepted) {
    // PASS answered with the first line of a multi-line 230 and then
    // nothing: the wait times out, the login is refused and the connection,
    // out of step now, is closed without a QUIT.
    FakeFtpServer server([](FakeSession& s) {
        s.reply("220 hi");
        s.expect();
        s.reply("331 pw");
        s.expect();
        s.reply("230-Welcome");
        s.expect();  // QUIT (or the end when the client never sends it)
    });
    ftp_set_reply_timeout(1000);  // whole replies, under wine too
    EXPECT_EQ(open_on(server), -6);
    server.join();
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER u", "PASS p"}));
    EXPECT_FALSE(ftp_connection().connected);
    EXPECT_TRUE(view.has_line("Reply error, timeout/close[105]"));
}

TEST_F(FtpClientTest, ContinuationLinesFormOneReply) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.send("230-Welcome\r\n   some text\r\n230 OK\r\n");
        s.send("230-a\r\nletters only\r\n");
        s.send("   250 spaced\r\n");
        s.send("200 bare line feed\n");
        s.expect();
    });
    ASSERT_EQ(open_on(server), 0);
    int code = 0;
    EXPECT_EQ(ftp_reply_wait(1, code), 1);
    EXPECT_EQ(code, 230);
    EXPECT_STREQ(ftp_connection().reply, "230 OK");
    EXPECT_EQ(ftp_reply_wait(1, code), kFtpProtocolError);
    EXPECT_EQ(code, -1);
    EXPECT_STREQ(ftp_connection().reply, "letters only");
    EXPECT_EQ(ftp_reply_wait(1, code), 1);
    EXPECT_EQ(code, 250);
    EXPECT_EQ(ftp_reply_wait(1, code), 1);
    EXPECT_EQ(code, 200);
    EXPECT_STREQ(ftp_connection().reply, "200 bare line feed");
    ftp_quit();
}

TEST_F(FtpClientTest, OverlongLineIsCutAndTheRestReadAsTheNextLine) {
    std::string tail(3000 - 2047, 'y');
    FakeFtpServer server([&](FakeSession& s) {
        login(s);
        s.send("250 " + std::string(2043, 'x') + tail + "\r\n");
        s.expect();
    });
    ASSERT_EQ(open_on(server), 0);
    int code = 0;
    EXPECT_EQ(ftp_reply_wait(1, code), 1);
    EXPECT_EQ(code, 250);
    EXPECT_EQ(std::string(ftp_connection().reply).size(), kFtpMaxLine);
    EXPECT_EQ(ftp_reply_wait(2, code), kFtpProtocolError);
    EXPECT_EQ(std::string(ftp_connection().reply), tail);
    ftp_quit();
}

TEST_F(FtpClientTest, ClassificationAndClosedPeer) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.send("331 more\r\n450 busy\r\n550 no\r\n099 low\r\n600 high\r\n");
        s.close();
    });
    ASSERT_EQ(open_on(server), 0);
    int code = 0;
    EXPECT_EQ(ftp_reply_wait(1, code), -4);
    EXPECT_EQ(ftp_reply_wait(1, code), 0);
    EXPECT_EQ(ftp_reply_wait(1, code), -1);
    // Codes outside 100-599 are no answer at all.
    EXPECT_EQ(ftp_reply_wait(1, code), kFtpProtocolError);
    EXPECT_EQ(code, 99);
    EXPECT_EQ(ftp_reply_wait(1, code), kFtpProtocolError);
    EXPECT_EQ(code, 600);
    EXPECT_TRUE(view.has_line("Reply error, code out of range[1]"));
    // The server has closed: the wait ends at once, code -1, and the
    // connection is closed on this side too.
    EXPECT_EQ(ftp_reply_wait(1, code), kFtpReplyTimeout);
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(ftp_connection().connected);
    EXPECT_EQ(ftp_connection().control, kNoSocket);
}

// A code outside 100-599 fails the step it answers; USER used to take 999
// for "no password wanted" and log in without one.
TEST_F(FtpClientTest, ReplyCodeOutOfRangeFailsTheCommand) {
    FakeFtpServer server([](FakeSession& s) {
        s.reply("220 hi");
        s.expect();  // USER
        s.reply("999 whatever");
        s.expect();  // QUIT
        s.reply("221 bye");
    });
    EXPECT_EQ(open_on(server), -5);
    server.join();
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER u", "QUIT"}));

    FakeFtpServer second([](FakeSession& s) {
        login(s);
        s.expect();
        s.reply("099 changed");
        answer_quit(s);
    });
    ASSERT_EQ(open_on(second), 0);
    EXPECT_EQ(ftp_cwd("in"), -132);
    ftp_quit();
}

// A reply that never ends: continuation lines trickling in, continuation
// lines flooding in, and a flood while a stop is asked for. Each open fails
// as a broken connection, within the reply time-out, the size bound or a
// second of the stop.
TEST_F(FtpClientTest, EndlessReplyIsBoundedInTimeSizeAndByAStop) {
    struct Case {
        const char* name;
        int pause_ms;      // between continuation lines
        int timeout_ms;    // the client's reply time-out
        size_t max_reply;  // the client's size bound of a reply
        bool stop;         // a stop is asked for while the lines come
        long long max_ms;  // generous bound of the open
    };
    const Case cases[] = {{"trickle", 10, 400, kFtpMaxReply, false, 20000},
                          {"flood", 0, 60000, 4096, false, 20000},
                          {"stop", 10, 60000, kFtpMaxReply, true, 20000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFtpServer server([&c](FakeSession& s) {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(70);
            while (std::chrono::steady_clock::now() < give_up && s.send("220-still greeting\r\n")) {
                if (c.pause_ms > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(c.pause_ms));
            }
        });
        ftp_set_reply_timeout(c.timeout_ms);
        // Small for the flood: replies are read a byte per receive, which
        // costs about a millisecond each under wine.
        ftp_set_max_reply(c.max_reply);
        std::thread stopper;
        if (c.stop) {
            stopper = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                server_state().stop_request = true;
            });
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(open_on(server), -4);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        if (stopper.joinable()) stopper.join();
        server_state().stop_request = false;
        EXPECT_LT(took, c.max_ms);
        EXPECT_FALSE(ftp_connection().connected);
        EXPECT_EQ(ftp_connection().control, kNoSocket);
        EXPECT_TRUE(view.has_line("Reply error, timeout/close[104]"));
        server.join();
    }
}

TEST_F(FtpClientTest, CwdAndCopyFamilyCommands) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.expect();
        s.reply("250 changed");
        s.expect();
        s.reply("550 no such folder");
        for (const char* answer : {"220 copied", "220 ok", "220 ok", "220 ok", "250 not 220"}) {
            s.expect();
            s.reply(answer);
        }
    });
    ASSERT_EQ(open_on(server), 0);
    ftp_set_log_flag(true);
    EXPECT_EQ(ftp_cwd("in"), 0);
    EXPECT_EQ(ftp_cwd("missing"), -132);
    EXPECT_EQ(ftp_copy("a.txt", "b.txt", 0), 0);
    EXPECT_EQ(ftp_copy("a.txt", "b.txt", 10), 0);
    EXPECT_EQ(ftp_copy("a.txt", "b.txt", 1), 0);
    EXPECT_EQ(ftp_copy("a.txt", "b.txt", 11), 0);
    EXPECT_EQ(ftp_copy("a.txt", "c.txt", 0), -135);
    server.join();
    std::vector<std::string> expected = {"USER u",
                                         "PASS p",
                                         "TYPE I",
                                         "CWD in",
                                         "CWD missing",
                                         "COPY a.txt b.txt",
                                         "COPYDEL a.txt b.txt",
                                         "APPEND a.txt b.txt",
                                         "APPDEL a.txt b.txt",
                                         "COPY a.txt c.txt"};
    EXPECT_EQ(server.received(), expected);
    EXPECT_TRUE(view.has_line("FTP:Cwd:in"));
    EXPECT_TRUE(view.has_line("FTP:Cwd Failed"));
    EXPECT_TRUE(view.has_line("FTP:Copy:a.txt To:b.txt"));
    EXPECT_TRUE(view.has_line("FTP:Append:a.txt To:b.txt"));
    EXPECT_TRUE(view.has_line("FTP:Failed:c.txt"));
}

TEST_F(FtpClientTest, CommandsFailWithoutConnection) {
    EXPECT_EQ(ftp_cwd("x"), -132);
    EXPECT_EQ(ftp_copy("a", "b", 0), -135);
    EXPECT_EQ(ftp_dir(dir.file("list")), -133);
    EXPECT_FALSE(testing_support::read_whole_file(dir.file("list")).size());
    ftp_quit();  // harmless when closed
}

TEST_F(FtpClientTest, ReplyParsers) {
    EXPECT_EQ(ftp_reply_code("   250 ok"), 250);
    EXPECT_EQ(ftp_reply_code("abc"), -1);
    EXPECT_EQ(ftp_reply_code(""), -1);

    EXPECT_EQ(ftp_expected_size("150 Opening BINARY connection for a.txt (5120 bytes)."), 5120);
    EXPECT_EQ(ftp_expected_size("150 Opening (x) for a (77 bytes)"), 0);  // first ')' rules
    EXPECT_EQ(ftp_expected_size("150 Opening data connection."), 0);
    EXPECT_EQ(ftp_expected_size("150 a (12 octets)"), 0);
    EXPECT_EQ(ftp_expected_size("(12 bytes)"), 0);  // '(' at the very start does not count
    EXPECT_EQ(ftp_expected_size(("150 (9 bytes" + std::string(260, ' ') + ")").c_str()), 0);

    std::string port;
    EXPECT_TRUE(ftp_pasv_port("227 Entering Passive Mode (10,0,0,9,19,137)", port));
    EXPECT_EQ(port, "5001");
    EXPECT_FALSE(ftp_pasv_port("227 Entering Passive Mode (10,0,0,9)", port));

    EXPECT_TRUE(ftp_epsv_port("229 Entering Extended Passive Mode (|||6446|)", port));
    EXPECT_EQ(port, "6446");
    EXPECT_TRUE(ftp_epsv_port("229 ok (!!!65535!)", port));  // any delimiter
    EXPECT_EQ(port, "65535");
    for (const char* bad : {"229 (|||0|)", "229 (|||65536|)", "229 (|||6446)", "229 (||6446|)",
                            "229 (|||x|)", "229 no brackets", "229 ("})
        EXPECT_FALSE(ftp_epsv_port(bad, port)) << bad;
}

TEST_F(FtpClientTest, DataPortCounterRotatesAndFixedPortWins) {
    EXPECT_EQ(ftp_next_data_port(), 8000);
    EXPECT_EQ(ftp_next_data_port(), 8001);
    EXPECT_EQ(ftp_next_data_port(), 8002);
    ftp_set_data_port_counter(8999);
    EXPECT_EQ(ftp_next_data_port(), 8999);
    EXPECT_EQ(ftp_next_data_port(), 8000);
    ftp_set_data_port(2121);
    EXPECT_EQ(ftp_next_data_port(), 2121);
    EXPECT_EQ(ftp_next_data_port(), 2121);
    ftp_set_data_port(0);
    EXPECT_EQ(ftp_next_data_port(), 8001);
}

TEST_F(FtpClientTest, PassiveDataGoesToTheControlAddressWhateverPasvSays) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.expect();                // PASV
        s.reply_pasv("10,0,0,9");  // an address nobody could reach here
        if (!s.accept_data()) return;
        s.expect();  // RETR
        s.reply("150 here it comes (5 bytes).");
        s.data_send("hello");
        s.data_close();
        s.reply("226 done");
    });
    ASSERT_EQ(open_on(server, 1), 0);
    std::string target = dir.file("got.txt");
    EXPECT_EQ(ftp_recv(target, "remote.txt"), 0);
    EXPECT_EQ(testing_support::read_whole_file(target), "hello");
    EXPECT_EQ(view.text(item::kProgressTitle), " ");  // ended
    EXPECT_NE(view.texts(item::kProgressTitle).front().find("FTP RECV: remote.txt : 5"),
              std::string::npos);
}

TEST_F(FtpClientTest, ActiveModeAnnouncesTheControlAddressAndFixedPort) {
    testing_support::TempDir scratch;
    int fixed = testing_support::free_loopback_port();
    ftp_set_data_port(fixed);
    std::string argument;
    FakeFtpServer server([&](FakeSession& s) {
        login(s);
        std::string port = s.expect();
        if (port.rfind("PORT ", 0) != 0) return;
        argument = port.substr(5);
        s.reply("200 port ok");
        s.expect();  // LIST
        s.reply("150 listing");
        if (!s.connect_active(argument)) return;
        s.data_send("a.txt\r\nb.txt\r\n");
        s.data_close();
        s.reply("226 done");
    });
    ASSERT_EQ(open_on(server, 0), 0);
    EXPECT_EQ(ftp_dir(scratch.file("listing")), 0);
    server.join();
    char expected[64];
    std::snprintf(expected, sizeof expected, "127,0,0,1,%d,%d", fixed / 256, fixed % 256);
    EXPECT_EQ(argument, expected);
    EXPECT_EQ(scratch.read("listing"), "a.txt\r\nb.txt\r\n");
    EXPECT_EQ(ftp_connection().data, kNoSocket);
    EXPECT_EQ(ftp_connection().listing_mode, 1);
}

TEST_F(FtpClientTest, FinalRefusalAfterAllDataKeepsThePreviousFile) {
    std::string target = dir.write("data.txt", "previous");
    FakeFtpServer server(passive_download([](FakeSession& s) {
        s.data_send("new content");
        s.data_close();
        s.reply("451 local error in processing");
    }));
    ASSERT_EQ(open_on(server), 0);
    ftp_set_log_flag(true);
    EXPECT_EQ(ftp_recv(target, "data.txt"), -133);
    EXPECT_EQ(dir.read("data.txt"), "previous");
    EXPECT_FALSE(testing_support::read_whole_file(target + ".qlpart").size());
    EXPECT_TRUE(view.has_line("FTP:Get Failed"));
    EXPECT_TRUE(view.has_line("FTP:Recieve:data.txt"));
    ftp_quit();
}

TEST_F(FtpClientTest, StalledDataConnectionAbortsAndLeavesNoPartialFile) {
    std::string target = dir.file("new.txt");
    FakeFtpServer server(passive_download([](FakeSession& s) {
        s.data_send("part of it");
        // ... and then nothing more until the client gives up.
        s.expect();  // ABOR
        s.reply("426 aborted");
    }));
    ASSERT_EQ(open_on(server), 0);
    // Whole replies must fit the time-out too, at about a millisecond per
    // reply byte under wine: not shorter than a second.
    ftp_set_reply_timeout(1000);
    EXPECT_EQ(ftp_recv(target, "big.bin"), -133);
    ftp_quit();
    server.join();
    auto got = server.received();
    EXPECT_NE(std::find(got.begin(), got.end(), "ABOR"), got.end());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(target + ".qlpart"));
    EXPECT_TRUE(view.has_line("srv_read error = bytes:0"));
    EXPECT_EQ(ftp_connection().data, kNoSocket);
}

TEST_F(FtpClientTest, DroppedServerInTheMiddleOfADownloadFails) {
    std::string target = dir.write("keep.txt", "old");
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.expect();
        s.reply_pasv();
        if (!s.accept_data()) return;
        s.expect();
        s.reply("150 sending (100 bytes).");
        s.data_send(std::string(40, 'z'));
        s.data_close();
        s.close();  // the whole server goes away
    });
    ASSERT_EQ(open_on(server), 0);
    EXPECT_EQ(ftp_recv(target, "keep.txt"), -133);
    EXPECT_EQ(dir.read("keep.txt"), "old");
    EXPECT_EQ(view.text(item::kProgressTitle), " ");  // the display was ended
}

TEST_F(FtpClientTest, UploadsCheckTheLocalFileBeforeContactingTheServer) {
    ftp_set_log_flag(true);
    EXPECT_EQ(ftp_send(dir.file("missing"), "x"), -134);
    EXPECT_EQ(ftp_send(dir.write("empty", ""), "x"), -134);
    EXPECT_EQ(ftp_dbin(dir.file("missing")), -134);
    EXPECT_TRUE(view.has_line("FTP:Zero Byte File:"));
    EXPECT_TRUE(view.has_line("FTP:Invalid File:"));
}

TEST_F(FtpClientTest, RefusedPasvAndRefusedStoreFailCleanly) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        s.expect();
        s.reply("500 no passive here");
        s.expect();
        s.reply_pasv();
        s.expect();  // STOR
        s.accept_data();
        s.reply("553 not allowed");
        s.expect();
    });
    ASSERT_EQ(open_on(server), 0);
    std::string source = dir.write("up.txt", "payload");
    EXPECT_EQ(ftp_send(source, "up.txt"), -135);
    EXPECT_TRUE(view.has_line("Passive CMD error 500"));
    EXPECT_EQ(ftp_send(source, "up.txt"), -135);
    EXPECT_EQ(ftp_connection().data, kNoSocket);
    EXPECT_EQ(dir.read("up.txt"), "payload");
    EXPECT_EQ(view.text(item::kProgressTitle), " ");
    ftp_quit();
}

// A server that takes the upload's data connection and never reads from it:
// the upload fails at the send deadline as a dropped connection would, ABOR
// goes out before the data connection closes (a close alone would tell the
// server the file is complete), the transfer's closing replies are read,
// the terminal gets the usual failure reply, and the next command is served.
TEST_F(FtpClientTest, UploadToAServerThatNeverReadsFailsAndTheNextCommandIsServed) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        if (s.expect() != "PASV") return;
        s.shrink_passive_receive_buffer();
        s.reply_pasv();
        if (s.expect() != "STOR big.bin" || !s.accept_data()) return;
        s.reply("150 go ahead");
        // Not one byte is read. The client gives up, aborts and resyncs.
        if (s.expect() != "ABOR") return;
        s.reply("426 transfer aborted");
        s.reply("226 abort done");
        if (s.expect() != "NOOP") return;
        s.reply("200 nothing done");
        if (s.expect() != "CWD next") return;
        s.reply("250 there");
        s.data_close();
        answer_quit(s);
    });
    ftp_set_defaults("127.0.0.1", "u", "p", 1);
    ftp_set_control_port(server.port());
    ftp_set_reply_timeout(1000);  // whole replies, under wine too
    std::string source = dir.write("big.bin", std::string(8 << 20, 'b'));
    std::string reply;
    ASSERT_EQ(ftp_bridge(1, "1", reply), 0) << reply;
    EXPECT_EQ(ftp_bridge(1, "4," + source + ",big.bin", reply), -135);
    EXPECT_EQ(reply, "FTP SEND FAILED:-135");
    EXPECT_TRUE(view.has_line("FTP:Failed:big.bin"));
    EXPECT_EQ(ftp_connection().data, kNoSocket);
    EXPECT_EQ(view.text(item::kProgressTitle), " ");  // the display was ended
    EXPECT_EQ(ftp_bridge(1, "6,next", reply), 0);
    EXPECT_EQ(reply, "FTP CHG DIR SUCCESSFUL");
    ftp_bridge_close();
    server.join();
    ftp_bridge_reset();
}

// The server ends a download early: the data connection closes after part
// of the file and 426 follows. The download fails, and the listing after it
// gets its own replies.
TEST_F(FtpClientTest, DataClosedEarlyByTheServerKeepsTheNextCommandInStep) {
    FakeFtpServer server([](FakeSession& s) {
        login(s);
        if (s.expect() != "PASV") return;
        s.reply_pasv();
        if (!s.accept_data() || s.expect() != "RETR big.bin") return;
        s.reply("150 sending (100 bytes).");
        s.data_send(std::string(40, 'z'));
        s.data_close();
        s.reply("426 connection closed; transfer aborted");
        if (s.expect() != "PASV") return;
        s.reply_pasv();
        if (!s.accept_data() || s.expect() != "LIST") return;
        s.reply("150 listing");
        s.data_send("-rw-r--r-- 1 u u 5 Jan 1 00:00 small.txt\r\n");
        s.data_close();
        s.reply("226 done");
        answer_quit(s);
    });
    ASSERT_EQ(open_on(server), 0);
    EXPECT_EQ(ftp_recv(dir.file("big.bin"), "big.bin"), -133);
    EXPECT_FALSE(std::filesystem::exists(dir.file("big.bin")));
    EXPECT_EQ(ftp_dir(dir.file("list.txt")), 0);
    EXPECT_NE(dir.read("list.txt").find("small.txt"), std::string::npos);
    ftp_quit();
    server.join();
}
