// The document commands of the "&File" menu, the save prompt, the recent files and the
// program profile "Chronoreel.INI".
#include "setup/documents.h"

#include <filesystem>
#include <system_error>

#include "app/core/conversions.h"
#include "app/core/error_report.h"

namespace chronoreel {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProfileName = "Chronoreel.INI";
constexpr const char* kLastFiles = "Last Files";

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

MessageAnswer Ask(Host& host, const std::string& text, const std::string& title, MessageButtons buttons) {
  MessageBoxRequest box;
  box.text = text;
  box.title = title;
  box.buttons = buttons;
  box.icon = MessageIcon::None;
  return host.ShowMessage(box);
}

}  // namespace

Documents::Documents(ProgramState& state, MovieGen& movie, INI& ini, Host& host, Sun& sun)
    : state_(state), movie_(movie), ini_(ini), host_(host), sun_(sun) {}

void Documents::FileInit() {
  ErrorTrap trap("modFile", "FileInit");
  state_.SetupChanged = false;
}

void Documents::FileShutdown() {
  ErrorTrap trap("modFile", "FileShutdown");
  ini_.Flush();
}

std::string Documents::ProfilePath() const {
  fs::path dir = profile_dir_;
  if (dir.empty()) {
    std::error_code ec;
    dir = fs::current_path(ec);
  }
  return (dir / kProfileName).string();
}

void Documents::LoadSetup() {
  ErrorTrap trap("modFile", "LoadSetup");
  ini_.SetFile(ProfilePath());
  state_.location.longitude = Str2DblNI(ini_.GetKey("General", "Longitude", true, "0"));
  state_.location.latitude = Str2DblNI(ini_.GetKey("General", "Latitude", true, "0"));
  loaded_location_ = state_.location;
  sun_.Invalidate();

  // Entries whose files are gone drop out and the rest close up.
  std::array<std::string, 4> files{};
  size_t n = 0;
  for (int i = 1; i <= 4; ++i) {
    std::string name = ini_.GetKey(kLastFiles, "File" + std::to_string(i), false, "");
    if (!name.empty() && FileExists(name)) files[n++] = std::move(name);
  }
  state_.LastFiles = files;
  ini_.Flush();
}

bool Documents::SaveSetup() {
  ErrorTrap trap("modFile", "SaveSetup");
  ini_.SetFile(ProfilePath());
  // An unattended run writes back only what it changed itself and what the profile still
  // lacks: a location that another program put into the profile meanwhile stays.
  const bool all = !state_.cmd.AutomatedRun;
  const struct {
    const char* key;
    double now;
    double loaded;
  } location[] = {{"Longitude", state_.location.longitude, loaded_location_.longitude},
                  {"Latitude", state_.location.latitude, loaded_location_.latitude}};
  for (const auto& l : location) {
    if (all || l.now != l.loaded || !ini_.HasKey("General", l.key)) {
      ini_.SetKey("General", l.key, CStrNI(l.now));
    }
  }
  if (all) {
    for (int i = 1; i <= 4; ++i) {
      ini_.SetKey(kLastFiles, "File" + std::to_string(i), state_.LastFiles[static_cast<size_t>(i - 1)]);
    }
  }
  return ini_.Flush();
}

void Documents::PromoteCurrentFile() {
  size_t pos = 3;
  const std::string current = LowerAscii(state_.CurrentFile);
  for (size_t i = 0; i <= 3; ++i) {
    if (LowerAscii(state_.LastFiles[i]) == current) {
      pos = i;
      break;
    }
  }
  for (size_t i = pos; i >= 1; --i) state_.LastFiles[i] = state_.LastFiles[i - 1];
  state_.LastFiles[0] = state_.CurrentFile;
}

void Documents::DropRecentFile(size_t index) {
  for (size_t i = index; i + 1 < state_.LastFiles.size(); ++i) state_.LastFiles[i] = state_.LastFiles[i + 1];
  state_.LastFiles.back().clear();
}

void Documents::AfterLoad() {
  state_.SetupChanged = false;
  if (!state_.cmd.AutomatedRun) {
    state_.SaveCommandsEnabled = true;
    host_.EnableSaveCommands();
  }
  PromoteCurrentFile();
  if (!state_.cmd.AutomatedRun) {
    host_.UpdateLastFilesMenu();
    host_.UpdateSetupControls();
    host_.SetWindowTitle("Chronoreel - " + state_.CurrentFile);
  }
}

void Documents::AfterSave() {
  PromoteCurrentFile();
  host_.UpdateLastFilesMenu();
  state_.SetupChanged = false;  // before the title, which shows it
  host_.SetWindowTitle("Chronoreel - " + state_.CurrentFile);
}

bool Documents::SavePrompt() {
  if (!state_.SetupChanged) return true;
  switch (Ask(host_, "Would you like to save the current file?", "Save Changes?", MessageButtons::YesNoCancel)) {
    case MessageAnswer::Yes:
      return SaveFile();
    case MessageAnswer::No:
      state_.SetupChanged = false;
      return true;
    default:
      return false;
  }
}

std::optional<std::string> Documents::SetupFileDialog(const std::string& title, FileDialogStyle style) {
  // The dialog may move the current directory; the profile lives in the one we started in.
  std::error_code ec;
  const fs::path remembered = fs::current_path(ec);
  std::optional<std::string> chosen = host_.ChooseSetupFile(title, style);
  if (!remembered.empty()) fs::current_path(remembered, ec);
  if (!chosen) return std::nullopt;
  if (chosen->empty()) {
    Ask(host_, "No file was selected.  Aborting process.", "No file selected", MessageButtons::Ok);
    return std::nullopt;
  }
  return chosen;
}

void Documents::NewFile() {
  ErrorTrap trap("modFile", "NewFile");
  if (!SavePrompt()) return;
  std::optional<std::string> path = SetupFileDialog("New Setup File", FileDialogStyle::New);
  if (!path) return;
  if (FileExists(*path)) {
    Ask(host_, "File already exists.  Select 'Open Setup' to open an existing file.", "File Exists",
        MessageButtons::Ok);
    return;
  }
  state_.CurrentFile = *path;
  LoadFile();
}

void Documents::OpenFile() {
  ErrorTrap trap("modFile", "OpenFile");
  if (!SavePrompt()) return;
  std::optional<std::string> path = SetupFileDialog("Open/Create Setup File", FileDialogStyle::Open);
  if (!path) return;
  state_.CurrentFile = *path;
  LoadFile();
}

void Documents::SaveAsFile() {
  ErrorTrap trap("modFile", "SaveAsFile");
  std::optional<std::string> path = SetupFileDialog("Save File", FileDialogStyle::Save);
  if (!path) return;
  if (FileExists(*path) &&
      Ask(host_, "File already exists.  Would you like to overwrite the existing file?", "File Exists",
          MessageButtons::YesNoCancel) != MessageAnswer::Yes) {
    return;
  }
  const std::string previous_file = state_.CurrentFile;
  state_.CurrentFile = *path;
  // A failed save leaves the document under its former name.
  if (!SaveFile()) state_.CurrentFile = previous_file;
}

void Documents::OpenRecentFile(int index) {
  ErrorTrap trap("frmMain", "mnuFiles_Click");
  if (index < 0 || index > 3) return;
  const std::string entry = state_.LastFiles[static_cast<size_t>(index)];
  // An empty entry has no menu item to choose.
  if (entry.empty() || LowerAscii(entry) == LowerAscii(state_.CurrentFile)) return;
  // A file gone since it was listed is not made anew behind the user's back.
  if (!FileExists(entry)) {
    DropRecentFile(static_cast<size_t>(index));
    host_.UpdateLastFilesMenu();
    host_.ShowMessage({"The setup file " + entry + " no longer exists. It was taken off the list.",
                       "File Not Found", MessageButtons::Ok, MessageIcon::Exclamation});
    return;
  }
  if (!SavePrompt()) return;
  state_.CurrentFile = entry;
  LoadFile();
}

}  // namespace chronoreel
