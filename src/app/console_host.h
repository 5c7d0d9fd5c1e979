#pragma once
// The host of a run without a display: the progress goes to standard error (one updating
// line on a terminal; in a log, a line per status with the last counter of that stage
// indented below it), every message box's text too.
#include <cstdio>

#include "app/core/host.h"

namespace chronoreel {

class ConsoleHost : public Host {
 public:
  // show_progress false (/i): no progress lines, but messages still go to standard error.
  explicit ConsoleHost(bool show_progress, std::FILE* out = stderr);
  ~ConsoleHost() override;

  void ProcessEvents() override {}
  std::unique_ptr<ProgressWindow> CreateProgressWindow(std::function<void()> on_cancel) override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  void LogLine(const std::string& text) override;
  void LogAndShow(const std::string& line, const MessageBoxRequest&) override { LogLine(line); }
  std::optional<std::string> ChooseSetupFile(const std::string&, FileDialogStyle) override {
    return std::nullopt;
  }
  void BringMainWindowToFront() override {}

  // Ends an updating terminal line so that what follows starts on its own line.
  void EndLine();

 private:
  friend class ConsoleProgress;
  void Write(const std::string& status, const std::string& frame, bool final_line);
  // In a log: the counter of the current stage, written once the stage ends.
  void NoteLabel(const std::string& label) { pending_label_ = label; }
  void FlushLabel();

  bool show_progress_;
  std::FILE* out_;
  bool terminal_;
  bool line_open_ = false;
  std::string last_status_;
  std::string pending_label_;
  size_t last_width_ = 0;
};

}  // namespace chronoreel
