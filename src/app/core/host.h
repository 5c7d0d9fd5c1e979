#pragma once
// What the engine and the setup layer need of the windows: the progress window, message
// boxes, the setup-file chooser and the event pump. The Qt windows implement it, the
// console host implements it for runs without a display, and tests record it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace chronoreel {

// A 24-bit BGR frame stored bottom-up, rows padded to 4 bytes (a DIB's pixels).
struct FrameView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
};

// The progress window of one generation run (frmPreview).
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void SetStatus(const std::string& text) = 0;      // lblStatus
  virtual void SetFrameLabel(const std::string& text) = 0;  // lblFrame
  virtual void ClearPreview() = 0;                          // pctPreview cleared
  virtual void Show() = 0;                                  // modeless
  virtual void Refresh() = 0;
  virtual void FitToMovieSize(int movie_width, int movie_height) = 0;
  virtual void ShowFrame(const FrameView& frame) = 0;       // fits the window on the first frame
  virtual void Unload() = 0;                                // closes the window
  // The status just set should stay in sight about `seconds` before the run goes on: a
  // window waits (events flowing); a log line, or a test, need not.
  virtual void HoldStatus(double seconds) { (void)seconds; }
  // The frames written so far of `total`, told where the frame label is; a window may show
  // a bar and the time left.
  virtual void SetFrameProgress(int written, int total) { (void)written, (void)total; }
};

enum class MessageIcon { None, Information, Exclamation, Critical, Question };
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct MessageBoxRequest {
  std::string text;
  std::string title;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
};

// New: an open dialog worded for a file that is still to be made.
enum class FileDialogStyle { Open, Save, New };

class Host {
 public:
  virtual ~Host() = default;

  // Lets the window system process pending events (a no-op without one).
  virtual void ProcessEvents() = 0;

  // Creates the progress window of a run; on_cancel is called when the user cancels.
  // May return nullptr when no window can be shown.
  virtual std::unique_ptr<ProgressWindow> CreateProgressWindow(std::function<void()> on_cancel) = 0;

  // A box where a window can show one; without a display its text goes to the log.
  virtual MessageAnswer ShowMessage(const MessageBoxRequest& request) = 0;

  // A line for the run's log that no window shows as a box (why a run ended early, stills
  // that gave no frame): standard error, after "chronoreel: ", whatever /i or /q say.
  virtual void LogLine(const std::string& text);

  // News that belongs in the log and, where a window can show it, in a box too: the line,
  // then the box. A host whose boxes go to the log anyway writes the line only.
  virtual void LogAndShow(const std::string& line, const MessageBoxRequest& box) {
    LogLine(line);
    ShowMessage(box);
  }

  // The setup file dialog: nullopt when cancelled; an empty string when no name was given.
  virtual std::optional<std::string> ChooseSetupFile(const std::string& title, FileDialogStyle style) = 0;

  // Brings the main window to the front (nothing without one).
  virtual void BringMainWindowToFront() = 0;

  // The main window's document parts, refreshed after a load or a save (nothing without one).
  virtual void SetWindowTitle(const std::string& title) { (void)title; }
  virtual void EnableSaveCommands() {}
  virtual void UpdateLastFilesMenu() {}
  virtual void UpdateSetupControls() {}
};

// A host that does nothing and answers every question with Cancel; the default for code
// that is given no host.
class NullHost : public Host {
 public:
  void ProcessEvents() override {}
  std::unique_ptr<ProgressWindow> CreateProgressWindow(std::function<void()>) override { return nullptr; }
  MessageAnswer ShowMessage(const MessageBoxRequest&) override { return MessageAnswer::Cancel; }
  std::optional<std::string> ChooseSetupFile(const std::string&, FileDialogStyle) override { return std::nullopt; }
  void BringMainWindowToFront() override {}
};

}  // namespace chronoreel
