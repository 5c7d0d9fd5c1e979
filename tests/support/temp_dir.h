#pragma once
// TempDir: a fresh directory under /tmp (or `parent`), removed with everything in it when
// the owner goes.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace chronoreel {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "chronoreel", const std::string& parent = "/tmp") {
    std::string pattern = parent + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create temporary directory " + pattern);
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // Full path of an entry inside the directory (not created).
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace chronoreel
