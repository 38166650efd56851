// The FTP client's failure paths that need POSIX to be staged.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "ftp_client_fixture.h"

using namespace ql;
using namespace ftp_client_test;

TEST_F(FtpClientTest, FullDiskAbortsWithTheDiskFullLine) {
    std::string target = dir.file("full.txt");
    FakeFtpServer server(passive_download([](FakeSession& s) {
        s.data_send(std::string(100000, 'f'));
        s.data_close();
    }));
    ASSERT_EQ(open_on(server), 0);
    // A file-size limit stands in for a disk that fills up: the download's
    // writes fail part-way.
    int rc;
    {
        testing_support::FileSizeLimit full(16384);
        ASSERT_TRUE(full.active());
        rc = ftp_recv(target, "full.txt");
    }
    EXPECT_EQ(rc, -133);
    ftp_quit();
    server.join();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no partial file left
    auto got = server.received();
    auto abor = std::find(got.begin(), got.end(), "ABOR");
    ASSERT_NE(abor, got.end());
    ASSERT_NE(abor + 1, got.end());
    EXPECT_EQ(*(abor + 1), "452 Disk full error.");
    struct stat st;
    EXPECT_NE(::lstat((target + ".qlpart").c_str(), &st), 0);
    EXPECT_NE(ftp_last_file_error(), 0);
}
