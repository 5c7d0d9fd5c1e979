// chronoreel: makes time-lapse movies from webcam stills, in a window or unattended.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/application.h"
#include "app/command_line.h"
#include "app/console_host.h"
#include "app/core/error_report.h"
#include "app/startup.h"
#ifdef CHRONOREEL_WITH_UI
#include "ui/interactive.h"
#endif

namespace {

std::string CurrentDirectory() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  return ec ? std::string(".") : dir;
}

// True when the raw arguments asked for an automated run, whatever became of it.
bool AskedForAutomatedRun(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "/a" || a == "/A") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace chronoreel;
  try {
    switch (RequestedInformation(argc, argv)) {
      case ProgramRequest::kHelp:
        std::fputs(UsageText(), stdout);
        return kExitCompleted;
      case ProgramRequest::kVersion:
        std::printf("chronoreel %s\n", CHRONOREEL_VERSION);
        return kExitCompleted;
      case ProgramRequest::kRun:
        break;
    }
    const std::string cwd = CurrentDirectory();
    const CommandLineValues cmd = ProcessCommandLine(JoinArguments(argc - 1, argv + 1), cwd);
#ifdef CHRONOREEL_WITH_UI
    if (DisplayAvailable()) return RunWithDisplay(argc, argv, cwd, cmd);
#endif
    if (!cmd.AutomatedRun) {
      if (AskedForAutomatedRun(argc, argv)) {
        std::fprintf(stderr,
                     "chronoreel: an unattended run (/a) needs an existing setup file: /f=cam.tls\n");
      } else {
        std::fprintf(stderr,
                     "chronoreel: no display is available for the main window; for an unattended "
                     "run use: chronoreel /a /f=cam.tls\n");
      }
      return kExitNoDisplay;
    }
    ConsoleHost host(cmd.ShowProgress);
    Application app(host, cwd);
    // A dry run leaves every file as it was, the profile and the setup file included.
    if (cmd.DryRun) app.ini.SetReadOnly(true);
    app.docs.LoadSetup();
    app.state.cmd = cmd;
    return RunAutomated(app);
  } catch (...) {
    ReportCurrentException("modMain", "Main");
  }
}
