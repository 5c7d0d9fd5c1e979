#pragma once
// The program-wide objects, made in one visible place: start-up makes one Application
// with the host it runs under (the Qt windows or the console), and everything is reached
// through it.
#include <string>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "setup/documents.h"
#include "setup/ini.h"
#include "time/sun.h"

namespace chronoreel {

class Application {
 public:
  // profile_directory: where "Chronoreel.INI" lives (the current directory).
  Application(Host& host, const std::string& profile_directory);

  ProgramState state;
  Sun sun;
  MovieGen movie;
  INI ini;
  Documents docs;

  // The overrides of an automated run, in their order (start, stop, the four texts), then
  // SetupChanged cleared.
  void ApplyOverrides();

  // When the time window counts from sunrise or sunset and neither the setup file nor the
  // profile holds a location (latitude 0 and longitude 0), says so on standard error with the profile's path: the
  // times would be those of the Gulf of Guinea, and an unattended run has nobody to see it.
  void WarnOfSunWithoutLocation() const;

  // The orderly end: the save prompt unless automated (Yes, No, Cancel; false on Cancel
  // and when Yes could not save), then the profile, then FileShutdown.
  bool Shutdown();

 private:
  Host& host_;
};

}  // namespace chronoreel
