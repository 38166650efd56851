// Helpers for the rowsmith tests: a scratch folder, whole-file access, a
// process that holds a file locked, and running the rowsmith program.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace rowsmith_test {

class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // The folder with a trailing '/'.
    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + name; }
    std::string write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    std::string dir_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Another process holding a file with an exclusive lock until release().
class LockHolder {
  public:
    explicit LockHolder(const std::string& path);
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool holding() const { return child_ > 0; }
    void release();

  private:
    pid_t child_ = -1;
    int to_child_ = -1;
};

struct ProgramRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string err;  // what it wrote to standard error
};

// Path of the rowsmith program under test (from QL_BIN_DIR).
std::string program_path();

// Starts a program with args (argv[0] is added) and returns its pid; its
// standard error goes to err_file. Without env it inherits this process's
// environment.
pid_t start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& err_file, const std::vector<std::string>* env = nullptr);
int wait_program(pid_t pid);

// Runs a program to its end.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>* env = nullptr);

// Text of n lines "LOC<i>,TAG<i>\n".
std::string numbered_lines(int n);

}  // namespace rowsmith_test
