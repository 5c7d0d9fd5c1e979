#pragma once
// The start with a display: the Qt application, its host, the program-wide objects, then
// either the automated run (with its instance window) or the windows.
#include <string>

#include <QApplication>

#include "app/core/program_state.h"

namespace chronoreel {

// The program's QApplication: a fault that escapes an event handler ends in the error
// report (shown in a box while this application lives), not in Qt's abort.
class GuardedApplication : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv);
  ~GuardedApplication() override;
  bool notify(QObject* receiver, QEvent* event) override;
};

class Application;
class MainWindow;

// The interactive start once the main window exists: its caption, then the setup named on
// the command line, or else the one used last, or else the defaults; the recent-files menu.
void LoadStartingSetup(Application& app, MainWindow& window, const CommandLineValues& cmd);

// True when a Qt GUI platform can be opened: QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY set.
bool DisplayAvailable();

// The caption of the instance window of an automated run: "QZ" and at least three digits.
std::string InstanceCaption(int instance_number);

// Returns the exit status of the program.
int RunWithDisplay(int& argc, char** argv, const std::string& profile_dir, const CommandLineValues& cmd);

}  // namespace chronoreel
