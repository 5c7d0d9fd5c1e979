#include "setup/ini.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/core/conversions.h"
#include "app/core/error_report.h"

namespace chronoreel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

#ifdef _WIN32
constexpr const char* kNewFileLineEnd = "\r\n";
#else
constexpr const char* kNewFileLineEnd = "\n";
#endif

bool IsTrimmed(char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

std::string_view Trim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The quotes the reader takes off: one surrounding pair, the same quote nowhere inside.
bool Unquotes(std::string_view raw) {
  return raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front() &&
         raw.find(raw.front(), 1) == raw.size() - 1;
}

// A value is written so that it reads back as itself: one that the reader would trim or
// take quotes off (a path ending in a blank, a value in quotes) goes in a pair of quotes
// that it does not contain. One holding both kinds of quote is written as it is.
std::string StoredForm(const std::string& text) {
  if (Trim(text).size() == text.size() && !Unquotes(text)) return text;
  for (char q : {'"', '\''}) {
    if (text.find(q) == std::string::npos) return q + text + q;
  }
  return text;
}

// A line break inside a name or value would split it into lines of its own (and could
// plant keys); it is written as a blank instead.
std::string OneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

// The name of a section header line, or nothing when the line is no header.
bool HeaderName(std::string_view trimmed, std::string_view& name) {
  if (trimmed.empty() || trimmed.front() != '[') return false;
  size_t close = trimmed.rfind(']');
  if (close == std::string_view::npos) return false;
  name = Trim(trimmed.substr(1, close - 1));
  return true;
}

// The key name of a line inside a section, or nothing for blank and comment lines.
bool KeyName(std::string_view trimmed, std::string_view& name) {
  if (trimmed.empty() || trimmed.front() == ';') return false;
  name = Trim(trimmed.substr(0, trimmed.find('=')));
  return true;
}

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

}  // namespace

struct INI::Impl {
  struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\r\n", "\n", "\r" or "" (last line without one)
  };
  struct Section {
    std::vector<Line> lines;  // lines[0] is the header, except in the part before any header
    size_t tail = 0;          // one past the last non-blank line
    std::unordered_map<std::string, size_t> keys;  // lower-case name -> first matching line
  };

  std::string path;
  std::vector<Section> sections;  // sections[0]: the lines before the first header
  std::unordered_map<std::string, size_t> first_section;
  std::string eol = kNewFileLineEnd;
  bool bom = false;  // the file starts with a UTF-8 byte-order mark, kept on rewriting
  bool dirty = false;
  bool read_only = false;
  std::string read_error;  // set when the file exists but could not be read
  std::string last_error;

  void Clear() {
    sections.assign(1, Section{});
    first_section.clear();
    eol = kNewFileLineEnd;
    bom = false;
    dirty = false;
    read_error.clear();
  }

  void Parse(const std::string& bytes) {
    Clear();
    bool first_line = true;
    size_t pos = 0;
    // A Windows editor's byte-order mark would hide the first section header.
    if (bytes.compare(0, kBom.size(), kBom) == 0) {
      bom = true;
      pos = kBom.size();
    }
    while (pos < bytes.size()) {
      size_t end = bytes.find_first_of("\r\n", pos);
      Line line;
      if (end == std::string::npos) {
        line.text = bytes.substr(pos);
        pos = bytes.size();
      } else {
        line.text = bytes.substr(pos, end - pos);
        size_t len = (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
        line.eol = bytes.substr(end, len);
        pos = end + len;
      }
      if (first_line) {
        // New lines follow the file's own style: CRLF, CR or LF as its first line ends.
        if (!line.eol.empty()) eol = line.eol;
        first_line = false;
      }
      AddParsedLine(std::move(line));
    }
  }

  void AddParsedLine(Line line) {
    std::string_view t = Trim(line.text);
    std::string_view name;
    if (HeaderName(t, name)) {
      sections.emplace_back();
      first_section.emplace(AsciiLower(name), sections.size() - 1);
    } else if (sections.size() > 1 && KeyName(t, name)) {
      sections.back().keys.emplace(AsciiLower(name), sections.back().lines.size());
    }
    Section& s = sections.back();
    s.lines.push_back(std::move(line));
    if (!t.empty()) s.tail = s.lines.size();
  }

  std::string Serialize() const {
    std::string out(bom ? kBom : std::string_view());
    for (const Section& s : sections) {
      for (const Line& l : s.lines) {
        out += l.text;
        out += l.eol;
      }
    }
    return out;
  }

  Line* FindKey(const std::string& section, const std::string& key) {
    auto sit = first_section.find(AsciiLower(section));
    if (sit == first_section.end()) return nullptr;
    Section& s = sections[sit->second];
    auto kit = s.keys.find(AsciiLower(key));
    if (kit == s.keys.end()) return nullptr;
    return &s.lines[kit->second];
  }

  // The stored value: the text after the first "=", trimmed; nothing without "=".
  static bool RawValue(const Line& line, std::string_view& value) {
    size_t eq = line.text.find('=');
    if (eq == std::string::npos) return false;
    value = Trim(std::string_view(line.text).substr(eq + 1));
    return true;
  }

  // The last line of the file gets a line end before anything is added after it.
  void EndLastLine() {
    for (auto s = sections.rbegin(); s != sections.rend(); ++s) {
      if (!s->lines.empty()) {
        if (s->lines.back().eol.empty()) s->lines.back().eol = eol;
        return;
      }
    }
  }

  void Set(const std::string& section_in, const std::string& key_in, const std::string& text_in) {
    const std::string section = OneLine(section_in);
    const std::string key = OneLine(key_in);
    const std::string text = StoredForm(OneLine(text_in));
    auto sit = first_section.find(AsciiLower(section));
    if (sit == first_section.end()) {
      EndLastLine();
      Section s;
      s.lines.push_back(Line{"[" + section + "]", eol});
      s.lines.push_back(Line{key + "=" + text, eol});
      s.tail = 2;
      s.keys.emplace(AsciiLower(key), 1);
      sections.push_back(std::move(s));
      first_section.emplace(AsciiLower(section), sections.size() - 1);
      dirty = true;
      return;
    }
    Section& s = sections[sit->second];
    auto kit = s.keys.find(AsciiLower(key));
    if (kit != s.keys.end()) {
      Line& line = s.lines[kit->second];
      std::string_view stored;
      if (RawValue(line, stored) && stored == text) return;
      size_t eq = line.text.find('=');
      std::string prefix;
      if (eq != std::string::npos) {
        prefix = line.text.substr(0, eq);
      } else {
        std::string_view t = Trim(line.text);
        prefix = line.text.substr(0, static_cast<size_t>(t.data() - line.text.data()) + t.size());
      }
      line.text = prefix + "=" + text;
      dirty = true;
      return;
    }
    // After the last non-blank line of the section: only blank lines follow it, so no
    // recorded key line moves.
    size_t at = s.tail;
    if (at > 0 && s.lines[at - 1].eol.empty()) s.lines[at - 1].eol = eol;
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key + "=" + text, eol});
    s.keys.emplace(AsciiLower(key), at);
    s.tail = at + 1;
    dirty = true;
  }

  bool Write();
};

namespace {

#ifndef _WIN32
// Writes `bytes` to a new file in the folder of `target` and renames it over `target`, so
// that the file is either the old one or the new one, never a part of it.
bool ReplaceFile(const fs::path& target, const std::string& bytes, std::string& reason) {
  struct stat old_stat {};
  const bool existed = ::stat(target.c_str(), &old_stat) == 0;
  if (existed && ::access(target.c_str(), W_OK) != 0) {
    reason = ErrnoText(errno);
    return false;
  }
  // A file marked read-only stays so even for a user who could write it anyway (root):
  // the rename would otherwise replace it without a word.
  if (existed && S_ISREG(old_stat.st_mode) && (old_stat.st_mode & 0222) == 0) {
    reason = ErrnoText(EACCES);
    return false;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    reason = ErrnoText(errno);
    return false;
  }
  auto fail = [&](int err) {
    reason = ErrnoText(err);
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  mode_t mode;
  if (existed) {
    mode = old_stat.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) return fail(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    ::fsync(dfd);  // best effort: the rename itself is already in place
    ::close(dfd);
  }
  return true;
}
#else
bool ReplaceFile(const fs::path& target, const std::string& bytes, std::string& reason) {
  fs::path temp = target;
  temp += ".tmp~";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      reason = "write failed";
      std::error_code ec;
      fs::remove(temp, ec);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    reason = ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}
#endif

}  // namespace

bool INI::Impl::Write() {
  if (!read_error.empty()) {
    // Writing what we hold would replace a file we never saw.
    last_error = "cannot write " + path + ": " + read_error;
    return false;
  }
  fs::path target = path;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  std::string reason;
  if (!ReplaceFile(target, Serialize(), reason)) {
    last_error = "cannot write " + path + ": " + reason;
    return false;
  }
  dirty = false;
  last_error.clear();
  return true;
}

INI::INI() : impl_(std::make_unique<Impl>()) {
  impl_->Clear();
}

INI::~INI() {
  try {
    Flush();
  } catch (...) {
    // Nothing can be reported from here.
  }
}

void INI::SetFile(const std::string& path) {
  ErrorTrap trap("INI", "SetFile_Let");
  if (impl_->dirty) Flush();
  impl_->path = path;
  impl_->Clear();
  if (path.empty()) {
    impl_->read_error = "no file name";
    return;
  }
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) return;  // a missing file reads as empty and is created on Flush
  if (fs::is_directory(st)) {
    impl_->read_error = ErrnoText(EISDIR);
    return;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    impl_->read_error = ErrnoText(errno != 0 ? errno : EACCES);
    return;
  }
  // No profile comes near kMaxProfileBytes; a file that does (or a device that never ends)
  // is damaged: it is neither held in memory nor overwritten.
  std::string bytes;
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxProfileBytes) {
      impl_->read_error = "file too large (over " + std::to_string(kMaxProfileBytes >> 20) + " MiB)";
      return;
    }
  }
  if (in.bad()) {
    impl_->read_error = "read error";
    return;
  }
  impl_->Parse(bytes);
}

const std::string& INI::File() const {
  return impl_->path;
}

std::string INI::GetKey(const std::string& section, const std::string& key, bool write_default,
                        const std::string& default_value) {
  try {
    std::string value;
    if (const Impl::Line* line = impl_->FindKey(section, key)) {
      std::string_view raw;
      if (Impl::RawValue(*line, raw)) {
        if (Unquotes(raw)) raw = raw.substr(1, raw.size() - 2);
        value = std::string(raw);
      }
    }
    if (!value.empty()) return value;
    if (!write_default) return "";
    impl_->Set(section, key, default_value);
    return default_value;
  } catch (const std::exception&) {
    return "";
  }
}

bool INI::HasKey(const std::string& section, const std::string& key) {
  return impl_->FindKey(section, key) != nullptr;
}

void INI::SetKey(const std::string& section, const std::string& key, const std::string& text) {
  try {
    impl_->Set(section, key, text);
  } catch (const std::exception&) {
    // A write that fails is not reported to the caller.
  }
}

bool INI::Flush() {
  if (!impl_->dirty) return true;
  if (impl_->read_only) {
    // Changes stay in memory, where the settings already are; the file stays as it was.
    impl_->dirty = false;
    return true;
  }
  return impl_->Write();
}

void INI::SetReadOnly(bool read_only) {
  impl_->read_only = read_only;
}

const std::string& INI::LastError() const {
  return impl_->last_error;
}

bool INI::Pending() const {
  return impl_->dirty;
}

}  // namespace chronoreel
