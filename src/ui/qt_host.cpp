#include "ui/qt_host.h"

#include <filesystem>
#include <utility>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/main_window.h"
#include "ui/preview_window.h"

namespace chronoreel {

namespace {

// Yielding more often than this is invisible to the user and costs the run time.
constexpr auto kPumpInterval = std::chrono::milliseconds(4);

// The working directory is the program's profile folder: a dialog must not move it.
class KeepWorkingDirectory {
 public:
  KeepWorkingDirectory() { saved_ = std::filesystem::current_path(error_); }
  ~KeepWorkingDirectory() {
    if (error_) return;
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
  }
  KeepWorkingDirectory(const KeepWorkingDirectory&) = delete;
  KeepWorkingDirectory& operator=(const KeepWorkingDirectory&) = delete;

 private:
  std::error_code error_;
  std::filesystem::path saved_;
};

}  // namespace

QtHost::QtHost() = default;
QtHost::~QtHost() = default;

void QtHost::ProcessEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_pump_ < kPumpInterval) return;
  last_pump_ = now;
  QCoreApplication::processEvents();
}

std::unique_ptr<ProgressWindow> QtHost::CreateProgressWindow(std::function<void()> on_cancel) {
  auto window = std::make_unique<PreviewWindow>(std::move(on_cancel), this);
  preview_ = window.get();
  return window;
}

PreviewWindow* QtHost::CurrentPreview() const { return qobject_cast<PreviewWindow*>(preview_.data()); }

QWidget* QtHost::DialogParent() const {
  QWidget* main = main_window_.data();
  return main != nullptr && main->isVisible() ? main : nullptr;
}

MessageAnswer QtHost::QtMessageBox(const MessageBoxRequest& request, QWidget* parent) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdString(request.title));
  box.setText(QString::fromStdString(request.text));
  switch (request.icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  switch (request.buttons) {
    case MessageButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case MessageButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
    case MessageButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Ok: return MessageAnswer::Ok;
    default: return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
  }
}

MessageAnswer QtHost::ShowMessage(const MessageBoxRequest& request) {
  if (responder_) return responder_(request);
  return QtMessageBox(request, DialogParent());
}

void QtHost::LogLine(const std::string& text) {
  Host::LogLine(text);
  if (keeping_log_) run_log_.push_back(text);
}

void QtHost::BeginRunLog() {
  keeping_log_ = true;
  run_log_.clear();
}

std::vector<std::string> QtHost::TakeRunLog() {
  keeping_log_ = false;
  return std::exchange(run_log_, {});
}

std::optional<std::string> QtHost::QtFileDialog(const FileChoice& choice, QWidget* parent) {
  QFileDialog dialog(parent, QString::fromStdString(choice.title), QString::fromStdString(choice.initial));
  if (!choice.filter.empty()) dialog.setNameFilter(QString::fromStdString(choice.filter));
  if (!choice.default_suffix.empty()) dialog.setDefaultSuffix(QString::fromStdString(choice.default_suffix));
  if (!choice.accept_label.empty()) {
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(choice.accept_label));
  }
  switch (choice.kind) {
    case FileChoice::Kind::Open:
      // An open dialog also names a file that is still to be made ("Open/Create").
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::AnyFile);
      break;
    case FileChoice::Kind::Save:
      // The commands ask their own overwrite question.
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setOption(QFileDialog::DontConfirmOverwrite);
      break;
    case FileChoice::Kind::Directory:
      dialog.setFileMode(QFileDialog::Directory);
      dialog.setOption(QFileDialog::ShowDirsOnly);
      break;
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? std::string() : files.first().toStdString();
}

std::optional<std::string> QtHost::ChooseFile(const FileChoice& choice) {
  KeepWorkingDirectory keep;
  if (chooser_) return chooser_(choice);
  return QtFileDialog(choice, DialogParent());
}

std::optional<std::string> QtHost::ChooseSetupFile(const std::string& title, FileDialogStyle style) {
  FileChoice choice;
  choice.title = title;
  choice.filter = "Time-Lapse Setup Files (*.tls)";
  choice.default_suffix = "tls";
  std::error_code error;
  choice.initial = std::filesystem::current_path(error).string();
  choice.kind = style == FileDialogStyle::Save ? FileChoice::Kind::Save : FileChoice::Kind::Open;
  if (style == FileDialogStyle::New) choice.accept_label = "Create";
  return ChooseFile(choice);
}

void QtHost::SetMainWindow(MainWindow* window) {
  main_ = window;
  main_window_ = window;
}

MainWindow* QtHost::GetMainWindow() const { return main_window_ ? main_ : nullptr; }

void QtHost::BringMainWindowToFront() {
  if (MainWindow* main = GetMainWindow(); main != nullptr && main->isVisible()) {
    main->raise();
    main->activateWindow();
  }
}

void QtHost::SetWindowTitle(const std::string& title) {
  if (MainWindow* main = GetMainWindow()) main->ShowDocumentTitle(title);
}

void QtHost::EnableSaveCommands() {
  if (MainWindow* main = GetMainWindow()) main->EnableSaveCommands();
}

void QtHost::UpdateLastFilesMenu() {
  if (MainWindow* main = GetMainWindow()) main->UpdateLastFilesMenu();
}

void QtHost::UpdateSetupControls() {
  if (MainWindow* main = GetMainWindow()) main->UpdateSetupControls();
}

}  // namespace chronoreel
