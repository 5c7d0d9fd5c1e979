#pragma once
// INI: reads and writes profile files the way the Windows profile functions do. One file
// is named at a time; reads come from a cached copy, writes are batched and land through
// a temporary file and an atomic rename.
//
// Invariant: the cached copy is the file as it was read by SetFile plus the changes made
// since, and Flush() writes exactly what one write per SetKey call would have left on disk.
// Lines the class does not change keep their bytes, line ends included, and so does a
// UTF-8 byte-order mark at the start.
#include <cstdint>
#include <memory>
#include <string>

namespace chronoreel {

// A file larger than this is not read: its keys read as missing and writes to it fail.
constexpr std::uintmax_t kMaxProfileBytes = std::uintmax_t{64} << 20;

class INI {
 public:
  INI();
  ~INI();  // flushes pending changes as a last resort (a failure is ignored)
  INI(const INI&) = delete;
  INI& operator=(const INI&) = delete;

  // Names the file for the following calls and reads it (a pending write of the previous
  // file is flushed first).
  void SetFile(const std::string& path);
  const std::string& File() const;

  // The value, or on no value: the default (written back when write_default) or "".
  std::string GetKey(const std::string& section, const std::string& key, bool write_default,
                     const std::string& default_value);
  void SetKey(const std::string& section, const std::string& key, const std::string& text);
  // True when the file has a line for the key, with a value or without.
  bool HasKey(const std::string& section, const std::string& key);

  // Writes pending changes. False (with the reason in LastError()) when the file could
  // not be written; the changes stay pending then.
  bool Flush();
  const std::string& LastError() const;
  // From now on no file is written: Flush() keeps changes in memory only (a dry run).
  void SetReadOnly(bool read_only);
  // True when SetKey changed something that Flush() has not written yet.
  bool Pending() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace chronoreel
