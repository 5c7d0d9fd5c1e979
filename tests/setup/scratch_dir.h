#pragma once
// A temporary folder on a memory file system when there is one: the loops of these tests
// save thousands of times, and each save waits for the disk (fsync).
#include <filesystem>
#include <memory>

#include "support/test_files.h"

namespace chronoreel {

inline std::unique_ptr<TempDir> ScratchDir() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec)) {
    try {
      return std::make_unique<TempDir>("../dev/shm/chronoreel-setup");
    } catch (const std::exception&) {
      // fall back to /tmp
    }
  }
  return std::make_unique<TempDir>("chronoreel-setup");
}

}  // namespace chronoreel
