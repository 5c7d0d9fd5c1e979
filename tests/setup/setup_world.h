#pragma once
// The objects a setup document lives among, wired as start-up wires them, with a host
// that records the main window's document parts too.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "setup/documents.h"
#include "setup/ini.h"
#include "support/fake_host.h"
#include "time/sun.h"

namespace chronoreel {

class DocumentHost : public FakeHost {
 public:
  std::vector<std::string> titles;
  int save_enables = 0;
  int menu_updates = 0;
  int control_updates = 0;

  void SetWindowTitle(const std::string& title) override { titles.push_back(title); }
  void EnableSaveCommands() override { ++save_enables; }
  void UpdateLastFilesMenu() override { ++menu_updates; }
  void UpdateSetupControls() override { ++control_updates; }
};

struct SetupWorld {
  ProgramState state;
  Sun sun{state.location, [] { return 37621.5; }, [] { return 0.0; }};
  DocumentHost host;
  MovieGen movie{state, sun, host};
  INI ini;
  Documents docs{state, movie, ini, host, sun};

  void Load(const std::string& path) {
    state.CurrentFile = path;
    docs.LoadFile();
  }
};

// A value as it stands in the file, without writing anything back.
inline std::string Stored(const std::string& path, const std::string& section, const std::string& key) {
  INI ini;
  ini.SetFile(path);
  return ini.GetKey(section, key, false, "");
}

}  // namespace chronoreel
