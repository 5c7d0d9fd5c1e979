#pragma once
#include <string>
#include <vector>

#include "app/core/program_state.h"

namespace chronoreel {

// Joins the process's arguments (without the program path) with blanks; an argument that
// holds a blank is put back in quotes.
std::string JoinArguments(int argc, const char* const* argv);

// Parses the command-line text into the values: switches in any letter case, values in
// the case they were typed. /f= resolves a bare name against current_directory and must
// name an existing file. Without /a (and a setup file) every value but the file returns
// to its default.
CommandLineValues ProcessCommandLine(const std::string& command_line,
                                     const std::string& current_directory);

// The switches, a line each, and the exit statuses: what --help prints.
const char* UsageText();

// --help (also -h, /?, /h) and --version (also /v) answer at once, before any setup file is
// read; anything else runs the program.
enum class ProgramRequest { kRun, kHelp, kVersion };
ProgramRequest RequestedInformation(int argc, const char* const* argv);

}  // namespace chronoreel
