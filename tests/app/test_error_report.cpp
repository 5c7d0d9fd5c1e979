// The report of an unexpected fault: which procedure it names, which line, and that the
// process ends at once with status 3.
//
// The procedures below count their lines from the trap (line 0); keep one statement per
// line, since the expected line numbers in the table depend on it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/error_report.h"

namespace chronoreel {
namespace {

volatile int g_sink = 0;

void FaultAfterTwoLines() {
  ErrorTrap trap("modTest", "FaultAfterTwoLines");
  g_sink = 1;
  throw Fault(1001, "cannot read the frame");
}

void HelperWithoutTrap();

void CallerOfHelper() {
  ErrorTrap trap("frmTest", "CallerOfHelper");
  g_sink = 2;
  trap.Line(__LINE__);
  HelperWithoutTrap();
  g_sink = 3;
}

// Defined after its caller on purpose: its throw lies below the caller's trap in the same
// file, yet it is not a line of the caller.
void HelperWithoutTrap() {
  g_sink = 4;
  throw Fault(2002, "cannot open the stream");
}

void LibraryFailureAfterCheckpoint() {
  ErrorTrap trap("MovieGen", "LibraryFailureAfterCheckpoint");
  g_sink = 5;
  g_sink = 6;
  trap.Line(__LINE__);
  throw std::runtime_error("disk on fire");
}

void EmptyDescription() {
  ErrorTrap trap("modTest", "EmptyDescription");
  throw Fault(7, "");
}

void InnerWithTrap() {
  ErrorTrap trap("modInner", "InnerWithTrap");
  throw Fault(3003, "inner failure");
}

void OuterWithTrap() {
  ErrorTrap trap("modOuter", "OuterWithTrap");
  g_sink = 7;
  InnerWithTrap();
}

// A library error that the procedure handles itself: it must leave nothing behind.
void HandledFailure() {
  ErrorTrap trap("modHandled", "HandledFailure");
  throw std::runtime_error("expected, handled by the caller");
}

void LaterFault() {
  g_sink = 8;
  try {
    HandledFailure();
  } catch (const std::exception&) {
  }
  ErrorTrap trap("modLater", "LaterFault");
  throw Fault(4004, "unrelated later fault");
}

void LaterFaultInSameProcedure() {
  ErrorTrap trap("modLater", "LaterFaultInSameProcedure");
  try {
    HandledFailure();
  } catch (const std::exception&) {
  }
  throw Fault(4005, "after a handled failure");
}

void NoTrapAtAll() { throw Fault(5005, "outside any trap"); }

using Procedure = void (*)();

[[noreturn]] void RunAtTop(Procedure procedure) {
  try {
    procedure();
  } catch (...) {
    ReportCurrentException("modMain", "Main");
  }
  std::abort();  // not reached: the procedures all fail
}

struct ReportCase {
  const char* name;
  Procedure procedure;
  const char* module;
  const char* procedure_name;
  int line;
  int code;
  const char* description;
};

const ReportCase kReportCases[] = {
    {"FaultInTrappedProcedure", FaultAfterTwoLines, "modTest", "FaultAfterTwoLines", 2, 1001,
     "cannot read the frame"},
    {"CalleeWithoutTrapReportsCaller", CallerOfHelper, "frmTest", "CallerOfHelper", 2, 2002,
     "cannot open the stream"},
    {"LibraryErrorAtCheckpoint", LibraryFailureAfterCheckpoint, "MovieGen", "LibraryFailureAfterCheckpoint", 3, 5,
     "disk on fire"},
    {"EmptyDescription", EmptyDescription, "modTest", "EmptyDescription", 1, 7, ""},
    {"InnermostTrapWins", OuterWithTrap, "modInner", "InnerWithTrap", 1, 3003, "inner failure"},
    {"HandledFailureLeavesNoTrace", LaterFault, "modLater", "LaterFault", 1, 4004, "unrelated later fault"},
    {"HandledFailureInSameProcedure", LaterFaultInSameProcedure, "modLater", "LaterFaultInSameProcedure", 5, 4005,
     "after a handled failure"},
    {"OutsideAnyTrapUsesTheTop", NoTrapAtAll, "modMain", "Main", 0, 5005, "outside any trap"},
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

// Matches when the whole report, and nothing after its last line, appears in the output.
class ReportMatcher : public ::testing::MatcherInterface<const std::string&> {
 public:
  explicit ReportMatcher(std::string expected) : expected_(std::move(expected)) {}
  bool MatchAndExplain(const std::string& output, ::testing::MatchResultListener*) const override {
    const size_t at = output.find(expected_);
    return at != std::string::npos && (at == 0 || output[at - 1] == '\n') &&
           output.find("must not be seen") == std::string::npos;
  }
  void DescribeTo(std::ostream* os) const override { *os << "holds the report:\n" << expected_; }

 private:
  std::string expected_;
};

::testing::Matcher<const std::string&> HoldsReport(const ReportCase& c) {
  std::string text = "Error Detected\n";
  text += std::string("Please contact Technical Support (") + kSupportAddress + ")\n";
  text += "with this information:\n";
  text += std::string("Module: ") + c.module + "\n";
  text += std::string("Procedure: ") + c.procedure_name + "\n";
  text += "Line #: " + std::to_string(c.line) + "\n";
  text += "Error #: " + std::to_string(c.code) + "\n";
  text += std::string("Error Description: ") + c.description + "\n";
  return ::testing::MakeMatcher(new ReportMatcher(text));
}

class ErrorReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReportTest, ReportsAndEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ReportCase& c = GetParam();
  EXPECT_EXIT(
      {
        // Nothing registered for a normal exit may run after the report.
        std::atexit([] { std::fputs("must not be seen\n", stderr); });
        SetErrorBoxShower(nullptr);
        RunAtTop(c.procedure);
      },
      ::testing::ExitedWithCode(3), HoldsReport(c));
}

INSTANTIATE_TEST_SUITE_P(Faults, ErrorReportTest, ::testing::ValuesIn(kReportCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ErrorReportTextTest, EightLinesInOrder) {
  FaultRecord record{"modTime", "Clock", 3, 11, "Division by zero"};
  const std::string text = BuildErrorReport(record);
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  lines.push_back(text.substr(begin));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "Error Detected");
  EXPECT_EQ(lines[1].rfind("Please contact Technical Support (", 0), 0u);
  EXPECT_EQ(lines[1].back(), ')');
  EXPECT_EQ(lines[2], "with this information:");
  EXPECT_EQ(lines[3], "Module: modTime");
  EXPECT_EQ(lines[4], "Procedure: Clock");
  EXPECT_EQ(lines[5], "Line #: 3");
  EXPECT_EQ(lines[6], "Error #: 11");
  EXPECT_EQ(lines[7], "Error Description: Division by zero");
}

// A display handler receives the title and the text, and the process still ends.

TEST(ErrorReportShowerTest, BoxGetsTitleAndProcessEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetErrorBoxShower([](const std::string& title, const std::string& text) {
          std::fprintf(stderr, "[%s]\n%s\n", title.c_str(), text.c_str());
        });
        RunAtTop(FaultAfterTwoLines);
      },
      ::testing::ExitedWithCode(3), ::testing::ContainsRegex("\\[Error Debug Report\\]\nError Detected\n"));
}

}  // namespace
}  // namespace chronoreel
