#pragma once
// The host of the windows: message boxes, file dialogs, the event pump and the progress
// window, all through Qt. File dialogs and message boxes can be replaced, so that the
// commands behind them can be driven without a person at the screen.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>

#include "app/core/host.h"

class QWidget;

namespace chronoreel {

class MainWindow;
class PreviewWindow;

// One use of a file dialog.
struct FileChoice {
  enum class Kind { Open, Save, Directory };
  std::string title;
  std::string filter;          // Qt form: "Name (*.ext)"
  std::string default_suffix;  // without the dot
  std::string initial;         // folder or file to start in
  std::string accept_label;    // the accept button's text; empty: the dialog's own
  Kind kind = Kind::Open;
};

// nullopt: cancelled. An empty text: the dialog gave no name.
using FileChooser = std::function<std::optional<std::string>(const FileChoice&)>;
using MessageResponder = std::function<MessageAnswer(const MessageBoxRequest&)>;

class QtHost : public Host {
 public:
  QtHost();
  ~QtHost() override;

  void ProcessEvents() override;
  std::unique_ptr<ProgressWindow> CreateProgressWindow(std::function<void()> on_cancel) override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  // Standard error as always; within a run of the main window the line is kept as well, so
  // that the window can show it when the run is over.
  void LogLine(const std::string& text) override;
  std::optional<std::string> ChooseSetupFile(const std::string& title, FileDialogStyle style) override;
  void BringMainWindowToFront() override;
  void SetWindowTitle(const std::string& title) override;
  void EnableSaveCommands() override;
  void UpdateLastFilesMenu() override;
  void UpdateSetupControls() override;

  // Every file dialog of the program goes through here; the working directory is the same
  // afterwards, whatever the dialog did.
  std::optional<std::string> ChooseFile(const FileChoice& choice);

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  void SetMessageResponder(MessageResponder responder) { responder_ = std::move(responder); }
  void SetMainWindow(MainWindow* window);
  MainWindow* GetMainWindow() const;

  // The log lines of one run from the main window: kept from BeginRunLog to TakeRunLog.
  void BeginRunLog();
  std::vector<std::string> TakeRunLog();

  // The progress window of the run under way, if any (screenshots use it).
  PreviewWindow* CurrentPreview() const;

  // The default file dialog and message box.
  static std::optional<std::string> QtFileDialog(const FileChoice& choice, QWidget* parent);
  static MessageAnswer QtMessageBox(const MessageBoxRequest& request, QWidget* parent);

 private:
  QWidget* DialogParent() const;

  FileChooser chooser_;
  MessageResponder responder_;
  QPointer<QWidget> main_window_;
  MainWindow* main_ = nullptr;
  QPointer<QWidget> preview_;
  std::chrono::steady_clock::time_point last_pump_{};
  bool keeping_log_ = false;
  std::vector<std::string> run_log_;
};

}  // namespace chronoreel
