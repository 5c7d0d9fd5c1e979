#pragma once
// Program-wide state, in one object made by start-up (or by a test) and handed to
// whoever needs it. There are no globals to patch.
#include <array>
#include <cstdint>
#include <string>

namespace chronoreel {

// Signed decimal degrees, north and east positive.
struct Location {
  double latitude = 0.0;
  double longitude = 0.0;
};

// The values of the command line. -1 and empty mean "not given".
struct CommandLineValues {
  bool AutomatedRun = false;
  std::string SetupFileArgument;
  bool ShowProgress = true;
  int32_t InstanceNumber = -1;
  double StartOverride = -1;
  double StopOverride = -1;
  std::string StillDirectoryOverride;
  std::string ImageFilterOverride;
  std::string OutputAVIPathOverride;
  std::string PostGenerationShellOverride;
  bool Quiet = false;   // /q: nothing on standard output or error unless something failed
  bool DryRun = false;  // /d: report the frames and deletions, change nothing
};

struct ProgramState {
  bool SetupChanged = false;               // unsaved edits in the settings
  Location location;                       // for sunrise and sunset
  std::string CurrentFile;                 // the open setup file
  std::array<std::string, 4> LastFiles{};  // most recent first
  CommandLineValues cmd;                   // AutomatedRun, ShowProgress and the overrides
  bool SaveCommandsEnabled = false;        // "&Save Setup" enabled by the first load
};

}  // namespace chronoreel
