#include "app/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/core/error_report.h"

namespace chronoreel {

namespace {

// An advisory lock on a file beside the output, held for the length of the run, so that
// two scheduled runs never write the same movie at once.
class OutputLock {
 public:
  explicit OutputLock(const std::string& output_path) {
    std::filesystem::path out(output_path);
    std::filesystem::path lock = out.parent_path() / ("." + out.filename().string() + ".lock");
    path_ = lock.string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;  // a folder we cannot write: the run reports that itself
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      busy_ = (errno == EWOULDBLOCK);
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~OutputLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  bool Busy() const { return busy_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool busy_ = false;
};

}  // namespace

int RunAutomated(Application& app) {
  ErrorTrap trap("modMain", "Main");
  app.state.CurrentFile = app.state.cmd.SetupFileArgument;
  app.docs.LoadFile();
  app.ApplyOverrides();

  OutputLock lock(app.movie.OutputAVIPath());
  if (lock.Busy()) {
    std::fprintf(stderr, "chronoreel: another run is writing %s; this run ends without making it\n",
                 app.movie.OutputAVIPath().c_str());
    app.Shutdown();
    return kExitEndedEarly;
  }
  app.movie.MakeMovie();
  const bool completed = app.movie.LastRunCompleted();
  app.Shutdown();
  return completed ? kExitCompleted : kExitEndedEarly;
}

}  // namespace chronoreel
