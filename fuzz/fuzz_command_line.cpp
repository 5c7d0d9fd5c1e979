// Command-line automation: any text must parse without a fault, and arguments joined by
// JoinArguments must reach ProcessCommandLine exactly as they were given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/core/conversions.h"
#include "fuzz_support.h"

using chronoreel::fuzz::ScratchName;
using chronoreel::fuzz::ScratchPath;
using chronoreel::fuzz::Violation;

namespace {

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

// A setup file that exists, so that /a stays in force and the overrides are kept.
const std::string& SetupFile() {
  static const ScratchPath file(ScratchName("cmd", ".tls"));
  static const bool made = chronoreel::fuzz::WriteWholeFile(file.Path(), nullptr, 0);
  (void)made;
  return file.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return -1;
  const std::string text(reinterpret_cast<const char*>(data), size);

  (void)chronoreel::ProcessCommandLine(text, "/tmp");
  (void)chronoreel::ProcessCommandLine(text, "");

  // The input's pieces (split at NUL) as values: quotes cannot travel inside an argument,
  // everything else must.
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == '\0') {
      pieces.emplace_back();
    } else if (c != '"') {
      pieces.back().push_back(c);
    }
  }
  pieces.resize(4);
  const std::vector<std::string> arguments = {
      "/A", "/f=" + SetupFile(), "/ip=" + pieces[0], "/IF=" + pieces[1], "/op=" + pieces[2],
      "/pgs=" + pieces[3], "/n=" + pieces[0]};
  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  const std::string joined = chronoreel::JoinArguments(static_cast<int>(argv.size()), argv.data());

  const chronoreel::CommandLineValues values = chronoreel::ProcessCommandLine(joined, "/tmp");
  if (!values.AutomatedRun) Violation("/a with an existing setup file is not an automated run", joined);
  if (values.SetupFileArgument != SetupFile()) Violation("the setup file did not arrive", joined);
  if (values.StillDirectoryOverride != TrimBlanks(pieces[0])) Violation("/ip= value changed", joined);
  if (values.ImageFilterOverride != TrimBlanks(pieces[1])) Violation("/if= value changed", joined);
  if (values.OutputAVIPathOverride != TrimBlanks(pieces[2])) Violation("/op= value changed", joined);
  if (values.PostGenerationShellOverride != TrimBlanks(pieces[3])) Violation("/pgs= value changed", joined);
  const auto instance = chronoreel::TryCLngNI(pieces[0]);
  if (values.InstanceNumber != instance.value_or(-1)) Violation("/n= value changed", joined);
  return 0;
}
