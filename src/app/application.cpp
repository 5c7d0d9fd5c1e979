#include "app/application.h"

#include <cstdio>

#include "app/core/error_report.h"

namespace chronoreel {

Application::Application(Host& host, const std::string& profile_directory)
    : sun(state.location), movie(state, sun, host), docs(state, movie, ini, host, sun), host_(host) {
  docs.SetProfileDirectory(profile_directory);
  docs.FileInit();
}

void Application::ApplyOverrides() {
  ErrorTrap trap("modMain", "Main");
  const CommandLineValues& cmd = state.cmd;
  if (cmd.StartOverride != -1) {
    movie.SetStartTimeOption(3);
    movie.SetStartTimeAbsolute(cmd.StartOverride);
    movie.SetTimeOption(1);
    if (cmd.StopOverride == -1) {
      movie.SetStopTimeOption(3);
      movie.SetStopTimeAbsolute(100000);  // 14 October 2173: open-ended
    }
  }
  if (cmd.StopOverride != -1) {
    movie.SetStopTimeOption(3);
    movie.SetStopTimeAbsolute(cmd.StopOverride);
    movie.SetTimeOption(1);
    if (cmd.StartOverride == -1) {
      movie.SetStartTimeOption(3);
      movie.SetStartTimeAbsolute(0);
    }
  }
  if (!cmd.StillDirectoryOverride.empty()) movie.SetStillDirectory(cmd.StillDirectoryOverride);
  if (!cmd.ImageFilterOverride.empty()) movie.SetImageFilter(cmd.ImageFilterOverride);
  if (!cmd.OutputAVIPathOverride.empty()) movie.SetOutputAVIPath(cmd.OutputAVIPathOverride);
  if (!cmd.PostGenerationShellOverride.empty()) movie.SetPostGenerationShell(cmd.PostGenerationShellOverride);
  state.SetupChanged = false;
}

void Application::WarnOfSunWithoutLocation() const {
  auto from_sun = [](int32_t option) { return option == 4 || option == 5; };
  if (movie.TimeOption() != 1 || !(from_sun(movie.StartTimeOption()) || from_sun(movie.StopTimeOption()))) {
    return;
  }
  const Location at = movie.RunLocation();  // a setup file may name its own
  if (at.latitude != 0 || at.longitude != 0) return;
  std::fprintf(stderr,
               "chronoreel: the time window counts from sunrise or sunset, but %s holds no "
               "location (Latitude and Longitude in [General]); the times used are those of "
               "latitude 0, longitude 0\n",
               docs.ProfilePath().c_str());
  std::fflush(stderr);
}

bool Application::Shutdown() {
  {
    ErrorTrap trap("modMain", "Shutdown");
    if (state.SetupChanged && !state.cmd.AutomatedRun) {
      MessageBoxRequest prompt;
      prompt.text = "Would you like to save the current file?";
      prompt.title = "Save Changes?";
      prompt.buttons = MessageButtons::YesNoCancel;
      switch (host_.ShowMessage(prompt)) {
        case MessageAnswer::Cancel:
          return false;
        case MessageAnswer::Yes:
          // A save that failed or was cancelled keeps the program, and the edits, alive.
          if (!docs.SaveFile()) return false;
          break;
        default:
          state.SetupChanged = false;
          break;
      }
    }
  }
  // From here every step is attempted; errors are ignored.
  try {
    if (!docs.SaveSetup() && state.cmd.AutomatedRun) {
      // Without a window nobody would ever learn that the location was not kept.
      std::fprintf(stderr, "chronoreel: %s\n", ini.LastError().c_str());
    }
  } catch (...) {
  }
  try {
    docs.FileShutdown();
  } catch (...) {
  }
  return true;
}

}  // namespace chronoreel
