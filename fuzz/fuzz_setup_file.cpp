// Setup files: any bytes in a ".tls" file must load without a fault, reading keys must not
// disturb the others, and a loaded setup saved once must be a fixed point: loading and
// saving it again leaves the file byte for byte as it was.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/core/conversions.h"
#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "fuzz_support.h"
#include "setup/documents.h"
#include "setup/ini.h"
#include "time/sun.h"

using chronoreel::fuzz::ScratchName;
using chronoreel::fuzz::ScratchPath;
using chronoreel::fuzz::Violation;

namespace {

const std::string& SetupPath() {
  static const ScratchPath file(ScratchName("setup", ".tls"));
  return file.Path();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct KeyName {
  const char* section;
  const char* key;
};

// Codec blocks up to 1 MiB load as hex lines, 32 bytes a line; the largest take seconds
// under the sanitizers. Their limit is a unit test's; here they would crowd out the rest.
constexpr int32_t kMaxFuzzBlockBytes = 64 * 1024;

bool BlocksSmallEnough(const std::string& path) {
  chronoreel::INI ini;
  ini.SetFile(path);
  for (const char* key : {"Format", "Parms"}) {
    if (chronoreel::Str2LngNI(ini.GetKey("Compress", key, false, "")) > kMaxFuzzBlockBytes) return false;
  }
  return true;
}

constexpr KeyName kProbeKeys[] = {
    {"General", "ImageFilter"},  {"general", "STILLDIRECTORY"}, {"General", "MovieFPS"},
    {"Compress", "Format"},      {"Compress", "FormatData00001"}, {"Compress", "ParmsData00001"},
    {"Missing", "Key"},          {"", ""},
};

// The program-wide objects of one document, made the way start-up makes them.
struct Document {
  chronoreel::ProgramState state;
  chronoreel::NullHost host;
  chronoreel::Sun sun{state.location};
  chronoreel::MovieGen movie{state, sun, host};
  chronoreel::INI ini;
  chronoreel::Documents docs{state, movie, ini, host, sun};

  explicit Document(const std::string& file) {
    state.cmd.AutomatedRun = true;  // no window to refresh
    state.CurrentFile = file;
  }
};

void CheckReadsUndisturbed(const std::string& path, std::string_view input) {
  chronoreel::INI ini;
  ini.SetFile(path);
  std::string before[std::size(kProbeKeys)];
  for (size_t i = 0; i < std::size(kProbeKeys); ++i)
    before[i] = ini.GetKey(kProbeKeys[i].section, kProbeKeys[i].key, false, "");
  const std::string unchanged = ReadWholeFile(path);
  if (!ini.Flush()) return;
  if (ReadWholeFile(path) != unchanged) Violation("reading keys changed the file", input);

  // One key written; every other value reads as it did.
  ini.SetKey("General", "FuzzProbe", "probe value");
  if (!ini.Flush()) return;
  chronoreel::INI again;
  again.SetFile(path);
  if (again.GetKey("General", "FuzzProbe", false, "") != "probe value")
    Violation("a written key does not read back", input);
  for (size_t i = 0; i < std::size(kProbeKeys); ++i) {
    if (again.GetKey(kProbeKeys[i].section, kProbeKeys[i].key, false, "") != before[i])
      Violation("writing one key changed another", input);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string& path = SetupPath();

  if (!chronoreel::fuzz::WriteWholeFile(path, data, size)) return 0;
  if (!BlocksSmallEnough(path)) return -1;
  CheckReadsUndisturbed(path, input);

  if (!chronoreel::fuzz::WriteWholeFile(path, data, size)) return 0;
  std::string saved;
  {
    Document first(path);
    first.docs.LoadFile();
    if (!first.docs.SaveFile()) Violation("a loaded setup file could not be saved", input);
    saved = ReadWholeFile(path);
  }
  {
    Document second(path);
    second.docs.LoadFile();
    if (!second.docs.SaveFile()) Violation("a saved setup file could not be saved again", input);
  }
  if (ReadWholeFile(path) != saved) Violation("a saved setup file is not a fixed point", input);
  return 0;
}
