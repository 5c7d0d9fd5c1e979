// The command line of unattended runs: quoting, switch recognition, values as typed, and
// the resets that keep overrides to automated runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "support/man_page.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

// The tables name only the values that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// "$D" in a table entry stands for the test's folder.
std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("$D")) != std::string::npos;) text.replace(at, 2, dir);
  return text;
}

class CommandLineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // CTest runs the tests of this suite as parallel processes: each needs its own folder.
    dir_ = new std::string(
        (fs::path(::testing::TempDir()) / ("chronoreel_cmdline_" + std::to_string(::getpid()))).string());
    fs::remove_all(*dir_);
    fs::create_directories(fs::path(*dir_) / "folder.tls");
    fs::create_directories(fs::path(*dir_) / "with blank");
    for (const char* name : {"setup.tls", "My Setup.tls", "Case.TLS", "with blank/inner.tls", "caf\xFF.tls"}) {
      std::ofstream(fs::path(*dir_) / name) << "[General]\n";
    }
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }
  static const std::string& Dir() { return *dir_; }

 private:
  static std::string* dir_;
};

std::string* CommandLineTest::dir_ = nullptr;

void ExpectValues(const CommandLineValues& got, const CommandLineValues& want) {
  EXPECT_EQ(got.AutomatedRun, want.AutomatedRun);
  EXPECT_EQ(got.SetupFileArgument, want.SetupFileArgument);
  EXPECT_EQ(got.ShowProgress, want.ShowProgress);
  EXPECT_EQ(got.InstanceNumber, want.InstanceNumber);
  EXPECT_DOUBLE_EQ(got.StartOverride, want.StartOverride);
  EXPECT_DOUBLE_EQ(got.StopOverride, want.StopOverride);
  EXPECT_EQ(got.StillDirectoryOverride, want.StillDirectoryOverride);
  EXPECT_EQ(got.ImageFilterOverride, want.ImageFilterOverride);
  EXPECT_EQ(got.OutputAVIPathOverride, want.OutputAVIPathOverride);
  EXPECT_EQ(got.PostGenerationShellOverride, want.PostGenerationShellOverride);
  EXPECT_EQ(got.Quiet, want.Quiet);
  EXPECT_EQ(got.DryRun, want.DryRun);
}

struct LineCase {
  const char* command_line;
  CommandLineValues expected;  // SetupFileArgument may use $D
};

// 2 January 2024 is day 45293 of the date-time scale.
constexpr double kJan2 = 45293;

const LineCase kLineCases[] = {
    {"", {}},
    {"    ", {}},
    {"/a", {}},
    {"/a /f=missing.tls", {}},
    {"/f=setup.tls", {.SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=setup.tls /i /n=3 /ip=/x /if=*.JPG /op=/out/Movie.avi /pgs=cmd",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false, .InstanceNumber = 3,
      .StillDirectoryOverride = "/x", .ImageFilterOverride = "*.JPG", .OutputAVIPathOverride = "/out/Movie.avi",
      .PostGenerationShellOverride = "cmd"}},
    // Without /a nothing but the setup file survives.
    {"/f=setup.tls /i /n=3 /s=1/2/2024 /e=1/3/2024 /ip=/x /if=*.jpg /op=o /pgs=c",
     {.SetupFileArgument = "$D/setup.tls"}},
    // Switch names in any case, values as typed.
    {"/A /F=setup.tls /I /IP=/Stills/Cam1 /IF=*.JPG /OP=/Out/Movie.AVI /PGS=Upload.sh",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false,
      .StillDirectoryOverride = "/Stills/Cam1", .ImageFilterOverride = "*.JPG",
      .OutputAVIPathOverride = "/Out/Movie.AVI", .PostGenerationShellOverride = "Upload.sh"}},
    {"/a /f=Case.TLS", {.AutomatedRun = true, .SetupFileArgument = "$D/Case.TLS"}},
    {"/a /f=case.tls", {}},  // another file on a case-sensitive file system
    {"/a /f=$D/setup.tls", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=folder.tls", {}},  // a folder is not a setup file
    {"/a /f= setup.tls", {}},
    // Quotes around a whole argument or only its value; blanks inside are kept.
    {"/a \"/f=My Setup.tls\" /ip=\"/my  stills/cam 1\"",
     {.AutomatedRun = true, .SetupFileArgument = "$D/My Setup.tls", .StillDirectoryOverride = "/my  stills/cam 1"}},
    {"/a /f=\"My Setup.tls\"", {.AutomatedRun = true, .SetupFileArgument = "$D/My Setup.tls"}},
    {"/a \"/f= My Setup.tls \" \"/ip=  /x  \"",
     {.AutomatedRun = true, .SetupFileArgument = "$D/My Setup.tls", .StillDirectoryOverride = "/x"}},
    {"/a \"/f=$D/with blank/inner.tls\"", {.AutomatedRun = true, .SetupFileArgument = "$D/with blank/inner.tls"}},
    {"/a /f=setup.tls /pgs=\"upload.sh <outpath> now\"",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .PostGenerationShellOverride = "upload.sh <outpath> now"}},
    {"/a \"\" /f=setup.tls", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    {"\" /a\" /f=setup.tls", {.SetupFileArgument = "$D/setup.tls"}},
    {"   /a     /f=setup.tls    /i   ",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false}},
    // A quote without a partner stays an ordinary character; what comes before it parses.
    {"/a /f=setup.tls /ip=\"/my stills",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .StillDirectoryOverride = "\"/my"}},
    {"/a /f=setup.tls \"/ip=x y\" \"/op=z", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls",
                                            .StillDirectoryOverride = "x y"}},
    // The last occurrence wins; a later missing file clears an earlier one.
    {"/a /f=setup.tls /n=1 /n=2 /ip=a /ip=b",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .InstanceNumber = 2, .StillDirectoryOverride = "b"}},
    {"/a /f=setup.tls /f=missing.tls", {}},
    {"/a /f=missing.tls /f=setup.tls", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    // Near misses are not switches.
    {"/a /f=setup.tls /x=1 /ia /i=1 /a2 foo i /ipx /ip /pgs /n",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    {"/a2 /f=setup.tls /i", {.SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=setup.tls /ip=/i", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls",
                                .StillDirectoryOverride = "/i"}},
    // Instance numbers round halves to even; text that is no number changes nothing.
    {"/a /f=setup.tls /n=7.5", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .InstanceNumber = 8}},
    {"/a /f=setup.tls /n=6.5", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .InstanceNumber = 6}},
    {"/a /f=setup.tls /n=abc", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=setup.tls /n=5 /n=abc", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .InstanceNumber = 5}},
    {"/a /f=setup.tls /n=1e10", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=setup.tls /N=-3", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .InstanceNumber = -3}},
    // Quiet implies no progress; both new switches belong to automated runs only.
    {"/a /f=setup.tls /q /d", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false,
                               .Quiet = true, .DryRun = true}},
    {"/a /f=setup.tls /Q", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false,
                            .Quiet = true}},
    {"/f=setup.tls /q /d", {.SetupFileArgument = "$D/setup.tls"}},
    {"/a /f=setup.tls /qq /dry", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls"}},
    // Dates.
    {"/a /f=setup.tls /s=1/2/2024", {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .StartOverride = kJan2}},
    {"/a /f=setup.tls \"/S=1/2/2024 6:00 PM\" /E=2024-01-02T06:00",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .StartOverride = kJan2 + 0.75,
      .StopOverride = kJan2 + 0.25}},
    {"/a /f=setup.tls /s=1/2/2024 /s=tomorrow /e=13/45/2024",
     {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .StartOverride = kJan2}},
    // Any byte may be part of a Linux file name, even one that no UTF-8 text holds.
    {"/a /f=caf\xFF.tls", {.AutomatedRun = true, .SetupFileArgument = "$D/caf\xFF.tls"}},
};

TEST_F(CommandLineTest, Table) {
  for (const LineCase& c : kLineCases) {
    const std::string line = Expand(c.command_line, Dir());
    SCOPED_TRACE("command line: " + line);
    CommandLineValues want = c.expected;
    want.SetupFileArgument = Expand(want.SetupFileArgument, Dir());
    ExpectValues(ProcessCommandLine(line, Dir()), want);
  }
}

TEST_F(CommandLineTest, CurrentDirectoryWithTrailingSeparator) {
  const CommandLineValues got = ProcessCommandLine("/a /f=setup.tls", Dir() + "/");
  EXPECT_EQ(got.SetupFileArgument, Dir() + "/setup.tls");
  EXPECT_TRUE(got.AutomatedRun);
}

TEST_F(CommandLineTest, JoinedArgumentsParseBack) {
  const struct {
    std::vector<std::string> argv;
    const char* joined;
    CommandLineValues expected;
  } cases[] = {
      {{}, "", {}},
      {{"/a", "/f=My Setup.tls"}, "/a \"/f=My Setup.tls\"", {.AutomatedRun = true, .SetupFileArgument = "$D/My Setup.tls"}},
      {{"/a", "/f=$D/with blank/inner.tls", "/ip=/cam  one/", "/pgs=up.sh <outpath>"},
       "/a \"/f=$D/with blank/inner.tls\" \"/ip=/cam  one/\" \"/pgs=up.sh <outpath>\"",
       {.AutomatedRun = true, .SetupFileArgument = "$D/with blank/inner.tls", .StillDirectoryOverride = "/cam  one/",
        .PostGenerationShellOverride = "up.sh <outpath>"}},
      {{"/A", "/F=setup.tls", "/I", "/N=2"}, "/A /F=setup.tls /I /N=2",
       {.AutomatedRun = true, .SetupFileArgument = "$D/setup.tls", .ShowProgress = false, .InstanceNumber = 2}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    std::vector<const char*> argv;
    for (const std::string& a : c.argv) args.push_back(Expand(a, Dir()));
    for (const std::string& a : args) argv.push_back(a.c_str());
    const std::string joined = JoinArguments(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE("joined: " + joined);
    EXPECT_EQ(joined, Expand(c.joined, Dir()));
    CommandLineValues want = c.expected;
    want.SetupFileArgument = Expand(want.SetupFileArgument, Dir());
    ExpectValues(ProcessCommandLine(joined, Dir()), want);
  }
}

// Random and malformed command lines: no crash, no hang on long quote soups, and the
// results always obey the resets.
TEST_F(CommandLineTest, RandomLinesKeepTheInvariants) {
  std::mt19937 rng(8122026);
  const std::vector<std::string> tokens = {
      "/a", "/A", "/f=setup.tls", "/F=missing.tls", "/f=\"My Setup.tls\"", "/i", "/I", "/n=", "7.5", "\"", " ",
      "  ", "/ip=", "/if=", "/op=", "/pgs=", "/s=", "/e=", "1/2/2024", "6:00", "PM", "x", "=", "/", "\xFF", "&H1F"};
  for (int i = 0; i < 20000; ++i) {
    std::string line;
    if (i % 3 == 0) {
      const size_t n = rng() % 40;
      for (size_t k = 0; k < n; ++k) line.push_back(static_cast<char>(rng() % 256));
    } else if (i % 500 == 1) {
      const size_t n = 20000 + rng() % 20000;
      for (size_t k = 0; k < n; ++k) line.push_back("\" /a"[rng() % 4]);
    } else {
      const size_t n = rng() % 16;
      for (size_t k = 0; k < n; ++k) line += tokens[rng() % tokens.size()];
    }
    const CommandLineValues got = ProcessCommandLine(line, Dir());
    if (!got.SetupFileArgument.empty()) {
      ASSERT_TRUE(fs::is_regular_file(got.SetupFileArgument)) << got.SetupFileArgument;
    }
    if (!got.AutomatedRun) {
      CommandLineValues want;
      want.SetupFileArgument = got.SetupFileArgument;
      ExpectValues(got, want);
    } else {
      ASSERT_FALSE(got.SetupFileArgument.empty());
    }
    if (::testing::Test::HasFailure()) {
      FAIL() << "command line: " << line;
    }
  }
}

}  // namespace
}  // namespace chronoreel

namespace chronoreel {
namespace {

TEST(RequestedInformationTest, HelpAndVersionAnswerBeforeAnythingElse) {
  struct Case {
    std::vector<const char*> args;
    ProgramRequest want;
  };
  const Case cases[] = {
      {{"chronoreel"}, ProgramRequest::kRun},
      {{"chronoreel", "/a", "/f=x.tls"}, ProgramRequest::kRun},
      {{"chronoreel", "--help"}, ProgramRequest::kHelp},
      {{"chronoreel", "/a", "/f=x.tls", "-h"}, ProgramRequest::kHelp},
      {{"chronoreel", "/?"}, ProgramRequest::kHelp},
      {{"chronoreel", "--VERSION"}, ProgramRequest::kVersion},
      {{"chronoreel", "--version", "--help"}, ProgramRequest::kVersion},
      {{"chronoreel", "--helpme", "/vv", "help"}, ProgramRequest::kRun},
      // The program's own name is never a request, whatever it is called.
      {{"--help"}, ProgramRequest::kRun},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RequestedInformation(static_cast<int>(c.args.size()), c.args.data()), c.want) << c.args.back();
  }
}

TEST(RequestedInformationTest, UsageNamesEverySwitch) {
  const std::string usage = UsageText();
  for (const char* sw : {"/a", "/f=", "/i", "/q", "/d", "/n=", "/s=", "/e=", "/ip=", "/if=", "/op=", "/pgs=",
                         "--help", "--version"}) {
    EXPECT_NE(usage.find(sw), std::string::npos) << sw;
  }
  // The command's tags, the frames' days among them.
  for (const char* tag : {"<date>", "<time>", "<firstdate>", "<lastdate>", "<firsttime>", "<lasttime>", "<outpath>",
                          "<outfile>", "<outfilebase>", "<outdir>"}) {
    EXPECT_NE(usage.find(tag), std::string::npos) << tag;
  }
  // A scheduler tells the outcomes apart by these.
  for (const char* status : {"0 the movie was written", "1 nothing to make", "4 the movie could not be written",
                             "5 another run", "6 stopped", "7 the movie was written, but the command"}) {
    EXPECT_NE(usage.find(status), std::string::npos) << status;
  }
}

// The manual page of the installed program and the README document what --help lists: each
// switch and each exit status.
TEST(RequestedInformationTest, ManualPageDocumentsEverySwitchAndStatus) {
  std::vector<std::string> switches, statuses;
  std::istringstream usage(UsageText());
  bool in_statuses = false;
  for (std::string line; std::getline(usage, line);) {
    if (line.rfind("Exit status", 0) == 0) in_statuses = true;
    const std::vector<std::string> words = test::ManWords(line);
    if (words.empty() || line.rfind("  ", 0) != 0) continue;
    if (in_statuses && words[0].size() == 1 && std::isdigit(static_cast<unsigned char>(words[0][0]))) {
      statuses.push_back(words[0]);
    } else if (!in_statuses && (words[0][0] == '/' || words[0][0] == '-')) {
      const size_t equals = words[0].find('=');
      switches.push_back(equals == std::string::npos ? words[0] : words[0].substr(0, equals + 1));
    }
  }
  ASSERT_GE(switches.size(), 14u);
  ASSERT_EQ(statuses.size(), 8u);

  const std::vector<test::ManEntry> entries =
      test::ManPageEntries(CHRONOREEL_SOURCE_DIR "/packaging/man/chronoreel.1");
  std::ifstream readme_file(CHRONOREEL_SOURCE_DIR "/README.md");
  const std::string readme{std::istreambuf_iterator<char>(readme_file), std::istreambuf_iterator<char>()};
  // README tables: "| `/f=path` |" and "| 4 |".
  for (const auto& [names, readme_row] : {std::pair{&switches, "| `"}, std::pair{&statuses, "| "}}) {
    for (const std::string& name : *names) {
      const bool found = std::any_of(entries.begin(), entries.end(),
                                     [&](const test::ManEntry& e) { return !e.tag.empty() && e.tag[0] == name; });
      EXPECT_TRUE(found) << name << " has no item in chronoreel.1";
      EXPECT_NE(readme.find(readme_row + name), std::string::npos) << name << " has no row in README.md";
    }
  }
}

}  // namespace
}  // namespace chronoreel
