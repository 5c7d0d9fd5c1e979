#pragma once
// One run per movie. The lock is a file in the user's runtime folder named from the
// output's real path, so nothing of ours stays beside the movie, and two outputs that are
// one file through symbolic links share one lock.
#include <filesystem>
#include <string>
#include <system_error>

namespace chronoreel {

// The file that writing `output_path` replaces: symbolic links followed to their last
// target (which need not exist yet), a relative link read from its own folder, and the
// folders' own links resolved. Sets `ec` for a loop of links.
std::filesystem::path OutputTarget(const std::string& output_path, std::error_code& ec);

class OutputLock {
 public:
  // Tries once, without waiting.
  explicit OutputLock(const std::string& output_path);
  ~OutputLock() { Release(); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  // Held: this run alone writes the movie. Busy: another run holds the lock. Neither: no
  // lock could be made, and Error() says why; the run may go on without one.
  bool Held() const { return fd_ >= 0; }
  bool Busy() const { return busy_; }
  const std::string& Error() const { return error_; }

  // Lets go and removes the lock file, and those that killed runs left in the folder.
  void Release() noexcept;

  // Where the locks live: $XDG_RUNTIME_DIR/chronoreel (/run/user/<uid>/chronoreel when the
  // variable is unset and the session's folder exists), else /tmp/chronoreel-<uid>. Made
  // private to the user (0700) when missing; "" with `error` set when it cannot be made or
  // is not the user's own.
  static std::string Folder(std::string& error);

 private:
  bool busy_ = false;
  std::string error_;
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace chronoreel
