// The interactive start: the program's own application object, whose event dispatch shows a
// fault that escapes any handler as the error report (naming the handler) and ends the
// program with status 3; and the setup the main window opens with.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <fstream>

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/application.h"
#include "app/core/error_report.h"
#include "support/test_files.h"
#include "ui/interactive.h"
#include "ui/main_window.h"
#include "ui/qt_host.h"

namespace chronoreel {
namespace {

// The box of a real start would wait for a person: here it says what it would show.
void PrintBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "box: %s\n%s\n", title.c_str(), text.c_str());
}

void FaultInAHandler() {
  SetErrorBoxShower(&PrintBox);
  QTimer::singleShot(0, [] {
    ErrorTrap trap("frmMain", "cmdMakeMovie_Click");
    throw Fault(1234, "cannot open output /x/y.avi");
  });
  QCoreApplication::processEvents();
  std::fprintf(stderr, "the fault was swallowed\n");
  std::exit(0);
}

void StandardExceptionInAHandler() {
  SetErrorBoxShower(&PrintBox);
  QTimer::singleShot(0, [] {
    ErrorTrap trap("frmLocation", "UpdateCoordinates");
    throw std::bad_alloc();
  });
  QCoreApplication::processEvents();
  std::exit(0);
}

TEST(GuardedApplicationDeathTest, FaultInAHandlerShowsTheReportNamingItAndEnds) {
  EXPECT_EXIT(FaultInAHandler(), ::testing::ExitedWithCode(3),
              "box: Error Debug Report\n(.|\n)*Module: frmMain\nProcedure: cmdMakeMovie_Click\n"
              "(.|\n)*Error #: 1234\nError Description: cannot open output /x/y.avi");
}

TEST(GuardedApplicationDeathTest, AnyExceptionEndsInTheReportToo) {
  EXPECT_EXIT(StandardExceptionInAHandler(), ::testing::ExitedWithCode(3),
              "box: Error Debug Report\n(.|\n)*Module: frmLocation\nProcedure: UpdateCoordinates");
}

// ---- the setup the main window opens with ----

struct StartCase {
  const char* what;
  bool named_on_command_line;
  bool used_last;
  const char* expected;  // the file opened: "named", "last" or "" for the defaults
};

TEST(InteractiveStart, OpensTheNamedSetupElseTheOneUsedLastElseTheDefaults) {
  const StartCase cases[] = {
      {"nothing", false, false, ""},
      {"a setup used last", false, true, "last"},
      {"a setup named", true, false, "named"},
      {"both", true, true, "named"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("chronoreel-start");
    for (const char* name : {"named", "last"}) {
      std::ofstream(dir.File(std::string(name) + ".tls")) << "[General]\nStillDirectory=/cam/" << name << "\n";
    }
    if (c.used_last) {
      std::ofstream(dir.File("Chronoreel.INI")) << "[Last Files]\nFile1=" << dir.File("last.tls") << "\n";
    }
    QtHost host;
    host.SetMessageResponder([](const MessageBoxRequest&) { return MessageAnswer::Cancel; });
    Application app(host, dir.Str());
    app.docs.LoadSetup();
    CommandLineValues cmd;
    if (c.named_on_command_line) cmd.SetupFileArgument = dir.File("named.tls");
    app.state.cmd = cmd;
    MainWindow window(app, host);
    host.SetMainWindow(&window);
    LoadStartingSetup(app, window, cmd);

    const std::string expected = *c.expected ? dir.File(std::string(c.expected) + ".tls") : "";
    EXPECT_EQ(app.state.CurrentFile, expected);
    const std::string title = expected.empty() ? "Chronoreel" : "Chronoreel - " + expected;
    EXPECT_EQ(window.windowTitle().toStdString(), title + "[*]");
    auto* directory = window.findChild<QLineEdit*>("txtImageDirectory");
    ASSERT_NE(directory, nullptr);
    ProgramState fresh;
    Sun fresh_sun(fresh.location);
    const MovieGen defaults(fresh, fresh_sun, host);
    EXPECT_EQ(directory->text().toStdString(),
              expected.empty() ? defaults.StillDirectory() : "/cam/" + std::string(c.expected));
    auto* recent = window.findChild<QAction*>("mnuFiles_0");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(recent->isVisible(), !expected.empty());
    EXPECT_FALSE(app.state.SetupChanged);
    host.SetMainWindow(nullptr);
  }
}

}  // namespace
}  // namespace chronoreel

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The child of a death test starts afresh: no Qt threads forked half-way.
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  chronoreel::GuardedApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
