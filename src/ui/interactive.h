#pragma once
// The start with a display: the Qt application, its host, the program-wide objects, then
// either the automated run (with its instance window) or the windows.
#include <string>

#include "app/core/program_state.h"

namespace chronoreel {

// True when a Qt GUI platform can be opened: QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY set.
bool DisplayAvailable();

// The caption of the instance window of an automated run: "QZ" and at least three digits.
std::string InstanceCaption(int instance_number);

// Returns the exit status of the program.
int RunWithDisplay(int& argc, char** argv, const std::string& profile_dir, const CommandLineValues& cmd);

}  // namespace chronoreel
