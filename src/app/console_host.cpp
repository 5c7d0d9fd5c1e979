#include "app/console_host.h"

#include "app/core/utility.h"

#include <unistd.h>

#include <chrono>

namespace chronoreel {

class ConsoleProgress : public ProgressWindow {
 public:
  explicit ConsoleProgress(ConsoleHost& host) : host_(host) {}
  ~ConsoleProgress() override { host_.EndLine(); }

  void SetStatus(const std::string& text) override {
    status_ = text;
    host_.Write(status_, frame_, false);
  }
  void SetFrameLabel(const std::string& text) override {
    frame_ = text;
    // On a terminal the counter updates in place, at most ~30 times a second; in a log
    // only its last value in each stage makes a line, so a long run does not flood it.
    if (!host_.terminal_) {
      host_.NoteLabel(text);
      return;
    }
    auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ < std::chrono::milliseconds(33) && !text.empty()) return;
    last_draw_ = now;
    host_.Write(status_, frame_, false);
  }
  void ClearPreview() override {}
  void Show() override {}
  void Refresh() override {}
  void FitToMovieSize(int, int) override {}
  void ShowFrame(const FrameView&) override {}
  void Unload() override { host_.EndLine(); }

 private:
  ConsoleHost& host_;
  std::string status_;
  std::string frame_;
  std::chrono::steady_clock::time_point last_draw_{};
};

ConsoleHost::ConsoleHost(bool show_progress, std::FILE* out)
    : show_progress_(show_progress), out_(out), terminal_(::isatty(::fileno(out)) != 0) {}

ConsoleHost::~ConsoleHost() { EndLine(); }

std::unique_ptr<ProgressWindow> ConsoleHost::CreateProgressWindow(std::function<void()>) {
  if (!show_progress_) return nullptr;
  return std::make_unique<ConsoleProgress>(*this);
}

void ConsoleHost::Write(const std::string& status, const std::string& frame, bool final_line) {
  std::string line = PrintableText(status);
  if (!frame.empty()) line += (line.empty() ? "" : "  ") + PrintableText(frame);
  if (terminal_) {
    std::string padded = line;
    if (padded.size() < last_width_) padded.append(last_width_ - padded.size(), ' ');
    std::fprintf(out_, "\r%s", padded.c_str());
    last_width_ = line.size();
    line_open_ = true;
    if (final_line) EndLine();
  } else {
    // The counter shown with a new status still belongs to the stage before: it went out
    // below that stage's line.
    if (status == last_status_ && !final_line) return;
    FlushLabel();
    std::fprintf(out_, "%s\n", PrintableText(status).c_str());
    last_status_ = status;
  }
  std::fflush(out_);
}

void ConsoleHost::FlushLabel() {
  if (terminal_ || pending_label_.empty()) return;
  std::fprintf(out_, "  %s\n", PrintableText(pending_label_).c_str());
  pending_label_.clear();
  std::fflush(out_);
}

void ConsoleHost::EndLine() {
  FlushLabel();
  if (line_open_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    line_open_ = false;
    last_width_ = 0;
  }
}

void ConsoleHost::LogLine(const std::string& text) {
  EndLine();
  std::fprintf(out_, "chronoreel: %s\n", PrintableText(text).c_str());
  std::fflush(out_);
}

MessageAnswer ConsoleHost::ShowMessage(const MessageBoxRequest& request) {
  EndLine();
  // CR and LF part the lines of a message box; any other control byte came with a name.
  std::string text;
  size_t from = 0;
  for (size_t end; (end = request.text.find_first_of("\r\n", from)) != std::string::npos; from = end + 1) {
    text += PrintableText(request.text.substr(from, end - from)) + "\n";
  }
  text += PrintableText(request.text.substr(from));
  if (request.title.empty()) {
    std::fprintf(out_, "chronoreel: %s\n", text.c_str());
  } else {
    std::fprintf(out_, "chronoreel: %s: %s\n", PrintableText(request.title).c_str(), text.c_str());
  }
  std::fflush(out_);
  switch (request.buttons) {
    case MessageButtons::Ok: return MessageAnswer::Ok;
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::YesNoCancel: return MessageAnswer::Cancel;
  }
  return MessageAnswer::Ok;
}

}  // namespace chronoreel
