#include "fake_host.h"

#include <cstdio>

namespace chronoreel {

class FakeProgressWindow : public ProgressWindow {
 public:
  explicit FakeProgressWindow(FakeHost& host) : host_(host) {}
  ~FakeProgressWindow() override { host_.window_open_ = false; }

  void SetStatus(const std::string& text) override {
    host_.Record("status:" + text);
    host_.CheckTriggers(text, true);
  }
  void SetFrameLabel(const std::string& text) override {
    host_.Record("label:" + text);
    host_.CheckTriggers(text, false);
  }
  void ClearPreview() override { host_.Record("clear"); }
  void Show() override { host_.Record("show"); }
  void Refresh() override { host_.Record("refresh"); }
  void FitToMovieSize(int movie_width, int movie_height) override {
    host_.Record("fit:" + std::to_string(movie_width) + "x" + std::to_string(movie_height));
  }
  void ShowFrame(const FrameView& frame) override {
    std::string pixel = "none";
    const int x = host_.probe_x;
    const int y = host_.probe_y;
    if (frame.pixels && x >= 0 && y >= 0 && x < frame.width && y < frame.height) {
      // Bottom-up rows of BGR.
      const uint8_t* p = frame.pixels + static_cast<size_t>(frame.height - 1 - y) * frame.stride +
                         static_cast<size_t>(x) * 3;
      char buf[8];
      std::snprintf(buf, sizeof buf, "%02x%02x%02x", p[2], p[1], p[0]);
      pixel = buf;
    }
    host_.Record("frame:" + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                 ":" + pixel);
    if (++host_.frames_shown == host_.cancel_on_frame_) host_.FireCancel();
  }
  void Unload() override {
    host_.Record("unload");
    host_.window_open_ = false;
  }
  // Recorded, never waited for.
  void HoldStatus(double seconds) override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "hold:%g", seconds);
    host_.Record(buf);
  }

 private:
  FakeHost& host_;
};

void FakeHost::CancelOnStatus(const std::string& text, bool prefix) {
  triggers_.push_back({text, prefix, true, nullptr});
}

void FakeHost::CancelOnLabel(const std::string& text, bool prefix) {
  triggers_.push_back({text, prefix, false, nullptr});
}

void FakeHost::OnStatus(const std::string& text, std::function<void()> action) {
  triggers_.push_back({text, false, true, std::move(action)});
}

void FakeHost::CancelOnProcessEvents(int n) { cancel_on_events_ = n; }

std::vector<std::string> FakeHost::Lines(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& line : log) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
  }
  return out;
}

bool FakeHost::Has(const std::string& line) const { return IndexOf(line) >= 0; }

int FakeHost::IndexOf(const std::string& line) const {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == line) return static_cast<int>(i);
  }
  return -1;
}

void FakeHost::Record(const std::string& line) { log.push_back(line); }

void FakeHost::CheckTriggers(const std::string& text, bool status) {
  for (auto it = triggers_.begin(); it != triggers_.end(); ++it) {
    if (it->status != status) continue;
    const bool hit = it->prefix ? text.compare(0, it->text.size(), it->text) == 0 : text == it->text;
    if (hit) {
      const std::function<void()> action = std::move(it->action);
      triggers_.erase(it);  // each trigger fires once
      action ? action() : FireCancel();
      return;
    }
  }
}

void FakeHost::FireCancel() {
  ++cancels;
  if (on_cancel_ && window_open_) {
    on_cancel_();
  } else if (cancel_action) {
    cancel_action();
  }
}

void FakeHost::ProcessEvents() {
  ++process_events;
  if (process_events == cancel_on_events_) FireCancel();
}

std::unique_ptr<ProgressWindow> FakeHost::CreateProgressWindow(std::function<void()> on_cancel) {
  Record("create");
  if (!give_window) {
    on_cancel_ = nullptr;
    return nullptr;
  }
  on_cancel_ = std::move(on_cancel);
  window_open_ = true;
  return std::make_unique<FakeProgressWindow>(*this);
}

MessageAnswer FakeHost::ShowMessage(const MessageBoxRequest& request) {
  Record("message:" + request.title + "|" + request.text);
  messages.push_back(request);
  if (!answers.empty()) {
    MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  return default_answer;
}

std::optional<std::string> FakeHost::ChooseSetupFile(const std::string& title,
                                                     FileDialogStyle style) {
  const char* styles[] = {"open|", "save|", "new|"};
  Record(std::string("choose:") + styles[static_cast<int>(style)] + title);
  if (file_choices.empty()) return std::nullopt;
  std::optional<std::string> choice = file_choices.front();
  file_choices.pop_front();
  return choice;
}

void FakeHost::BringMainWindowToFront() { Record("front"); }

}  // namespace chronoreel
