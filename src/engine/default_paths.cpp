#include "engine/default_paths.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#endif

namespace chronoreel {

#ifdef _WIN32

std::string DefaultStillDirectory() { return "c:\\images\\"; }
std::string DefaultOutputAVIPath() { return "c:\\mymovie.avi"; }
std::string FileStillDirectory() { return "c:\\images"; }

#else

namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  // A scheduler may start us without HOME; the password entry still knows it.
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return ".";
}

// The folder that user-dirs.dirs gives for `key` ("XDG_PICTURES_DIR"), else home/fallback.
// Its lines read KEY="$HOME/Folder" or KEY="/absolute/folder"; anything else is passed over.
std::string UserDirectory(std::string_view key, const char* fallback) {
  const std::string home = HomeDirectory();
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string dirs = (config && *config == '/' ? std::string(config) : home + "/.config") +
                           "/user-dirs.dirs";
  std::ifstream in(dirs);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    std::string_view rest(line);
    if (rest.substr(0, key.size()) != key) continue;
    rest.remove_prefix(key.size());
    if (rest.size() < 3 || rest.substr(0, 2) != "=\"" || rest.back() != '"') continue;
    rest = rest.substr(2, rest.size() - 3);
    constexpr std::string_view kHome = "$HOME";
    if (rest.substr(0, kHome.size()) == kHome && (rest.size() == kHome.size() || rest[kHome.size()] == '/')) {
      found = home + std::string(rest.substr(kHome.size()));
    } else if (!rest.empty() && rest.front() == '/') {
      found = std::string(rest);
    }
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found.empty() ? home + "/" + fallback : found;
}

}  // namespace

std::string DefaultStillDirectory() { return UserDirectory("XDG_PICTURES_DIR", "Pictures"); }

std::string DefaultOutputAVIPath() { return UserDirectory("XDG_VIDEOS_DIR", "Videos") + "/timelapse.avi"; }

std::string FileStillDirectory() { return DefaultStillDirectory(); }

#endif

}  // namespace chronoreel
