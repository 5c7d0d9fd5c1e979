#pragma once
// Reads the entries of a manual page in man(7) source: each ".TP" item as the words of its
// tag line and the words of the item, font macros and troff's "\-" undone, so that tests can
// hold the page against the program's own tables.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace chronoreel::test {

struct ManEntry {
  std::vector<std::string> tag;   // ".BI /f= path" gives "/f=", "path"
  std::vector<std::string> text;  // the tag's and the item's words, without end punctuation
};

inline std::vector<std::string> ManWords(std::string line) {
  for (size_t at; (at = line.find("\\-")) != std::string::npos;) line.replace(at, 2, "-");
  for (size_t at; (at = line.find("\\c")) != std::string::npos;) line.erase(at, 2);
  for (size_t at; (at = line.find("\\f")) != std::string::npos && at + 2 < line.size();) line.replace(at, 3, " ");
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    if (word.size() > 1 && word[0] == '.' && word[1] >= 'A' && word[1] <= 'Z') continue;  // a macro
    while (!word.empty() && std::string(".,;:()\"").find(word.back()) != std::string::npos) word.pop_back();
    while (!word.empty() && std::string("(\"").find(word.front()) != std::string::npos) word.erase(0, 1);
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

// The ".TP" entries of the page; an item ends at the next ".TP", ".SH", ".SS" or ".PP".
inline std::vector<ManEntry> ManPageEntries(const std::string& path) {
  std::ifstream in(path);
  std::vector<ManEntry> entries;
  bool in_item = false, tag_next = false;
  for (std::string line; std::getline(in, line);) {
    const std::string macro = line.substr(0, 3);
    if (macro == ".TP") {
      entries.emplace_back();
      in_item = tag_next = true;
      continue;
    }
    if (macro == ".SH" || macro == ".SS" || macro == ".PP") in_item = false;
    if (!in_item) continue;
    const std::vector<std::string> words = ManWords(line);
    if (tag_next) entries.back().tag = words;
    tag_next = false;
    entries.back().text.insert(entries.back().text.end(), words.begin(), words.end());
  }
  return entries;
}

}  // namespace chronoreel::test
