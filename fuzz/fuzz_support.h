#pragma once
// Helpers shared by the fuzz targets: one scratch file or directory per process, made on
// first use and removed at exit, so that a long run leaves nothing behind in /tmp.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace chronoreel::fuzz {

// Removes its path (file or directory tree) when the process ends normally.
class ScratchPath {
 public:
  explicit ScratchPath(std::string path) : path_(std::move(path)) {}
  ~ScratchPath() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// <memory folder>/chronoreel-fuzz-<tag>-<pid><suffix>: distinct per process, so parallel
// jobs never share a scratch file. /dev/shm when there is one: the setup file is synced on
// every save, which on a disk would make a long run crawl.
inline std::string ScratchName(std::string_view tag, std::string_view suffix = "") {
  std::error_code ec;
  std::string name =
      std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm/chronoreel-fuzz-" : "/tmp/chronoreel-fuzz-";
  name.append(tag);
  name += '-';
  name += std::to_string(static_cast<long>(::getpid()));
  name.append(suffix);
  return name;
}

// Replaces the file's contents with the bytes; false when it cannot be written.
inline bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// Stops the run with a message when an invariant of the code under test does not hold;
// libFuzzer saves the input as a crash.
[[noreturn]] inline void Violation(const char* what, std::string_view input) {
  std::fprintf(stderr, "invariant violated: %s\ninput: \"%.*s\"\n", what,
               static_cast<int>(input.size()), input.data());
  std::abort();
}

}  // namespace chronoreel::fuzz
