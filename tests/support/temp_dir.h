// A fresh temporary folder per test, removed with everything in it.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing separator.
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    // path() + the platform's separator + name: a name as the programs
    // join it to a folder ('\\' on Windows).
    std::string native(const std::string& name) const;
    // Writes content to path() + "/" + name; returns the full path.
    std::string write(const std::string& name, const std::string& content) const;
    // Reads a file below the folder; empty when missing.
    std::string read(const std::string& name) const;

  private:
    std::string path_;
};

// Reads any file; empty when missing.
std::string read_whole_file(const std::string& path);

// The names in a folder as the platform lists them (sorted, no "." or "..").
std::vector<std::string> names_in(const std::string& dir);

}  // namespace testing_support
