// The process helpers of the rowsmith tests (POSIX): a child holding a
// lock, and running the program.
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "scratch.h"

extern char** environ;

namespace rowsmith_test {

LockHolder::LockHolder(const std::string& path) {
    int to_child[2], ready[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(to_child[1]);
        ::close(ready[0]);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
        char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'L' : 'E';
        (void)!::write(ready[1], &ok, 1);
        char ignored;
        (void)!::read(to_child[0], &ignored, 1);  // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(to_child[0]);
    ::close(ready[1]);
    char ok = 0;
    bool locked = pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 'L';
    ::close(ready[0]);
    child_ = pid;
    to_child_ = to_child[1];
    if (!locked) release();
}

void LockHolder::release() {
    if (to_child_ >= 0) ::close(to_child_);
    to_child_ = -1;
    if (child_ > 0) ::waitpid(child_, nullptr, 0);
    child_ = -1;
}

std::string program_path() {
    const char* bin = std::getenv("QL_BIN_DIR");
    if (bin && *bin) return std::string(bin) + "/rowsmith";
    return ROWSMITH_PROGRAM;  // the build's own copy, when run outside CTest
}

pid_t start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& err_file, const std::vector<std::string>* env) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (env) {
        for (const auto& entry : *env) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                      env ? envp.data() : environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int wait_program(pid_t pid) {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>* env) {
    Scratch errors;
    ProgramRun run;
    run.status = wait_program(start_program(program, args, errors.path("stderr"), env));
    run.err = errors.read("stderr");
    return run;
}

}  // namespace rowsmith_test
