#pragma once
#include <string>

#include "app/application.h"

namespace chronoreel {

// Exit statuses of the program.
constexpr int kExitCompleted = 0;    // the run reached its end (the movie was written)
constexpr int kExitEndedEarly = 1;   // no files, none in the window, cancelled, output failed
constexpr int kExitNoDisplay = 2;    // an interactive start without a display
constexpr int kExitErrorReport = 3;  // after the error report

// The automated run on an Application whose profile is loaded and whose state.cmd holds the
// command line: loads the named setup file, applies the overrides, makes the movie and
// shuts down. Returns the exit status.
int RunAutomated(Application& app);

}  // namespace chronoreel
