#include "engine/output_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/output_lock.h"

namespace chronoreel {

namespace fs = std::filesystem;

namespace {

// Every few megabytes the kernel is asked to start writing what came so far, so the disk
// works while frames are made, and the flush before the rename finds little left to do.
constexpr int64_t kWriteBehindBytes = 8 << 20;

std::string SystemReason(int err) { return std::strerror(err); }

// umask can only be read by setting it; the run is the only thread that creates files.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A file is read-only for us when we may not write it, or when no one may (the owner's
// read-only mark, which even the superuser's runs respect here).
bool IsReadOnly(const fs::path& path, const struct stat& st) {
  return access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// A run that was killed leaves its temporary file behind. Each run holds an flock on its
// own temporary file, so one that can be locked belongs to no living run and goes: at once
// when this run holds the output's lock (no other run of this output can then be between
// creating its file and locking it), else only once it is not brand new.
void RemoveStaleTemporaries(const fs::path& folder, const std::string& stem,
                             const std::string& tail, bool output_locked) {
  const std::string head = "." + stem + ".chronoreel-";
  const time_t now = time(nullptr);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != head.size() + 6 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!output_locked && now - st.st_mtime < 60) continue;
    const int fd = open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink(it->path().c_str());
    close(fd);
  }
}

}  // namespace

bool OutputReplacement::Fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool OutputReplacement::Open(const std::string& output_path, const std::string& suffix,
                             bool output_locked) {
  const std::string prefix = "cannot open output " + output_path + ": ";
  if (IsOpen()) return Fail(prefix + "already open");
  output_path_ = output_path;
  if (fs::path(output_path).filename().empty()) return Fail(prefix + SystemReason(EISDIR));
  std::error_code target_ec;
  const fs::path output = OutputTarget(output_path, target_ec);
  if (target_ec) return Fail(prefix + target_ec.message());
  const fs::path folder = output.parent_path();
  if (output.filename().empty()) return Fail(prefix + SystemReason(EISDIR));
  target_path_ = output.string();

  mode_t mode = NewFileMode();
  struct stat st {};
  if (stat(output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(prefix + SystemReason(EISDIR));
    if (IsReadOnly(output, st)) return Fail(prefix + SystemReason(EACCES));
    mode = st.st_mode & 07777;
    // The file about to be replaced only crowds the page cache: on a virtual machine, new
    // pages from a cold pool cost several times more to fill than the ones this frees. Only
    // clean pages go; the file on disk stays whole until the rename.
    if (S_ISREG(st.st_mode)) {
      if (const int old = open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); old >= 0) {
        posix_fadvise(old, 0, 0, POSIX_FADV_DONTNEED);
        close(old);
      }
    }
  }

  // The temporary name is hidden and unique, so two runs into one folder never collide.
  // Cut long names so the temporary one still fits the file system's name limit (a cut
  // name may be another output's, whose lock this run does not hold).
  const std::string name = output.filename().string();
  const std::string stem = name.substr(0, 200);
  RemoveStaleTemporaries(folder, stem, suffix, output_locked && stem == name);
  std::string pattern = (folder / ("." + stem + ".chronoreel-XXXXXX" + suffix)).string();
  const int fd = mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) return Fail(prefix + SystemReason(errno));
  temp_path_ = pattern;
  // Locked while still private (mkstemp's 0600), so no other user's run can ever take it
  // for a dead one; then the permissions the output had, or a new file's.
  flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
  fchmod(fd, mode);
  lock_ = fd;
  // Written through a descriptor of its own: closing it reports late write errors before
  // the rename, while the lock stays until the file has its name.
  fd_ = open(temp_path_.c_str(), O_WRONLY | O_CLOEXEC);
  position_ = started_ = 0;
  if (fd_ < 0) {
    const int err = errno;
    Discard();
    return Fail(prefix + SystemReason(err));
  }
  return true;
}

bool OutputReplacement::Write(const uint8_t* data, int size) {
  int done = 0;
  while (done < size) {
    const ssize_t n = write(fd_, data + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<int>(n);
  }
  position_ += size;
  if (position_ - started_ >= kWriteBehindBytes) {
    // Only a hint: where the file system cannot, the flush at the end does it all.
    sync_file_range(fd_, started_, position_ - started_, SYNC_FILE_RANGE_WRITE);
    started_ = position_;
  }
  return true;
}

int64_t OutputReplacement::Seek(int64_t offset, int whence) {
  const off_t at = lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) return -1;
  position_ = at;
  // Writing back into the file (a header at the end) starts a new range.
  if (position_ < started_) started_ = position_;
  return at;
}

int64_t OutputReplacement::Size() const {
  struct stat st {};
  return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool OutputReplacement::CloseFile() {
  if (fd_ < 0) return true;
  const int rc = close(fd_);
  fd_ = -1;
  return rc == 0;
}

bool OutputReplacement::Commit() {
  if (!IsOpen()) return Fail("cannot finish output " + output_path_ + ": not open");
  // On disk before it takes the output's name, so a crash leaves one file or the other.
  bool ok = true;
  if (fsync(fd_) != 0) {
    const int err = errno;
    ok = Fail("cannot finish output " + output_path_ + ": " + SystemReason(err));
  }
  if (!CloseFile() && ok) {
    const int err = errno;
    ok = Fail("cannot finish output " + output_path_ + ": " + SystemReason(err));
  }
  if (ok) {
    std::error_code ec;
    fs::rename(temp_path_, target_path_, ec);
    if (ec) {
      ok = Fail("cannot replace output " + output_path_ + ": " + ec.message());
    } else {
      temp_path_.clear();
      ReleaseLock();
    }
  }
  if (!ok) Discard();
  return ok;
}

void OutputReplacement::Discard() noexcept {
  CloseFile();
  if (!temp_path_.empty()) {
    std::error_code ec;
    fs::remove(temp_path_, ec);
    temp_path_.clear();
  }
  ReleaseLock();
}

void OutputReplacement::ReleaseLock() noexcept {
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
}

}  // namespace chronoreel
