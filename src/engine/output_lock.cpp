#include "engine/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace chronoreel {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links
constexpr std::string_view kLockEnding = ".lock";
constexpr size_t kHashDigits = 16;

// FNV-1a: stable across builds and versions, so every run names a movie's lock alike.
uint64_t PathHash(std::string_view text) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// Whether `fd` is still the file that `path` names: a run that let go of a lock removes its
// file, so a lock taken on a file that has since been removed guards nothing.
bool StillNamed(int fd, const std::string& path) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

// A folder of this user's that no one else may enter, made when missing: in a shared /tmp
// another user could otherwise prepare it, or a link in its place.
bool PrivateFolder(const std::string& dir, std::string& error) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = dir + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    error = dir + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    error = dir + ": not a private folder of this user";
    return false;
  }
  return true;
}

// Removes the lock files that no run holds (left by killed runs). The removal happens
// while holding the lock, and every taker checks that its file still has its name.
void RemoveFreeLocks(const std::string& folder) noexcept {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != kHashDigits + kLockEnding.size() || !name.ends_with(kLockEnding)) continue;
    const std::string path = it->path().string();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) unlink(path.c_str());
    close(fd);
  }
}

}  // namespace

fs::path OutputTarget(const std::string& output_path, std::error_code& ec) {
  ec.clear();
  fs::path path = fs::absolute(output_path, ec);
  if (ec) return {};
  for (int links = 0; links <= kMaxLinks; ++links) {
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..") return fs::weakly_canonical(path, ec);
    const fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    if (ec) return {};
    path = folder / name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    const fs::path to = fs::read_symlink(path, ec);
    if (ec) return {};
    path = to.is_absolute() ? to : folder / to;
  }
  ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
  return {};
}

std::string OutputLock::Folder(std::string& error) {
  std::string runtime;
  if (const char* env = std::getenv("XDG_RUNTIME_DIR"); env != nullptr && env[0] == '/') {
    runtime = env;
  } else {
    // A scheduler's run has no XDG_RUNTIME_DIR; while the user's session is open (when a
    // run from the desktop could meet it) the session's folder is still there to share.
    const std::string session = "/run/user/" + std::to_string(geteuid());
    struct stat st {};
    if (lstat(session.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()) runtime = session;
  }
  if (!runtime.empty()) {
    const std::string dir = runtime + "/chronoreel";
    if (PrivateFolder(dir, error)) return dir;
  }
  const std::string dir = "/tmp/chronoreel-" + std::to_string(geteuid());
  if (PrivateFolder(dir, error)) return dir;
  return {};
}

OutputLock::OutputLock(const std::string& output_path) {
  std::error_code ec;
  const fs::path target = OutputTarget(output_path, ec);
  if (ec) {
    error_ = output_path + ": " + ec.message();
    return;
  }
  folder_ = Folder(error_);
  if (folder_.empty()) return;
  char name[kHashDigits + kLockEnding.size() + 1];
  std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(PathHash(target.native())));
  path_ = folder_ + "/" + name;

  // A few tries: each lost one is a run that let go (and removed the file) just then.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error_ = path_ + ": " + std::strerror(errno);
      return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      close(fd);
      if (err == EWOULDBLOCK) {
        busy_ = true;
      } else {
        error_ = path_ + ": " + std::strerror(err);
      }
      return;
    }
    if (StillNamed(fd, path_)) {
      fd_ = fd;
      return;
    }
    close(fd);
  }
  error_ = path_ + ": removed each time it was locked";
}

void OutputLock::Release() noexcept {
  if (fd_ < 0) return;
  // Removed before it is let go: a run that opened it meanwhile sees that and takes anew.
  unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
  RemoveFreeLocks(folder_);
}

}  // namespace chronoreel
