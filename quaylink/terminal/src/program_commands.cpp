// LOAD, EXEC, STAT and SYSTEM: programs started for the terminal.
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/process.h"
#include "terminal/commands.h"

namespace ql {

namespace {

CommandTimings g_timings;

// The program started by LOAD or EXEC, held until STAT sees it end.
platform::Process g_started;

std::function<void()> g_start_hook;

// Opens the checked program (confine on) and gives the test hook its turn.
int open_checked_program(const Session& s, const std::string& path, platform::FileHandle& out) {
    int err = open_program(s, path, out);
    if (err == 0 && g_start_hook) g_start_hook();
    return err;
}

void set_reply(CommandReply& reply, char status, std::string text, bool busy = false) {
    reply.status = status;
    reply.text = std::move(text);
    reply.busy = busy;
}

// The reply of one poll of the started program (LOAD, EXEC, STAT).
void poll_started(CommandReply& reply) {
    int exit_code = 0;
    int rc = poll_program(g_started, exit_code);
    if (rc == 0) {
        set_reply(reply, '0', strformat("%4.4dDONE", exit_code));
    } else if (rc == platform::kProcessRunning) {
        set_reply(reply, '8', "BUSY", true);
    } else {
        started_program_clear();
        set_reply(reply, '1', "APPLICATION EXIT ERROR");
    }
}

// Starts a program as the new started program and polls it once.
void start_and_poll(const Session& s, const std::string& program, const std::string& command_line,
                    CommandReply& reply) {
    platform::FileHandle file = platform::kNoFile;
    if (open_checked_program(s, program, file) != 0) {
        set_reply(reply, '1', "PROG LOAD FAILED");  // refused: the old program stays
        return;
    }
    started_program_clear();  // a new LOAD or EXEC replaces the old program
    int err = start_program(program, command_line, g_started, file);
    platform::file_close(file);
    if (err != 0) {
        started_program_clear();
        set_reply(reply, '1', "PROG LOAD FAILED");
        return;
    }
    poll_started(reply);
}

bool verbose2() {
    return log_state().verbosity.load() == 2;
}

}  // namespace

CommandTimings& command_timings() {
    return g_timings;
}

void commands_reset() {
    g_timings = CommandTimings{};
    started_program_clear();
    g_start_hook = nullptr;
}

void set_program_start_hook(std::function<void()> hook) {
    g_start_hook = std::move(hook);
}

int start_program(const std::string& path, const std::string& command_line,
                  platform::Process& handle, platform::FileHandle program) {
    std::vector<std::string> args = platform::split_command_line(command_line);
    int rc = program == platform::kNoFile
                 ? platform::process_start(path, args, handle)
                 : platform::process_start_held(program, path, args, handle);
    return rc == 0 ? 0 : -1;
}

int poll_program(platform::Process& handle, int& exit_code) {
    int rc = platform::process_wait(handle, g_timings.poll_wait_ms, exit_code);
    if (rc == platform::kProcessEnded) return 0;
    if (rc == platform::kProcessRunning) return platform::kProcessRunning;
    return -1;
}

bool started_program_running() {
    return g_started.pid > 0;
}

void started_program_clear() {
    platform::process_release(g_started);
}

void cmd_load(const Session& s, const std::string& word, const std::string& program,
              const std::string& parameter, bool given, CommandReply& reply) {
    std::string path = given ? given_name(program) : base_name(s, program);
    if (verbose2()) {
        log_event(strformat("%s [%s] [%s]", word.c_str(), path.c_str(), s.subdir.c_str()), 0, 0);
    }
    if (!programs_allowed(s, word)) {
        set_reply(reply, '1', "PROG LOAD FAILED");
        return;
    }
    // The loader reads its folder from -p; the first word stands where a
    // program name usually does.
    std::string line = strformat("szXMFile -p%s %s", s.workdir.c_str(), parameter.c_str());
    if (verbose2()) log_event(strformat("Load parms %s", line.c_str()), 0, 0);
    start_and_poll(s, path, line, reply);
}

void cmd_exec(const Session& s, const std::string& program, const std::string& parameters,
              bool given, CommandReply& reply) {
    std::string path = given ? given_name(program) : base_name(s, program);
    if (!programs_allowed(s, given ? "EXECD" : "EXEC")) {
        set_reply(reply, '1', "PROG LOAD FAILED");
        return;
    }
    const ServerSettings& cfg = settings();
    std::string line;
    if (!cfg.iphost.empty()) line += "-h" + cfg.iphost;
    if (!cfg.ipport.empty()) line += " -s" + cfg.ipport;
    if (!parameters.empty()) line += " ";
    line += parameters;
    start_and_poll(s, path, line, reply);
}

void cmd_stat(CommandReply& reply) {
    if (!started_program_running()) {
        set_reply(reply, '1', "PROG STAT ERROR");
        return;
    }
    poll_started(reply);
}

void cmd_system(const Session& s, const std::string& word, const std::string& program,
                const std::string& parameter, CommandReply& reply) {
    std::string path = base_name(s, program);
    platform::FileHandle file = platform::kNoFile;
    int64_t length = 0;
    bool ok = programs_allowed(s, word) && open_checked_program(s, path, file) == 0;
    if (ok) {
        ok = file == platform::kNoFile ? file_size(path) > 0
                                       : platform::file_length(file, length) == 0 && length > 0;
    }
    std::string rest =
        platform::command_line_word(s.workdir.empty() ? "." : s.workdir) + " " + parameter;
    if (ok && verbose2()) {
        std::string line = platform::command_line_word(path) + " " + rest;
        log_event(strformat("%s [%s] [%s]", word.c_str(), line.c_str(), s.subdir.c_str()), 0, 0);
    }
    // The interpreter's own status is not reported: only a failure to run it.
    if (ok) {
        ok = (file == platform::kNoFile
                  ? platform::run_command_line(platform::command_line_word(path) + " " + rest)
                  : platform::run_command_line_held(file, rest)) != -1;
    }
    platform::file_close(file);
    set_reply(reply, ok ? '0' : '1', ok ? "0000DONE" : "SYSTEM FAILED");
}

}  // namespace ql
