#include "app/startup.h"

#include "app/core/error_report.h"

namespace chronoreel {

int RunAutomated(Application& app) {
  ErrorTrap trap("modMain", "Main");
  app.state.CurrentFile = app.state.cmd.SetupFileArgument;
  app.docs.LoadFile();
  app.ApplyOverrides();
  app.movie.MakeMovie();
  const bool completed = app.movie.LastRunCompleted();
  app.Shutdown();
  return completed ? kExitCompleted : kExitEndedEarly;
}

}  // namespace chronoreel
