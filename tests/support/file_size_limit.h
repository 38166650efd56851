// A disk that fills up, staged for one scope (POSIX only): while a
// FileSizeLimit lives, no file this process writes may grow past the given
// size, and a write beyond it fails (EFBIG, or a short write) instead of
// raising SIGXFSZ. The previous limit and signal handling come back when it
// ends, so keep the scope to the one call under test:
//
//   int rc;
//   {
//       testing_support::FileSizeLimit full(4096);
//       ASSERT_TRUE(full.active());
//       rc = copy_the_file();
//   }
#pragma once

#include <cstdint>

namespace testing_support {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be set (nothing was changed then).
    bool active() const { return active_; }

  private:
    bool active_ = false;
    uint64_t old_soft_ = 0;
    uint64_t old_hard_ = 0;
    void (*old_handler_)(int) = nullptr;
};

}  // namespace testing_support
