#pragma once
// What every stage of a run is given besides its own inputs: how the run was asked for,
// where it reports and how it learns that it should stop.
#include <atomic>

#include "app/core/host.h"

namespace chronoreel {

// How a run was asked for; its caller decides (the command line, the main window).
struct RunOptions {
  bool show_progress = true;  // the progress window, and boxes for what goes wrong
  bool unattended = false;    // no main window to come back to; the log is all there is
};

// Where a stage reports: the host and the run's progress window (none: nullptr), and the
// run's cancel and its stop from outside.
struct StageReport {
  Host& host;
  ProgressWindow* window = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  const std::atomic<bool>* stopped = nullptr;

  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
  bool Stopped() const { return stopped != nullptr && stopped->load(std::memory_order_relaxed); }
  // The status and the frame label together, shown at once.
  void Show(const std::string& status, const std::string& label) const {
    if (window == nullptr) return;
    window->SetStatus(status);
    window->SetFrameLabel(label);
    window->Refresh();
  }
};

}  // namespace chronoreel
