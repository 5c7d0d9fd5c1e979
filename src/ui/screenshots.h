#pragma once
// Pictures of the windows for the documentation, taken when CHRONOREEL_SCREENSHOT_DIR names
// a folder (a developer's switch, used by tools/screenshots.sh).
#include <string>

namespace chronoreel {

class Application;
class MainWindow;
class QtHost;

// Grabs the main window, the about box, the location and compression dialogs and, when
// CHRONOREEL_SCREENSHOT_STILLS names a folder of stills, the progress window of a run into
// that folder; then leaves the settings unchanged-looking so the program can close at once.
void TakeScreenshots(Application& app, QtHost& host, MainWindow& window, const std::string& folder);

}  // namespace chronoreel
