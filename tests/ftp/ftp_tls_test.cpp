// The FTP client's TLS, EPSV, IPv6 and host names against real servers
// (pyftpdlib on loopback, plain and over TLS, with certificates made for
// the run).
#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "foundation/log.h"
#include "ftp_fixture.h"
#include "network/ftp.h"
#include "recording_view.h"
#include "system_trust.h"
#include "temp_dir.h"
#include "terminal/progress.h"

using namespace ql;
using testing_support::FtpServerOptions;
using testing_support::read_whole_file;

namespace {

std::string random_bytes(size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int count_of(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class FtpTlsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certs_ = new testing_support::TempDir;
        certs_made_ = testing_support::make_test_certificates(certs_->path());
    }
    static void TearDownTestSuite() {
        delete certs_;
        certs_ = nullptr;
    }

    void SetUp() override {
        std::string why;
        if (!testing_support::ftp_server_available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(certs_made_) << "tests/support/make_certs.py failed";
        log_reset();
        ftp_reset();
        socket_layer_reset();
        progress_reset();
    }
    void TearDown() override {
        ftp_reset();
        socket_layer_reset();
    }

    static std::string cert(const std::string& name) { return certs_->file(name); }

    // The log lines so far, for a failure message.
    std::string log_text() const {
        std::string text;
        for (const auto& line : view.lines()) text += line + "\n";
        return text;
    }

    // A server with the given TLS mode ("", "explicit", "implicit") and
    // certificate file.
    void start(FtpServerOptions options) {
        if (!options.tls.empty() && options.cert.empty()) options.cert = cert("good.pem");
        server = std::make_unique<testing_support::FtpServer>(options);
        ASSERT_TRUE(server->start()) << server->error();
        ftp_set_control_port(server->port());
    }

    // Client options: TLS mode, trusting the test CA.
    static FtpOptions client(FtpTlsMode mode) {
        FtpOptions o;
        o.tls = mode;
        o.ca_file = cert("ca.pem");
        return o;
    }

    int open(const std::string& host, int passive = 1) {
        return ftp_open(host, server->user(), server->password(), passive);
    }

    // Uploads and downloads a file of some size; both must arrive whole.
    void round_trip(const std::string& label) {
        const std::string content = random_bytes(300 * 1024 + 17);
        std::string up = local.write("up.bin", content);
        ASSERT_EQ(ftp_send(up, "remote.bin"), 0) << label << "\n" << server->server_log();
        std::string stored = server->read("remote.bin");
        EXPECT_TRUE(stored == content) << label << ": " << stored.size() << " bytes stored";
        ASSERT_EQ(ftp_recv(local.file("down.bin"), "remote.bin"), 0) << label;
        std::string fetched = read_whole_file(local.file("down.bin"));
        EXPECT_TRUE(fetched == content) << label << ": " << fetched.size() << " bytes fetched";
    }

    static testing_support::TempDir* certs_;
    static bool certs_made_;
    std::unique_ptr<testing_support::FtpServer> server;
    testing_support::RecordingView view;
    testing_support::TempDir local;
};

testing_support::TempDir* FtpTlsTest::certs_ = nullptr;
bool FtpTlsTest::certs_made_ = false;

// Explicit TLS in both data modes and implicit TLS: the login and every
// transfer go over TLS, data connections included.
TEST_F(FtpTlsTest, ExplicitAndImplicitTlsCarryLoginAndTransfers) {
    struct Case {
        const char* server_mode;
        FtpTlsMode mode;
        int passive;
    } cases[] = {{"explicit", FtpTlsMode::kExplicit, 1},
                 {"explicit", FtpTlsMode::kExplicit, 0},
                 {"implicit", FtpTlsMode::kImplicit, 1}};
    for (const Case& c : cases) {
        std::string label = std::string(c.server_mode) + (c.passive ? " passive" : " active");
        FtpServerOptions so;
        so.tls = c.server_mode;
        start(so);
        ftp_set_options(client(c.mode));
        ASSERT_EQ(open("127.0.0.1", c.passive), 0) << label << "\n" << server->server_log();
        EXPECT_TRUE(ftp_tls_active());
        round_trip(label);
        ASSERT_EQ(ftp_dir(local.file("list.txt")), 0) << label;
        EXPECT_NE(read_whole_file(local.file("list.txt")).find("remote.bin"), std::string::npos);
        ftp_quit();
        auto commands = server->commands();
        ASSERT_GE(commands.size(), 3u);
        if (c.mode == FtpTlsMode::kExplicit) {
            EXPECT_EQ(commands[0], "AUTH TLS") << label;
        } else {
            EXPECT_FALSE(has(commands, "AUTH TLS")) << label;
        }
        EXPECT_TRUE(has(commands, "PBSZ 0") && has(commands, "PROT P")) << label;
        server->stop();
    }
}

// Certificates that must be refused: the open fails with its own code, the
// log says why, and no login reaches the server.
TEST_F(FtpTlsTest, RefusedCertificatesFailTheOpenAndSayWhy) {
    struct Case {
        const char* cert;
        const char* host;
        const char* reason;
    } cases[] = {{"wrongname.pem", "localhost", "hostname mismatch"},
                 {"wrongname.pem", "127.0.0.1", "IP address mismatch"},
                 {"expired.pem", "127.0.0.1", "certificate has expired"},
                 {"unknown.pem", "127.0.0.1", "unable to get local issuer certificate"}};
    for (const Case& c : cases) {
        log_reset();
        FtpServerOptions so;
        so.tls = "explicit";
        so.cert = cert(c.cert);
        start(so);
        ftp_set_options(client(FtpTlsMode::kExplicit));
        EXPECT_EQ(open(c.host), ftp_result::kTlsFailed) << c.cert;
        EXPECT_TRUE(view.has_line(std::string("FTP:TLS failed [") + c.host +
                                  "]: certificate "
                                  "refused: " +
                                  c.reason))
            << c.cert;
        EXPECT_FALSE(has(server->commands(), "USER " + server->user())) << c.cert;
        EXPECT_EQ(ftp_connection().control, kNoSocket);
        server->stop();
    }
}

// ftptlsverify=no: a certificate for another name is accepted, with a
// warning at the connect.
TEST_F(FtpTlsTest, VerificationOffAcceptsAnyCertificateAndWarns) {
    FtpServerOptions so;
    so.tls = "explicit";
    so.cert = cert("wrongname.pem");
    start(so);
    FtpOptions o = client(FtpTlsMode::kExplicit);
    o.tls_verify = false;
    o.ca_file.clear();
    ftp_set_options(o);
    ASSERT_EQ(open("127.0.0.1"), 0);
    EXPECT_TRUE(view.has_line("FTP:TLS certificate of [127.0.0.1] not verified"));
    round_trip("unverified");
}

// Without ftpcafile the system's CAs are trusted (on Windows the ROOT
// certificate store, which OpenSSL does not read by itself): the test CA is
// refused until the system trusts it.
TEST_F(FtpTlsTest, WithoutACaFileTheSystemsCasAreTrusted) {
    FtpServerOptions so;
    so.tls = "explicit";
    start(so);
    FtpOptions o = client(FtpTlsMode::kExplicit);
    o.ca_file.clear();
    ftp_set_options(o);
    EXPECT_EQ(open("127.0.0.1"), ftp_result::kTlsFailed);
    EXPECT_TRUE(
        view.has_line("FTP:TLS failed [127.0.0.1]: certificate refused: unable to get "
                      "local issuer certificate"))
        << log_text();
    testing_support::SystemTrust trust(cert("ca.pem"));
    ASSERT_TRUE(trust.ok()) << trust.error();
    ASSERT_EQ(open("127.0.0.1"), 0) << log_text() << server->server_log();
    EXPECT_TRUE(ftp_tls_active());
    ftp_quit();
}

// A server without TLS: explicit TLS never goes on in plain text.
TEST_F(FtpTlsTest, ServerWithoutTlsIsRefusedBeforeTheLogin) {
    start({});
    ftp_set_options(client(FtpTlsMode::kExplicit));
    EXPECT_EQ(open("127.0.0.1"), ftp_result::kTlsFailed);
    EXPECT_TRUE(view.has_line("FTP:TLS failed [127.0.0.1]: the server offers no TLS"));
    auto commands = server->commands();
    EXPECT_EQ(commands, std::vector<std::string>{"AUTH TLS"});
}

// EPSV first when enabled; after a refusal PASV for the rest of the
// connection; with EPSV off the wire keeps PASV only.
TEST_F(FtpTlsTest, EpsvFirstAndPasvAfterARefusal) {
    for (bool refuse : {false, true}) {
        FtpServerOptions so;
        so.refuse_epsv = refuse;
        start(so);
        FtpOptions o;
        o.epsv = true;
        ftp_set_options(o);
        ASSERT_EQ(open("127.0.0.1"), 0);
        round_trip(refuse ? "refused" : "epsv");
        auto commands = server->commands();
        EXPECT_EQ(count_of(commands, "EPSV"), 1 + (refuse ? 0 : 1));
        EXPECT_EQ(count_of(commands, "PASV"), refuse ? 2 : 0);
        ftp_quit();
        server->stop();
    }
}

// An IPv6 server: EPSV for passive and EPRT for active transfers, whatever
// the EPSV setting (PASV and PORT cannot carry IPv6).
TEST_F(FtpTlsTest, Ipv6UsesEpsvAndEprt) {
    FtpServerOptions so;
    so.host = "::1";
    start(so);
    for (int passive : {1, 0}) {
        ASSERT_EQ(open(passive ? "::1" : "[::1]", passive), 0) << server->server_log();
        EXPECT_EQ(ftp_connection().server_host, "::1");
        round_trip(passive ? "ipv6 passive" : "ipv6 active");
        ftp_quit();
    }
    auto commands = server->commands();
    EXPECT_EQ(count_of(commands, "EPSV"), 2);
    EXPECT_EQ(count_of(commands, "PASV"), 0);
    EXPECT_EQ(static_cast<int>(std::count_if(
                  commands.begin(), commands.end(),
                  [](const std::string& l) { return l.rfind("EPRT |2|::1|", 0) == 0; })),
              2);
}

// A host name is resolved and every address tried: localhost may come as
// ::1 first, where nothing listens, and is reached on 127.0.0.1; the log
// names both.
TEST_F(FtpTlsTest, HostNameIsResolvedAndTheAddressLogged) {
    start({});
    ftp_set_log_flag(true);
    ASSERT_EQ(open("localhost"), 0);
    EXPECT_TRUE(view.has_line("FTP:Connected [localhost] at [127.0.0.1]"));
    round_trip("localhost");
    ftp_quit();
    ftp_set_control_port(1);  // nothing listens on port 1
    EXPECT_EQ(open("localhost"), ftp_result::kOpenFailed);
    EXPECT_TRUE(view.has_line("FTP:Cannot connect [localhost] tried ["));
}

}  // namespace
