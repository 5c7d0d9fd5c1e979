#pragma once
// FakeHost: a Host whose progress window and message boxes record every call, in order,
// into one log, answer message boxes from a script and can raise a cancel at a chosen
// point (a status or label text appearing, or the Nth ProcessEvents).
//
// Log lines:
//   "create"                      CreateProgressWindow (also when it returns null)
//   "status:<text>"  "label:<text>"  "clear"  "show"  "refresh"  "hold:<seconds>"
//   "fit:<w>x<h>"  "frame:<w>x<h>:<rrggbb>"  (the pixel at the probe spot)  "unload"
//   "message:<title>|<text>"  "front"  "choose:<open|save>|<title>"
// ProcessEvents is counted, not logged (Delay calls it in a loop).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/host.h"
#include "engine/stages.h"

namespace chronoreel {

// A scheduled run with /i: no window, the log only.
inline constexpr RunOptions kQuietRun{.show_progress = false, .unattended = true};

class FakeHost : public Host {
 public:
  // ---- script ----
  bool give_window = true;                     // false: CreateProgressWindow returns null
  MessageAnswer default_answer = MessageAnswer::Ok;
  std::deque<MessageAnswer> answers;           // used first, one per message box
  std::deque<std::optional<std::string>> file_choices;  // one per file dialog; then nullopt
  int probe_x = 0;                             // the pixel recorded for each shown frame,
  int probe_y = 0;                             // counted from the top-left corner

  // Cancel when a status or label equal to `text` (or starting with it, when prefix) is
  // set; each trigger fires once.
  void CancelOnStatus(const std::string& text, bool prefix = false);
  void CancelOnLabel(const std::string& text, bool prefix = false);
  // Runs `action` instead of a cancel, once, when the status `text` is set.
  void OnStatus(const std::string& text, std::function<void()> action);
  // Cancel during the Nth call of ProcessEvents (1-based).
  void CancelOnProcessEvents(int n);
  // Cancel when the Nth frame is shown in the preview (1-based).
  void CancelOnFrame(int n) { cancel_on_frame_ = n; }
  // What a cancel does when no window was made (the window's own button otherwise).
  std::function<void()> cancel_action;

  // ---- record ----
  std::vector<std::string> log;
  std::vector<MessageBoxRequest> messages;
  std::vector<std::string> notes;  // LogLine, kept out of `log`
  int process_events = 0;
  int frames_shown = 0;
  int cancels = 0;
  // The main window's document parts.
  std::vector<std::string> titles;
  int save_enables = 0;
  int menu_updates = 0;
  int control_updates = 0;

  // Log lines with the given prefix, prefix removed ("status:" gives the statuses).
  std::vector<std::string> Lines(const std::string& prefix) const;
  std::vector<std::string> Statuses() const { return Lines("status:"); }
  std::vector<std::string> Labels() const { return Lines("label:"); }
  bool Has(const std::string& line) const;
  // Index of the first log line equal to `line`, -1 if none.
  int IndexOf(const std::string& line) const;
  bool WindowOpen() const { return window_open_; }

  // ---- Host ----
  void ProcessEvents() override;
  std::unique_ptr<ProgressWindow> CreateProgressWindow(std::function<void()> on_cancel) override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  void LogLine(const std::string& text) override { notes.push_back(text); }
  std::optional<std::string> ChooseSetupFile(const std::string& title,
                                             FileDialogStyle style) override;
  void BringMainWindowToFront() override;
  void SetWindowTitle(const std::string& title) override { titles.push_back(title); }
  void EnableSaveCommands() override { ++save_enables; }
  void UpdateLastFilesMenu() override { ++menu_updates; }
  void UpdateSetupControls() override { ++control_updates; }

 private:
  friend class FakeProgressWindow;
  struct Trigger {
    std::string text;
    bool prefix = false;
    bool status = false;
    std::function<void()> action;  // null: a cancel
  };
  void Record(const std::string& line);
  void CheckTriggers(const std::string& text, bool status);
  void FireCancel();

  std::vector<Trigger> triggers_;
  int cancel_on_events_ = -1;
  int cancel_on_frame_ = -1;
  std::function<void()> on_cancel_;
  bool window_open_ = false;
};

}  // namespace chronoreel
