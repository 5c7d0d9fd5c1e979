#pragma once
// Whole files as text, for the tests that run the real program and read back what it left.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace chronoreel {

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace chronoreel
