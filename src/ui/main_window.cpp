// The main window's construction, its menus and recent files, and its commands.
#include "ui/main_window.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "engine/codecs.h"
#include "engine/container.h"
#include "ui/compression_dialog.h"
#include "ui/location_dialog.h"
#include "ui/qt_host.h"
#include "ui/run_notice.h"
#include "ui/selection_preview.h"
#include "ui/splash_about.h"
#include "ui/window_placement.h"

namespace chronoreel {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

MainWindow::MainWindow(Application& app, QtHost& host) : app_(app), host_(host) {
  setObjectName("frmMain");
  setWindowTitle("Chronoreel[*]");
  BuildMenus();

  // The groups scroll, so that the window fits a small screen; the commands below them stay in sight.
  auto* groups = new QWidget(this);
  auto* layout = new QVBoxLayout(groups);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(BuildInput());
  layout->addWidget(BuildTimeFilter());

  auto* lower = new QHBoxLayout;
  lower->addWidget(BuildOutput(), 1);
  auto* right = new QVBoxLayout;
  right->addWidget(BuildMovieSize());
  right->addWidget(BuildTimeStamps());
  right->addWidget(BuildImageInterval());
  right->addStretch();
  lower->addLayout(right, 1);
  layout->addLayout(lower);
  layout->addWidget(BuildLongTerm());

  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  groups_ = new QScrollArea(central);
  groups_->setObjectName("scrGroups");
  groups_->setWidgetResizable(true);
  groups_->setFrameShape(QFrame::NoFrame);
  groups_->setWidget(groups);
  outer->addWidget(groups_, 1);

  auto* bottom = new QHBoxLayout;
  chkMovieDirection = new QCheckBox("Reverse Frame Order", central);
  chkMovieDirection->setObjectName("chkMovieDirection");
  connect(chkMovieDirection, &QCheckBox::toggled, this, [this](bool checked) {
    ErrorTrap trap("frmMain", "chkMovieDirection_Click");
    if (!updating_) app_.movie.SetMovieDirection(checked ? -1 : 1);
  });
  cmdMakeMovie = new QPushButton("&Make Movie", central);
  cmdMakeMovie->setObjectName("cmdMakeMovie");
  connect(cmdMakeMovie, &QPushButton::clicked, this, [this] { cmdMakeMovie_Click(); });
  auto* preview = new QPushButton("Pre&view Selection\u2026", central);
  preview->setObjectName("cmdPreviewSelection");
  preview->setToolTip("The frames, deletions and command of a run with these settings; nothing is made");
  connect(preview, &QPushButton::clicked, this, [this] { cmdPreviewSelection_Click(); });
  auto* quit = new QPushButton("&Quit", central);
  quit->setObjectName("cmdQuit");
  connect(quit, &QPushButton::clicked, this, [this] {
    ErrorTrap trap("frmMain", "cmdQuit_Click");
    close();
  });
  bottom->addWidget(chkMovieDirection);
  bottom->addStretch();
  bottom->addWidget(cmdMakeMovie);
  bottom->addWidget(preview);
  bottom->addWidget(quit);
  outer->addLayout(bottom);
  setCentralWidget(central);
  Bind();
  updating_ = true;  // the enabled states only: nothing is loaded yet
  optUseTimeFilter_Click(0);
  optImageInterval_Click(0);
  updating_ = false;
  app_.movie.SetChangeListener([this] { setWindowModified(true); });

  // As large as the groups want, but never more than most of the screen.
  QSize opening = sizeHint();
  if (const QScreen* shown_on = screen()) {
    const QSize most = shown_on->availableGeometry().size() * 0.9;
    // Cut in height, the groups scroll: room for the scroll bar beside them, or they would
    // scroll sideways too.
    if (opening.height() > most.height()) opening.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    opening = opening.boundedTo(most);
  }
  resize(opening);
}

QSize MainWindow::sizeHint() const {
  // The size at which nothing scrolls: the scroll area's own hint is a fixed small one.
  QSize hint = QMainWindow::sizeHint();
  const QSize groups = groups_->widget()->sizeHint();
  const QMargins margins = centralWidget()->layout()->contentsMargins();
  hint.setWidth(std::max(hint.width(), groups.width() + margins.left() + margins.right()));
  hint.setHeight(hint.height() - groups_->sizeHint().height() + groups.height());
  return hint;
}

MainWindow::~MainWindow() { app_.movie.SetChangeListener(nullptr); }

AboutBox* MainWindow::About() const { return about_.data(); }

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, const char* name, const char* caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
  };
  auto separator = [](QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    return action;
  };
  // A command can set or clear SetupChanged (an edit, a load, a save, "No" at the save prompt).
  auto command = [this](QAction* action, const char* procedure, std::function<void()> body) {
    connect(action, &QAction::triggered, this, [this, procedure, body] {
      ErrorTrap trap("frmMain", procedure);
      body();
      setWindowModified(app_.state.SetupChanged);
    });
  };
  // The platform's keys where it has some, else the usual ones.
  auto keys = [](QAction* action, QKeySequence::StandardKey standard, const char* usual) {
    action->setShortcuts(standard);
    if (action->shortcuts().isEmpty()) action->setShortcut(QKeySequence(usual));
  };

  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("mnuFile");
  QAction* new_setup = add(file, "mnuNewSetup", "&New Setup…");
  command(new_setup, "mnuNewSetup_Click", [this] { app_.docs.NewFile(); });
  keys(new_setup, QKeySequence::New, "Ctrl+N");
  QAction* open = add(file, "mnuOpen", "&Open Setup…");
  command(open, "mnuOpen_Click", [this] { app_.docs.OpenFile(); });
  keys(open, QKeySequence::Open, "Ctrl+O");
  mnuSave = add(file, "mnuSave", "&Save Setup");
  command(mnuSave, "mnuSave_Click", [this] { app_.docs.SaveFile(); });
  keys(mnuSave, QKeySequence::Save, "Ctrl+S");
  mnuSave->setEnabled(false);
  mnuSaveAs = add(file, "mnuSaveAs", "Save &As Setup…");
  command(mnuSaveAs, "mnuSaveAs_Click", [this] { app_.docs.SaveAsFile(); });
  keys(mnuSaveAs, QKeySequence::SaveAs, "Ctrl+Shift+S");
  mnuSepFiles = separator(file, "mnuSepFiles");
  mnuSepFiles->setVisible(false);
  for (int i = 0; i < 4; ++i) {
    mnuFiles[i] = file->addAction(QString());
    mnuFiles[i]->setObjectName(QString("mnuFiles_%1").arg(i));
    mnuFiles[i]->setVisible(false);
    command(mnuFiles[i], "mnuFiles_Click", [this, i] { app_.docs.OpenRecentFile(i); });
  }
  separator(file, "mnuSep2");
  QAction* quit = add(file, "mnuQuit", "&Quit");
  command(quit, "mnuQuit_Click", [this] { close(); });
  keys(quit, QKeySequence::Quit, "Ctrl+Q");

  // Alt+M is the "Make Movie" button's: the menu takes the o.
  QMenu* movie = menuBar()->addMenu("M&ovie");
  movie->setObjectName("mnuMovie");
  QAction* make_movie = add(movie, "mnuMakeMovie", "&Make Movie");
  connect(make_movie, &QAction::triggered, this, [this] { cmdMakeMovie_Click(); });
  make_movie->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  connect(add(movie, "mnuPreviewSelection", "Pre&view Selection\u2026"), &QAction::triggered, this,
          [this] { cmdPreviewSelection_Click(); });

  QMenu* settings = menuBar()->addMenu("&Settings");
  settings->setObjectName("mnuSettings");
  connect(add(settings, "mnuLocation", "&Location…"), &QAction::triggered, this,
          [this] { mnuLocation_Click(); });

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("mnuHelp");
  QAction* online_help = add(help, "mnuOnlineHelp", "&Online Help");
  command(online_help, "mnuOnlineHelp_Click", [this] { OpenManual(); });
  keys(online_help, QKeySequence::HelpContents, "F1");
  separator(help, "mnuSep7");
  command(add(help, "mnuOnlineUpdates", "Online &Updates"), "mnuOnlineUpdates_Click", [this] { OpenManual(); });
  separator(help, "mnuSep8");
  command(add(help, "mnuWebPage", "&Chronoreel Web Page"), "mnuWebPage_Click", [this] { OpenManual(); });
  separator(help, "mnuSep10");
  connect(add(help, "mnuAbout", "&About…"), &QAction::triggered, this, [this] { mnuAbout_Click(); });
}

void MainWindow::ShowDocumentTitle(const std::string& title) {
  setWindowTitle(QString::fromStdString(title) + "[*]");
  setWindowModified(app_.state.SetupChanged);
}

void MainWindow::UpdateLastFilesMenu() {
  const auto& files = app_.state.LastFiles;
  for (int i = 0; i < 4; ++i) {
    const bool used = !files[i].empty();
    mnuFiles[i]->setVisible(used);
    // The full path, with no accelerator taken from an "&" in it.
    mnuFiles[i]->setText(QString::fromStdString(files[i]).replace("&", "&&"));
  }
  mnuSepFiles->setVisible(!files[0].empty());
}

void MainWindow::EnableSaveCommands() {
  mnuSave->setEnabled(true);
  mnuSaveAs->setEnabled(true);
}

void MainWindow::cmdMakeMovie_Click() {
  ErrorTrap trap("frmMain", "cmdMakeMovie_Click");
  if (!ConfirmMarkedBoxes()) return;
  // Unattended: no one to ask or to tell; the log is all there is.
  const bool unattended = app_.state.cmd.AutomatedRun;
  RunNotice::HideIn(this);
  if (!unattended && !ConfirmDeletionOnce()) return;
  running_ = true;
  setEnabled(false);
  if (!unattended) host_.BeginRunLog();
  app_.movie.MakeMovie({.show_progress = app_.state.cmd.ShowProgress, .unattended = unattended});
  setEnabled(true);
  running_ = false;
  if (!unattended) RunNotice::Of(this)->ShowOutcome(RunOutcome::Of(app_.movie, host_.TakeRunLog()));
}

bool MainWindow::ConfirmDeletionOnce() {
  if (deletion_confirmed_ || !app_.movie.DeleteOldImages()) return true;
  const size_t count = DryRunWithWaitCursor(app_.movie).would_delete.size();
  if (count == 0) return true;
  const std::string folder = app_.movie.StillDirectory();
  const std::string text = "This run will delete " + std::to_string(count) + (count == 1 ? " still" : " stills") +
                           " older than " + QString::number(app_.movie.DeleteOldImagesHours()).toStdString() +
                           " hours from\n" + folder + "\n\nMake the movie and delete them?";
  if (host_.ShowMessage({text, "Chronoreel", MessageButtons::YesNo, MessageIcon::Question}) == MessageAnswer::Yes) {
    deletion_confirmed_ = true;
    return true;
  }
  RunNotice::Of(this)->ShowMessage(
      QString("Make Movie was cancelled: no still was deleted (the run would have deleted %1).").arg(count));
  return false;
}

void MainWindow::cmdPreviewSelection_Click() {
  ErrorTrap trap("frmMain", "cmdPreviewSelection_Click");
  SelectionPreview::Open(app_.movie, this);
}

void MainWindow::cmdBrowseImageDirectory_Click() {
  ErrorTrap trap("frmMain", "cmdBrowseImageDirectory_Click");
  FileChoice choice;
  choice.title = "Still Image Directory Selection";
  choice.initial = txtImageDirectory->text().toStdString();
  choice.kind = FileChoice::Kind::Directory;
  const auto chosen = host_.ChooseFile(choice);
  if (!chosen || chosen->empty()) return;
  // A folder is taken as it is; a file stands for the folder that holds it.
  std::error_code error;
  std::filesystem::path path(*chosen);
  std::string folder = std::filesystem::is_directory(path, error) ? path.string() : path.parent_path().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (Lower(TrimSpaces(folder)) != Lower(TrimSpaces(txtImageDirectory->text().toStdString()))) {
    txtImageDirectory->setText(QString::fromStdString(folder));
  }
}

void MainWindow::cmdBrowseOutputPath_Click() {
  ErrorTrap trap("frmMain", "cmdBrowseOutputPath_Click");
  FileChoice choice;
  choice.title = "Output AVI File Selection";
  choice.filter = "Movies (*.avi *.mp4 *.m4v *.mov *.mkv *.webm);;AVI (*.avi)";
  choice.default_suffix = "avi";
  choice.initial = txtOutputPath->text().toStdString();
  choice.kind = FileChoice::Kind::Save;
  const auto chosen = host_.ChooseFile(choice);
  if (chosen && !chosen->empty()) txtOutputPath->setText(QString::fromStdString(*chosen));
}

void MainWindow::cmdShowCompressionOptions_Click() {
  ErrorTrap trap("frmMain", "cmdShowCompressionOptions_Click");
  // Only what the container of the current output path can hold is offered.
  const std::string output = app_.movie.OutputAVIPath();
  CompressionDialog dialog(EncodersForOutput(output), CurrentCompression(app_.movie),
                           ContainerForPath(output), this);
  if (dialog.exec() == QDialog::Accepted) StoreCompressionChoice(app_.movie, dialog.Choice());
}

void MainWindow::mnuLocation_Click() {
  ErrorTrap trap("frmMain", "mnuLocation_Click");
  setEnabled(false);
  {
    // Not a child of this window: it must stay enabled while this one is not. It is still
    // centred on it and kept above it.
    LocationDialog dialog(app_.state.location, app_.sun);
    PlaceOver(&dialog, this);
    dialog.show();
    while (dialog.IsOpen()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  setEnabled(true);
  host_.BringMainWindowToFront();
}

void MainWindow::mnuAbout_Click() {
  ErrorTrap trap("frmMain", "mnuAbout_Click");
  if (about_ == nullptr) about_ = new AboutBox(host_, this);
  about_->show();
  about_->raise();
}

std::string MainWindow::ManualPath() {
  const std::filesystem::path exe_dir = QCoreApplication::applicationDirPath().toStdString();
  const std::filesystem::path candidates[] = {
      exe_dir / "../share/doc/chronoreel/manual.html", exe_dir / "docs/manual.html",
      exe_dir / "../docs/manual.html",                 exe_dir / "../share/doc/chronoreel/README.md",
      exe_dir / "README.md",                           exe_dir / "../README.md",
  };
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      return std::filesystem::weakly_canonical(candidate, error).string();
    }
  }
  return {};
}

void MainWindow::OpenManual() {
  const std::string path = ManualPath();
  if (path.empty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)))) {
    host_.ShowMessage({"The user manual could not be opened.", "Chronoreel", MessageButtons::Ok,
                       MessageIcon::Exclamation});
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  ErrorTrap trap("frmMain", "Form_QueryUnload");
  // A run holds the settings and the progress window: the window system's close request
  // has to wait for it (the window is disabled, but the frame's close box is not ours).
  if (running_) {
    event->ignore();
    return;
  }
  if (!shut_down_ && !app_.Shutdown()) {
    event->ignore();
    return;
  }
  shut_down_ = true;
  event->accept();
}

}  // namespace chronoreel