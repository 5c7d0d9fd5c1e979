#pragma once
// The setup document and the program profile: the file commands, the save prompt, the
// recent files and "Chronoreel.INI".
#include <string>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "setup/ini.h"
#include "time/sun.h"

namespace chronoreel {

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

  // The "&File" commands.
  bool SavePrompt();  // false: the command is abandoned
  void NewFile();
  void OpenFile();
  void SaveAsFile();
  void OpenRecentFile(int index);  // mnuFiles_Click

  // Moves CurrentFile to the top of LastFiles.
  void PromoteCurrentFile();

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
};

}  // namespace chronoreel
