// The process runner: splitting a command line, starting it without a shell, polling it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/shell.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesArguments) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().args) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"", {}}, SplitCase{"   \t ", {}}, SplitCase{"prog", {"prog"}},
        SplitCase{"  prog   a\tb  ", {"prog", "a", "b"}},
        SplitCase{R"("/opt/my tools/up" "/movies/my cam.avi")",
                  {"/opt/my tools/up", "/movies/my cam.avi"}},
        SplitCase{"'a b' c", {"a b", "c"}},
        SplitCase{R"(a"b c"d)", {"ab cd"}},                 // quotes join with the word
        SplitCase{R"(x "" y)", {"x", "", "y"}},             // an empty quoted argument stays
        SplitCase{R"(x '' y)", {"x", "", "y"}},
        SplitCase{R"(a\ b)", {"a b"}},                      // an escaped blank does not split
        SplitCase{R"(say \"hi\")", {"say", "\"hi\""}},
        SplitCase{R"('it\s' "q\"t")", {"it\\s", "q\"t"}},   // no escapes inside single quotes
        SplitCase{R"("it's" 'say "x"')", {"it's", "say \"x\""}},
        SplitCase{R"(a\\b)", {"a\\b"}}, SplitCase{"end\\", {"end\\"}},
        SplitCase{R"(p "open ended)", {"p", "open ended"}}));

// Polls until the process ends; the runner never blocks, so neither does the test.
int WaitForEnd(ProcessRecord& record) {
  int status = kProcessRunning;
  for (int i = 0; i < 3000 && status == kProcessRunning; ++i) {
    status = ProcessStatus(record);
    if (status == kProcessRunning) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

struct ExitCase {
  const char* command;
  int exit_code;
};

class ExecCmdExitTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExecCmdExitTest, EndsWithTheProgramsStatus) {
  ProcessRecord record = ExecCmd(GetParam().command, false);
  ASSERT_GT(record.pid, 0) << GetParam().command;
  ASSERT_EQ(WaitForEnd(record), kProcessEnded);
  ASSERT_TRUE(WIFEXITED(record.exit_status));
  EXPECT_EQ(WEXITSTATUS(record.exit_status), GetParam().exit_code);
  EXPECT_EQ(ProcessStatus(record), kProcessEnded);  // stays ended once reaped
  CloseProcess(record);
}

INSTANTIATE_TEST_SUITE_P(Table, ExecCmdExitTest,
                         ::testing::Values(ExitCase{"true", 0}, ExitCase{"false", 1},
                                           ExitCase{"sh -c 'exit 7'", 7},
                                           // no shell: the ';' is just an argument of true
                                           ExitCase{"true ; false", 0}));

TEST(ExecCmd, ProgramThatCannotStartGivesNoProcess) {
  TempDir dir;
  const std::string not_executable = dir.File("data.txt");
  std::ofstream(not_executable) << "x";
  for (const std::string& command :
       {std::string("chronoreel-no-such-program-here --x"), std::string(""), std::string("   "),
        dir.File("missing"), not_executable}) {
    ProcessRecord record = ExecCmd(command, false);
    EXPECT_EQ(record.pid, -1) << command;
    EXPECT_EQ(ProcessStatus(record), kProcessInvalid) << command;
    CloseProcess(record);  // harmless on a record that never started
  }
}

TEST(ExecCmd, ArgumentsArriveWholeAndUnexpanded) {
  TempDir dir;
  const std::string out = dir.File("args.txt");
  // $HOME in single quotes of the command line reaches sh unexpanded as part of $2.
  ProcessRecord record = ExecCmd(
      "sh -c 'printf \"%s|\" \"$@\" > \"$0\"' " + out + " \"a b\" '$HOME' \"<tag>\"", false);
  ASSERT_GT(record.pid, 0);
  ASSERT_EQ(WaitForEnd(record), kProcessEnded);
  EXPECT_EQ(ReadText(out), "a b|$HOME|<tag>|");
}

TEST(ExecCmd, ChildHasCallersDirectoryAndNoInput) {
  TempDir dir;
  const std::string out = dir.File("where.txt");
  // cat would wait for ever on a terminal; with input from /dev/null it ends at once.
  ProcessRecord record = ExecCmd("sh -c 'pwd > \"$0\"; cat >> \"$0\"' " + out, false);
  ASSERT_GT(record.pid, 0);
  ASSERT_EQ(WaitForEnd(record), kProcessEnded);
  EXPECT_EQ(ReadText(out), std::filesystem::current_path().string() + "\n");
}

TEST(ExecCmd, RunningProcessIsReportedRunningAndCloseLeavesIt) {
  ProcessRecord record = ExecCmd("sleep 30", false);
  ASSERT_GT(record.pid, 0);
  EXPECT_EQ(ProcessStatus(record), kProcessRunning);
  CloseProcess(record);  // a cancelled wait: the child keeps running
  EXPECT_EQ(kill(record.pid, 0), 0);
  EXPECT_FALSE(record.reaped);
  kill(record.pid, SIGKILL);
  EXPECT_EQ(WaitForEnd(record), kProcessEnded);
  EXPECT_TRUE(WIFSIGNALED(record.exit_status));
}

}  // namespace
}  // namespace chronoreel
