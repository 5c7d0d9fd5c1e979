#pragma once
// The post-generation command: a child process started with no shell, polled without
// blocking the event loop, left running on cancel.
#include <sys/types.h>

#include <string>
#include <vector>

namespace chronoreel {

struct ProcessRecord {
  pid_t pid = -1;        // -1: the process never started
  bool reaped = false;
  int exit_status = 0;   // the wait status once reaped; -1 when it could not be read
  int start_error = 0;   // the errno of a start that failed, 0 if unknown
};

// Splits a command line by shell-like rules: blanks separate, double and single quotes
// group, a backslash escapes the next character (not inside single quotes).
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// Starts the command (its first argument looked up on PATH); pid -1 when it cannot start.
ProcessRecord ExecCmd(const std::string& command_line, bool show_window);

// The same from arguments already split: each one reaches the program as it is.
ProcessRecord ExecArgs(std::vector<std::string> args);

constexpr int kProcessEnded = 0;
constexpr int kProcessRunning = 258;
constexpr int kProcessInvalid = -1;

// 0 when the process has ended, 258 while it runs, -1 when it never started.
int ProcessStatus(ProcessRecord& record);

// Releases the record (reaps the child if it has ended).
void CloseProcess(ProcessRecord& record);

}  // namespace chronoreel
