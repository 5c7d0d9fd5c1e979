#pragma once
// INI: reads and writes profile files the way the Windows profile functions do. One file
// is named at a time; reads come from a cached copy, writes are batched and land through
// a temporary file and an atomic rename.
#include <string>

namespace chronoreel {

class INI {
 public:
  INI();
  ~INI();

  // Names the file for the following calls (a pending write of the previous file is flushed).
  void SetFile(const std::string& path);
  const std::string& File() const;

  // The value, or on no value: the default (written back when write_default) or "".
  std::string GetKey(const std::string& section, const std::string& key, bool write_default,
                     const std::string& default_value);
  void SetKey(const std::string& section, const std::string& key, const std::string& text);

  // Writes pending changes. False (with the reason in LastError()) when the file could
  // not be written.
  bool Flush();
  const std::string& LastError() const;

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace chronoreel
