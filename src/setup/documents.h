#pragma once
// The setup document and the program profile: the file commands, the save prompt, the
// recent files and "Chronoreel.INI".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "setup/ini.h"
#include "time/sun.h"

namespace chronoreel {

// The codec blocks travel as hex lines of 32 bytes. Blocks are read and written up to this
// many bytes; a count beyond it (a damaged file) is not allocated, and its further bytes
// count as 0.
constexpr int32_t kMaxSetupBlockBytes = 1 << 20;

// Number of hex lines for a block of n bytes: trunc((n - 1) / 32) + 1 (0 for n <= -31).
int32_t HexLineCount(int32_t n);
// The 64-character line of `count` bytes (at most 32); the rest of the line is "0".
std::string EncodeHexLine(const uint8_t* bytes, int32_t count);
// Byte k of a hex line; 0 where the line is too short or the two characters are not hex.
uint8_t DecodeHexByte(const std::string& line, int32_t k);

class Documents {
 public:
  Documents(ProgramState& state, MovieGen& movie, INI& ini, Host& host, Sun& sun);

  void FileInit();
  void FileShutdown();
  // The program profile in `directory` (the current directory by default).
  void LoadSetup();
  bool SaveSetup();  // false when the profile could not be written
  void SetProfileDirectory(const std::string& directory) { profile_dir_ = directory; }
  std::string ProfilePath() const;

  // Setup files (LoadFile / SaveFile of the format).
  void LoadFile();
  bool SaveFile();
  // One line for each value of the last load that was not used as written (no number, or
  // clamped), with the value used instead. An unattended run prints them.
  const std::vector<std::string>& LoadWarnings() const { return load_warnings_; }

  // The "&File" commands.
  bool SavePrompt();  // false: the command is abandoned
  void NewFile();
  void OpenFile();
  void SaveAsFile();
  void OpenRecentFile(int index);  // mnuFiles_Click

  // Moves CurrentFile to the top of LastFiles.
  void PromoteCurrentFile();
  // Takes entry `index` off LastFiles; the later ones move up.
  void DropRecentFile(size_t index);

 private:
  void AfterLoad();
  void AfterSave();
  std::optional<std::string> SetupFileDialog(const std::string& title, FileDialogStyle style);

  ProgramState& state_;
  MovieGen& movie_;
  INI& ini_;
  Host& host_;
  Sun& sun_;
  std::string profile_dir_;
  std::vector<std::string> load_warnings_;
  Location loaded_location_;  // as the profile held it at start-up
};

}  // namespace chronoreel
