#pragma once
// The objects a setup document lives among, wired as start-up wires them, with the
// recording host.
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

struct SetupWorld {
  ProgramState state;
  Sun sun{state.location, [] { return 37621.5; }, [] { return 0.0; }};
  FakeHost host;
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
