#include "app/command_line.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "time/date_time.h"

namespace chronoreel {

namespace {

// Splits the text at blanks that stand outside double quotes. Quotes pair up from the left
// (first with second, third with fourth, ...) and are removed; the blanks between a pair
// stay inside the argument. Instead of turning those blanks into a placeholder byte and
// back, each blank is marked as protected, so a path that holds any byte at all (Linux file
// names need not be UTF-8) arrives unchanged. A quote without a partner (always the last
// one) is kept as an ordinary character: the arguments before it parse as usual.
std::vector<std::string> SplitArguments(std::string_view s) {
  size_t quote_count = 0;
  size_t last_quote = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '"') {
      ++quote_count;
      last_quote = i;
    }
  }
  const size_t lone_quote = (quote_count % 2 == 1) ? last_quote : std::string_view::npos;

  std::vector<std::string> arguments(1);
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' && i != lone_quote) {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      arguments.emplace_back();  // two blanks in a row give an empty argument
    } else {
      arguments.back().push_back(c);
    }
  }
  return arguments;
}

bool StartsWith(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }

std::string ResolveSetupFile(const std::string& value, const std::string& current_directory) {
  std::string path = TrimSpaces(value);
  bool has_folder = false;
  for (char c : path) has_folder = has_folder || IsFolderSeparator(c);
  if (!has_folder && !current_directory.empty()) {
    std::string folder = current_directory;
    if (!IsFolderSeparator(folder.back())) folder.push_back('/');
    path = folder + path;
  }
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(std::filesystem::path(path), ec)) return std::string();
  return path;
}

}  // namespace

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) {
    if (argv == nullptr || argv[i] == nullptr) continue;
    const std::string_view argument(argv[i]);
    if (!text.empty()) text.push_back(' ');
    if (argument.find(' ') != std::string_view::npos) {
      text.push_back('"');
      text.append(argument);
      text.push_back('"');
    } else {
      text.append(argument);
    }
  }
  return text;
}

CommandLineValues ProcessCommandLine(const std::string& command_line, const std::string& current_directory) {
  ErrorTrap trap("modCommandLine", "ProcessCommandLine");
  CommandLineValues values;
  const std::string s = TrimSpaces(command_line);
  if (s.empty()) return values;

  for (const std::string& t : SplitArguments(s)) {
    // Switch names are matched in any letter case, but every value is taken as typed: on a
    // case-sensitive file system a lower-cased path names another file.
    const std::string lt = AsciiLower(t);
    if (lt.empty() || lt[0] != '/') continue;
    const std::string_view rest = std::string_view(lt).substr(1);
    if (rest == "i") {
      values.ShowProgress = false;
    } else if (StartsWith(rest, "n=")) {
      // Out of the 32-bit range counts as not numeric rather than failing the start.
      if (const auto number = TryCLngNI(std::string_view(t).substr(3))) values.InstanceNumber = *number;
    } else if (StartsWith(rest, "s=")) {
      if (const auto when = ParseDateText(std::string_view(t).substr(3))) values.StartOverride = *when;
    } else if (StartsWith(rest, "e=")) {
      if (const auto when = ParseDateText(std::string_view(t).substr(3))) values.StopOverride = *when;
    } else if (StartsWith(rest, "f=")) {
      values.SetupFileArgument = ResolveSetupFile(t.substr(3), current_directory);
    } else if (rest == "a") {
      values.AutomatedRun = true;
    } else if (rest == "q") {
      values.Quiet = true;
      values.ShowProgress = false;
    } else if (rest == "d") {
      values.DryRun = true;
    } else if (StartsWith(rest, "ip=")) {
      values.StillDirectoryOverride = TrimSpaces(std::string_view(t).substr(4));
    } else if (StartsWith(rest, "if=")) {
      values.ImageFilterOverride = TrimSpaces(std::string_view(t).substr(4));
    } else if (StartsWith(rest, "op=")) {
      values.OutputAVIPathOverride = TrimSpaces(std::string_view(t).substr(4));
    } else if (StartsWith(rest, "pgs=")) {
      values.PostGenerationShellOverride = TrimSpaces(std::string_view(t).substr(5));
    }
  }

  if (values.SetupFileArgument.empty()) values.AutomatedRun = false;
  if (!values.AutomatedRun) {
    // Overrides apply to an automated run only; a named setup file still opens in the window.
    CommandLineValues defaults;
    defaults.SetupFileArgument = values.SetupFileArgument;
    values = defaults;
  }
  return values;
}

const char* UsageText() {
  return "Usage: chronoreel [/f=setup.tls]                 open the main window\n"
         "       chronoreel /a /f=setup.tls [switches]     make the movie unattended\n"
         "\n"
         "  /a            automated run: load the setup file, make the movie, end\n"
         "  /f=path       the setup file (a bare name is looked up in the current folder)\n"
         "  /i            no progress on standard error\n"
         "  /q            quiet: print nothing unless something failed (for cron)\n"
         "  /d            dry run: list the frames and the stills to delete; change nothing\n"
         "  /n=number     instance number (a hidden window \"QZ\" and the number)\n"
         "  /s=date       start of the time window, e.g. 12/7/2026 or \"2026-12-07T18:00\"\n"
         "  /e=date       stop of the time window\n"
         "  /ip=folder    the still folder\n"
         "  /if=pattern   the file pattern, e.g. *.jpg\n"
         "  /op=path      the output movie (.avi, .mp4, .m4v, .mov, .mkv or .webm)\n"
         "  /pgs=command  the command to run afterwards; its tags: <date> <time> of the run,\n"
         "                <firstdate> <lastdate> (YYMMDD) and <firsttime> <lasttime> (HHMM) of the\n"
         "                first and last frame, <outpath> <outfile> <outfilebase> <outdir>\n"
         "                (a dry run shows it filled in, the stills left out as too dark or too\n"
         "                bright, and the setup file's own Latitude and Longitude)\n"
         "  --help        this text\n"
         "  --version     the version\n"
         "\n"
         "Exit status:\n"
         "  0 the movie was written (and the command afterwards ended with 0), or the dry run\n"
         "    listed it\n"
         "  1 nothing to make: no stills found, none in the time window, none could be decoded\n"
         "  2 no display for the main window\n"
         "  3 an unexpected error: the error report\n"
         "  4 the movie could not be written (open, encoder, write or disk failure)\n"
         "  5 another run is writing the same movie\n"
         "  6 stopped: cancelled, or ended by SIGTERM, SIGINT or SIGHUP\n"
         "  7 the movie was written, but the command afterwards could not start or failed\n";
}

ProgramRequest RequestedInformation(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv == nullptr || argv[i] == nullptr) continue;
    const std::string a = AsciiLower(argv[i]);
    if (a == "--help" || a == "-h" || a == "/?" || a == "/h") return ProgramRequest::kHelp;
    if (a == "--version" || a == "/v") return ProgramRequest::kVersion;
  }
  return ProgramRequest::kRun;
}

}  // namespace chronoreel
