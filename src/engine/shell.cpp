#include "engine/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <memory>

#include "app/core/error_report.h"

extern char** environ;

namespace chronoreel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// posix_spawn's two attribute records, released on every path.
struct FileActions {
  posix_spawn_file_actions_t actions;
  bool ok = false;
  FileActions() { ok = posix_spawn_file_actions_init(&actions) == 0; }
  ~FileActions() {
    if (ok) posix_spawn_file_actions_destroy(&actions);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
};

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> args;
  std::string current;
  bool in_word = false;  // a word has started (so "" gives an empty argument)
  char quote = 0;        // the open quote, or 0
  const size_t n = command_line.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = command_line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        current += c;
      }
      continue;
    }
    if (c == '\\') {
      in_word = true;
      if (i + 1 < n) {
        current += command_line[++i];
      } else {
        current += c;  // a trailing backslash stands for itself
      }
      continue;
    }
    if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else {
        current += c;
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
      continue;
    }
    if (IsBlank(c)) {
      if (in_word) {
        args.push_back(std::move(current));
        current.clear();
        in_word = false;
      }
      continue;
    }
    current += c;
    in_word = true;
  }
  // An unclosed quote runs to the end of the line.
  if (in_word) args.push_back(std::move(current));
  return args;
}

ProcessRecord ExecCmd(const std::string& command_line, bool show_window) {
  ErrorTrap trap("modShell", "ExecCmd");
  (void)show_window;  // there is no window to show: the child gets none either way
  return ExecArgs(SplitCommandLine(command_line));
}

ProcessRecord ExecArgs(std::vector<std::string> args) {
  ErrorTrap trap("modShell", "ExecCmd");
  ProcessRecord record;
  if (args.empty()) return record;

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  FileActions fa;
  if (!fa.ok) {
    record.start_error = ENOMEM;
    return record;
  }
  // The command runs unattended: it must not wait for input from our terminal.
  if (const int rc = posix_spawn_file_actions_addopen(&fa.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) {
    record.start_error = rc;
    return record;
  }
  // Its exit status is read: a SIGCHLD ignored by whoever started us would let the system
  // reap the child unseen.
  struct sigaction chld {};
  if (sigaction(SIGCHLD, nullptr, &chld) == 0 && chld.sa_handler == SIG_IGN) std::signal(SIGCHLD, SIG_DFL);
  pid_t pid = -1;
  // glibc reports a failed exec (no such program, not executable) as the result here.
  const int rc = posix_spawnp(&pid, argv[0], &fa.actions, nullptr, argv.data(), environ);
  if (rc != 0) {
    record.start_error = rc;
    return record;
  }
  record.pid = pid;
  return record;
}

int ProcessStatus(ProcessRecord& record) {
  ErrorTrap trap("modShell", "ProcessStatus");
  if (record.pid <= 0) return kProcessInvalid;
  if (record.reaped) return kProcessEnded;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(record.pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return kProcessRunning;
  record.reaped = true;
  if (r == record.pid) {
    record.exit_status = status;
  } else {
    // ECHILD: someone else reaped it; it has ended all the same.
    record.exit_status = -1;
  }
  return kProcessEnded;
}

void CloseProcess(ProcessRecord& record) {
  ErrorTrap trap("modShell", "CloseProcess");
  // A child that has ended is reaped now; one that still runs is left alone (it was
  // cancelled, and keeps running on its own until it ends).
  if (record.pid > 0 && !record.reaped) ProcessStatus(record);
}

}  // namespace chronoreel
