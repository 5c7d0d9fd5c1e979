// Pictures of the windows for the documentation, taken on a virtual display by
// tools/screenshots.sh; a developer's tool, not part of the program.
//   chronoreel-screenshots <picture folder> [<folder of stills>]
// The main window with a setup as a user would have it, the about box, the location and
// compression dialogs and, given a folder of stills, the progress window of a run.
#include <cstdio>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/application.h"
#include "app/core/error_report.h"
#include "ui/interactive.h"
#include "ui/main_window.h"
#include "ui/preview_window.h"
#include "ui/qt_host.h"
#include "ui/run_notice.h"
#include "ui/splash_about.h"

namespace chronoreel {

namespace {

void Settle() {
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
}

void Save(QWidget* widget, const std::string& folder, const char* name) {
  if (widget == nullptr) return;
  Settle();
  widget->grab().save(QString::fromStdString((std::filesystem::path(folder) / name).string()));
}

QWidget* TopLevel(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

void TakeScreenshots(Application& app, QtHost& host, MainWindow& window, const std::string& folder,
                     const std::string& stills) {
  std::filesystem::create_directories(folder);
  // A setup as a user would have it: sunrise to sunset of one camera, two frames a minute.
  MovieGen& m = app.movie;
  m.SetStillDirectory("/srv/webcam/garden");
  m.SetIncludeSubfolders(true);
  m.SetOutputAVIPath("/srv/www/garden-today.mp4");
  m.SetPostGenerationShell("cp \"<outpath>\" \"/srv/www/archive/garden<date>.mp4\"");
  m.SetDeleteOldImages(true);
  m.SetDeleteOldImagesHours(168);
  m.SetTimeOption(1);
  m.SetStartTimeOption(4);
  m.SetStartTimeSunriseRelative(-0.5);
  m.SetStopTimeOption(5);
  m.SetStopTimeSunsetRelative(0.5);
  m.SetTimeStampOption(2);
  m.SetStampText("Garden  %Y-%m-%d %H:%M");
  m.SetStampPosition(3);
  m.SetStampSize(5);
  m.SetDeflickerFrames(8);
  m.SetImageIntervalOption(1);
  m.SetImagesPerHour(120);
  m.SetMovieFPS(30);
  window.UpdateSetupControls();
  // As it opens on this screen: on a small one it scrolls rather than overflows.
  Settle();
  QGuiApplication::primaryScreen()->grabWindow(0).save(
      QString::fromStdString((std::filesystem::path(folder) / "desktop.png").string()));
  // Every group at once, for the manual.
  const QSize opened = window.size();
  window.resize(window.sizeHint());
  Save(&window, folder, "main_window.png");
  window.resize(opened);

  // A typo in a box: marked at once, and named before a run.
  if (auto* box = window.findChild<QLineEdit*>("txtImageInterval")) {
    const QString kept = box->text();
    box->setText("abc");
    QWidget* group = box->parentWidget();
    while (group != nullptr && qobject_cast<QGroupBox*>(group) == nullptr) group = group->parentWidget();
    Save(group != nullptr ? group : box->parentWidget(), folder, "marked_box.png");
    box->setText(kept);
  }

  window.mnuAbout_Click();
  Save(window.About(), folder, "about.png");
  if (window.About() != nullptr) window.About()->close();

  QTimer::singleShot(300, [&folder] {
    QWidget* dialog = TopLevel("frmLocation");
    Save(dialog, folder, "location.png");
    if (dialog != nullptr) dialog->close();
  });
  window.mnuLocation_Click();

  QTimer::singleShot(300, [&folder] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    // An encoder with options of its own shows more of the dialog than the first entry.
    if (auto* list = dialog != nullptr ? dialog->findChild<QComboBox*>("cmbCompressor") : nullptr) {
      int pick = list->findText("H264", Qt::MatchStartsWith);
      if (pick < 0) pick = list->findText("MJPG", Qt::MatchStartsWith);
      if (pick >= 0) list->setCurrentIndex(pick);
    }
    Save(dialog, folder, "compression.png");
    if (dialog != nullptr) dialog->reject();
  });
  window.cmdShowCompressionOptions_Click();

  if (!stills.empty()) {
    app.movie.SetStillDirectory(stills);
    app.movie.SetImageFilter("*.jpg");
    app.movie.SetTimeOption(0);
    app.movie.SetTimeStampOption(0);
    app.movie.SetIncludeSubfolders(false);
    app.movie.SetStampText("%Y-%m-%d %H:%M:%S");
    app.movie.SetDeflickerFrames(0);
    app.movie.SetImageIntervalOption(0);
    app.movie.SetMovieSizeOption(0);
    app.movie.SetMovieFPS(2);
    app.movie.SetPostGenerationShell("");
    app.movie.SetDeleteOldImages(false);
    app.movie.SetOutputAVIPath((std::filesystem::temp_directory_path() / "chronoreel-screenshot.avi").string());
    // Taken once a frame is on screen, from inside the run's own event handling.
    bool taken = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      PreviewWindow* preview = host.CurrentPreview();
      if (taken || preview == nullptr || preview->Picture()->Image().isNull()) return;
      taken = true;
      Save(preview, folder, "progress.png");
    });
    poll.start(100);
    window.cmdMakeMovie_Click();
    poll.stop();
    Save(&window, folder, "run_notice.png");
    RunNotice::HideIn(&window);

    window.cmdPreviewSelection_Click();
    Save(TopLevel("frmSelectionPreview"), folder, "selection_preview.png");
    if (QWidget* preview = TopLevel("frmSelectionPreview")) preview->close();
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::temp_directory_path() / "chronoreel-screenshot.avi", ignored);
  }
  // Unchanged-looking, so that the window closes without asking to save.
  app.state.SetupChanged = false;
  window.close();
}

}  // namespace
}  // namespace chronoreel

int main(int argc, char** argv) {
  using namespace chronoreel;
  if (argc < 2 || argc > 3) {
    std::fputs("usage: chronoreel-screenshots <picture folder> [<folder of stills>]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const std::string stills = argc > 2 ? argv[2] : "";
  GuardedApplication qt(argc, argv);
  try {
    // The profile is read from and written to the current directory, as the program does.
    QtHost host;
    Application app(host, std::filesystem::current_path().string());
    app.docs.LoadSetup();
    MainWindow window(app, host);
    host.SetMainWindow(&window);
    LoadStartingSetup(app, window, app.state.cmd);
    window.show();
    TakeScreenshots(app, host, window, folder, stills);
    host.SetMainWindow(nullptr);
    return 0;
  } catch (...) {
    ReportCurrentException("screenshots", "main");
  }
}
