#include "support/program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "support/test_files.h"

extern char** environ;

namespace chronoreel::test {

namespace {

using Clock = std::chrono::steady_clock;

// The test's environment without a display, with `extra` in place of what it names.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    // CTest hands every test the offscreen platform; most runs are the scheduler's, with no display.
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM") continue;
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> WithProgram(const std::vector<std::string>& switches) {
  std::vector<std::string> argv = {CHRONOREEL_EXE};
  argv.insert(argv.end(), switches.begin(), switches.end());
  return argv;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::string& cwd, const Launch& launch) {
  const std::string out = logs_.File("out"), err = logs_.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (launch.output_in_err) {
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (launch.fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, launch.fd3, 3);
  const std::vector<std::string> env = Environment(launch.env);
  std::vector<char*> args = Pointers(argv), envp = Pointers(env);
  started_ = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started_) pid_ = -1;
}

Process::~Process() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void Process::Signal(int signal_number) const {
  if (pid_ > 0) ::kill(pid_, signal_number);
}

bool Process::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  pid_ = -1;
  if (done > 0 && WIFEXITED(status)) exit_status_ = WEXITSTATUS(status);
  if (done > 0 && WIFSIGNALED(status)) term_signal_ = WTERMSIG(status);
  return false;
}

std::optional<int> Process::Wait(std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return exit_status_;
}

std::string Process::Out() const {
  return ReadText(logs_.File("out"));
}

std::string Process::Err() const {
  return ReadText(logs_.File("err"));
}

Program::Program(const std::vector<std::string>& switches, const std::string& cwd, const Launch& launch)
    : Process(WithProgram(switches), cwd, launch) {}

ProgramRun RunProgram(const std::vector<std::string>& switches, const std::string& cwd,
                      const Launch& launch) {
  Program program(switches, cwd, launch);
  ProgramRun run;
  run.status = program.Wait(std::chrono::seconds(120));
  run.out = program.Out();
  run.err = program.Err();
  return run;
}

}  // namespace chronoreel::test
