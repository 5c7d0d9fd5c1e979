#pragma once
// Processes a test starts: the real program (run to its end, or started and then signalled
// and waited for) and the helpers it needs, such as an X server.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace chronoreel::test {

// How a process starts. It has no display unless `env` gives it one; its standard input is
// /dev/null, its standard output and error go to files of its own.
struct Launch {
  std::vector<std::string> env;  // NAME=value, in place of the inherited value
  bool output_in_err = false;    // standard output joins standard error, in the order written
  int fd3 = -1;                  // when >= 0, handed to the process as its descriptor 3
};

// A process this test started; killed and reaped if the test leaves before it ends.
class Process {
 public:
  // argv[0] is the program, looked up on PATH; cwd empty: the test's own folder.
  Process(const std::vector<std::string>& argv, const std::string& cwd, const Launch& launch = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return started_; }
  void Signal(int signal_number) const;
  bool Running();
  // The exit status; nullopt when it was ended by a signal or did not end in time.
  std::optional<int> Wait(std::chrono::seconds limit = std::chrono::seconds(180));
  int TermSignal() const { return term_signal_; }
  std::string Out() const;
  std::string Err() const;

 private:
  TempDir logs_{"chronoreel-process"};
  bool started_ = false;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  int term_signal_ = 0;
};

// The program under test with these switches, started in `cwd` (where its profile lives).
class Program : public Process {
 public:
  Program(const std::vector<std::string>& switches, const std::string& cwd, const Launch& launch = {});
};

struct ProgramRun {
  std::optional<int> status;  // nullopt: ended by a signal or still running after two minutes
  std::string out;
  std::string err;
};

// The program run to its end.
ProgramRun RunProgram(const std::vector<std::string>& switches, const std::string& cwd,
                      const Launch& launch = {});

}  // namespace chronoreel::test
