#pragma once
#include <string>

#include "app/application.h"

namespace chronoreel {

// Exit statuses of the program: a scheduler tells "nothing to do" from a failure.
constexpr int kExitCompleted = 0;       // the movie was written and its command succeeded (or a request was met)
constexpr int kExitNothingToMake = 1;   // no stills, none in the window, none that gave a frame
constexpr int kExitNoDisplay = 2;       // an interactive start without a display
constexpr int kExitErrorReport = 3;     // after the error report
constexpr int kExitWriteFailed = 4;     // the movie could not be written
constexpr int kExitBusy = 5;            // another run writes the same movie
constexpr int kExitStopped = 6;         // cancelled, or ended by SIGTERM, SIGINT or SIGHUP
constexpr int kExitCommandFailed = 7;   // the movie was written; the command afterwards failed

// The automated run on an Application whose profile is loaded and whose state.cmd holds the
// command line: loads the named setup file, applies the overrides, makes the movie and
// shuts down. Returns the exit status.
int RunAutomated(Application& app);

}  // namespace chronoreel
