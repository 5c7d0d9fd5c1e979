#include "ui/interactive.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "app/application.h"
#include "app/core/error_report.h"
#include "app/startup.h"
#include "ui/main_window.h"
#include "ui/qt_host.h"
#include "ui/splash_about.h"

namespace chronoreel {

namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

void ShowErrorBox(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

int Interactive(Application& app, QtHost& host, const CommandLineValues& cmd) {
  ErrorTrap trap("modMain", "Main");
  if (cmd.SetupFileArgument.empty()) {
    Splash splash(host);
    splash.ShowSplash();
    splash.RedrawSplash();
    splash.CloseSplash();
    splash.UnloadSplash();
  }

  MainWindow window(app, host);
  host.SetMainWindow(&window);
  LoadStartingSetup(app, window, cmd);
  window.show();
  QApplication::exec();
  host.SetMainWindow(nullptr);
  return kExitCompleted;
}

}  // namespace

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Chronoreel");
  setApplicationVersion(CHRONOREEL_VERSION);
  setWindowIcon(ProgramIcon());
  SetErrorBoxShower(&ShowErrorBox);
}

// Once the application is gone no box can be shown: reports go to standard error again.
GuardedApplication::~GuardedApplication() { SetErrorBoxShower(nullptr); }

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    // The first error trap the fault passed names the handler.
    ReportCurrentException("frmMain", "Main");
  }
}

void LoadStartingSetup(Application& app, MainWindow& window, const CommandLineValues& cmd) {
  window.ShowDocumentTitle("Chronoreel");
  if (!cmd.SetupFileArgument.empty()) {
    app.state.CurrentFile = cmd.SetupFileArgument;
    app.docs.LoadFile();
  } else if (!app.state.LastFiles[0].empty()) {
    app.state.CurrentFile = app.state.LastFiles[0];
    app.docs.LoadFile();
  } else {
    window.UpdateSetupControls();
  }
  window.UpdateLastFilesMenu();
}

bool DisplayAvailable() {
  return EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
}

std::string InstanceCaption(int instance_number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", instance_number);
  return std::string("QZ") + digits;
}

int RunWithDisplay(int& argc, char** argv, const std::string& profile_dir, const CommandLineValues& cmd) {
  GuardedApplication qt(argc, argv);
  try {
    QtHost host;
    Application app(host, profile_dir);
    // A dry run leaves every file as it was, the profile and the setup file included.
    if (cmd.AutomatedRun && cmd.DryRun) app.ini.SetReadOnly(true);
    app.docs.LoadSetup();
    app.state.cmd = cmd;
    if (cmd.AutomatedRun) {
      // A scheduler finds the run of one instance by this window's caption.
      QWidget instance_window;
      if (cmd.InstanceNumber >= 0) {
        instance_window.setObjectName("frmID");
        instance_window.setWindowTitle(QString::fromStdString(InstanceCaption(cmd.InstanceNumber)));
        instance_window.winId();
      }
      return RunAutomated(app);
    }
    return Interactive(app, host, cmd);
  } catch (...) {
    ReportCurrentException("modMain", "Main");
  }
}

}  // namespace chronoreel
