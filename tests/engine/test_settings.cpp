// The generation settings: creation defaults, clamping, change marks and the byte blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/codecs.h"
#include "engine/movie_gen.h"
#include "engine/settings.h"
#include "support/env_guard.h"
#include "support/fake_host.h"
#include "support/man_page.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

// The default paths follow HOME; a home of the test's own makes them known.
class SettingsTest : public ::testing::Test {
 protected:
  TempDir home{"chronoreel-home"};
  test::EnvGuard home_env{"HOME", home.Str().c_str()};
  test::EnvGuard config_env{"XDG_CONFIG_HOME", nullptr};
#ifdef _WIN32
  const std::string still_default = "c:\\images\\";
  const std::string output_default = "c:\\mymovie.avi";
#else
  const std::string still_default = home.Str() + "/Pictures";
  const std::string output_default = home.Str() + "/Videos/timelapse.avi";
#endif
  ProgramState state;
  Sun sun{state.location, [] { return 45000.5; }, [] { return 0.0; }};
  NullHost host;
  MovieGen gen{state, sun, host};
};

// The creation default of every setting that is no text, and of the block sizes.
struct NumericSetting {
  const char* name;
  double creation_default;
};

const NumericSetting kNumericSettings[] = {
    {"DeleteOldImages", 0},          {"DeleteOldImagesHours", 168},     {"MovieDirection", 1},
    {"TimeOption", 0},               {"StartTimeOption", 0},            {"StartTimeRelative", 0},
    {"StartTimeToday", 0},           {"StartTimeAbsolute", 0},          {"StartTimeSunriseRelative", 0},
    {"StartTimeSunsetRelative", 0},  {"StopTimeOption", 0},             {"StopTimeRelative", 0},
    {"StopTimeToday", 0},            {"StopTimeAbsolute", 0},           {"StopTimeSunriseRelative", 0},
    {"StopTimeSunsetRelative", 0},   {"ImageIntervalOption", 0},        {"ImagesPerHour", 60},
    {"DuplicateCount", 2},           {"TimeStampOption", 0},            {"MovieSizeOption", 0},
    {"MovieSizeWidth", 320},         {"MovieSizeHeight", 240},          {"MovieFPS", 24},
    {"IncludeSubfolders", 0},        {"StampPosition", 3},              {"StampSize", 5},
    {"DeflickerFrames", 0},          {"CompressType", 0},               {"CompressHandler", 541215044},
    {"CompressKeyFrameEvery", 0},    {"CompressQuality", 50},           {"CompressBytesPerSecond", 100000},
    {"CompressFlags", 8},            {"CompressFormat", 0},             {"CompressParms", 0},
    {"CompressInterleaveEvery", 0},  {"FormatSize", 0},                 {"ParmsSize", 0},
    {"Latitude", kNoNumber},         {"Longitude", kNoNumber},          {"SkipDarkBelow", 0},
    {"SkipBrightAbove", 255},
    {"DayHoursOption", 0},           {"DayHoursStart", 0},              {"DayHoursStop", 0},
    {"DayHoursSunriseRelative", 0},  {"DayHoursSunsetRelative", 0},     {"DailyToleranceMinutes", 30},
    {"MovieSeconds", 0},             {"StartTimeTodayDays", 0},         {"StopTimeTodayDays", 0},
};

// Equal, or both "no number".
bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Set and read through the settings table; the block sizes are no keys of the file.
void Set(MovieGen& g, const std::string& name, double v) {
  if (name == "FormatSize") return g.SetFormatSize(static_cast<int32_t>(v));
  if (name == "ParmsSize") return g.SetParmsSize(static_cast<int32_t>(v));
  FindSetting(name).set_number(g, v);
}

double Get(const MovieGen& g, const std::string& name) {
  if (name == "FormatSize") return g.FormatSize();
  if (name == "ParmsSize") return g.ParmsSize();
  return FindSetting(name).number(g);
}

bool IsRecord(const std::string& name) {
  return name.rfind("Compress", 0) == 0 || name == "FormatSize" || name == "ParmsSize";
}

TEST_F(SettingsTest, NewObjectHoldsTheCreationDefaults) {
  for (const auto& s : kNumericSettings) EXPECT_TRUE(Same(Get(gen, s.name), s.creation_default)) << s.name;
  // A setting added to the table states its creation default here too.
  for (const SettingInfo& row : SettingTable()) {
    const bool listed = std::any_of(std::begin(kNumericSettings), std::end(kNumericSettings),
                                    [&](const NumericSetting& s) { return row.property == std::string(s.name); });
    EXPECT_EQ(listed, row.type != SettingType::Text) << row.property;
  }
  EXPECT_EQ(gen.StillDirectory(), still_default);
  EXPECT_EQ(gen.ImageFilter(), "*.jpg");
  EXPECT_EQ(gen.OutputAVIPath(), output_default);
  EXPECT_EQ(gen.PostGenerationShell(), "");
  EXPECT_FALSE(gen.DeleteOldImages());
  EXPECT_FALSE(gen.IncludeSubfolders());
  EXPECT_EQ(gen.StampText(), "");
  EXPECT_EQ(gen.FormatBytes(0), 0);
  EXPECT_EQ(gen.ParmsBytes(0), 0);
  EXPECT_FALSE(gen.CancelRequested());
  EXPECT_FALSE(state.SetupChanged);
}

struct ClampCase {
  const char* setting;
  double input;
  double expected;
};

class ClampTest : public SettingsTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ClampTest, StoresTheClampedValueAndMarks) {
  const ClampCase& c = GetParam();
  Set(gen, c.setting, c.input);
  EXPECT_DOUBLE_EQ(Get(gen, c.setting), c.expected);
  EXPECT_TRUE(state.SetupChanged);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ClampTest,
    ::testing::Values(
        ClampCase{"StartTimeOption", 7, 5}, ClampCase{"StartTimeOption", -1, 0},
        ClampCase{"StopTimeOption", 6, 5}, ClampCase{"TimeOption", 3, 1},
        ClampCase{"StartTimeToday", 1.5, 0.999988425925926},
        ClampCase{"StartTimeToday", -0.25, 0}, ClampCase{"StopTimeToday", 0.75, 0.75},
        ClampCase{"StartTimeSunsetRelative", -30, -24},
        ClampCase{"DayHoursOption", 3, 2}, ClampCase{"DayHoursStop", 1.5, 0.999988425925926},
        ClampCase{"DayHoursSunriseRelative", -13, -12}, ClampCase{"DailyToleranceMinutes", -5, 0},
        ClampCase{"MovieSeconds", -30, 0}, ClampCase{"StartTimeTodayDays", -40000, -36500},
        ClampCase{"StopTimeSunriseRelative", 25, 24},
        ClampCase{"StartTimeRelative", -1000, -1000},
        ClampCase{"ImagesPerHour", 0.5, 1}, ClampCase{"ImagesPerHour", 50000, 36000},
        ClampCase{"DuplicateCount", 0, 1}, ClampCase{"DuplicateCount", 200000, 100000},
        ClampCase{"MovieSizeWidth", 7681, 7680}, ClampCase{"MovieSizeWidth", 3840, 3840},
        ClampCase{"MovieSizeHeight", 0, 1}, ClampCase{"MovieSizeHeight", 2160, 2160},
        ClampCase{"MovieSizeHeight", 4321, 4320}, ClampCase{"MovieFPS", 0, 1},
        ClampCase{"MovieFPS", 100, 60}, ClampCase{"ImageIntervalOption", -4, 0},
        ClampCase{"TimeStampOption", 3, 2}, ClampCase{"TimeStampOption", 2, 2},
        ClampCase{"MovieSizeOption", 9, 1},
        ClampCase{"StampPosition", 4, 3}, ClampCase{"StampPosition", -1, 0},
        ClampCase{"StampSize", 0.2, 1}, ClampCase{"StampSize", 80, 50},
        ClampCase{"DeflickerFrames", 1, 2}, ClampCase{"DeflickerFrames", -3, 0},
        ClampCase{"DeflickerFrames", 500, 129}, ClampCase{"DeflickerFrames", 7, 7},
        ClampCase{"Latitude", 91, 90}, ClampCase{"Latitude", -90.5, -90}, ClampCase{"Latitude", 52.52, 52.52},
        ClampCase{"Longitude", 181, 180}, ClampCase{"Longitude", -13.4, -13.4},
        ClampCase{"SkipDarkBelow", -1, 0}, ClampCase{"SkipBrightAbove", 300, 255},
        ClampCase{"DeleteOldImagesHours", 0.1, static_cast<double>(0.1f)},
        ClampCase{"DeleteOldImagesHours", -5, -5}),
    [](const auto& p) { return std::string(p.param.setting) + "_" + std::to_string(p.index); });

TEST_F(SettingsTest, SettingTheStoredValueLeavesTheSetupUnchanged) {
  for (const auto& s : kNumericSettings) {
    if (IsRecord(s.name)) continue;  // store and mark, checked below
    state.SetupChanged = false;
    Set(gen, s.name, s.creation_default);
    EXPECT_FALSE(state.SetupChanged) << s.name;
  }
  state.SetupChanged = false;
  gen.SetStillDirectory(still_default);
  gen.SetImageFilter("*.jpg");
  gen.SetOutputAVIPath(output_default);
  gen.SetPostGenerationShell("");
  gen.SetDeleteOldImages(false);
  gen.SetIncludeSubfolders(false);
  gen.SetStampText("");
  EXPECT_FALSE(state.SetupChanged);
  gen.SetStampText("%H:%M");
  EXPECT_TRUE(state.SetupChanged);
  state.SetupChanged = false;
  gen.SetIncludeSubfolders(true);
  EXPECT_TRUE(state.SetupChanged);
}

#ifndef _WIN32
// The folders the user's desktop names in user-dirs.dirs, else ~/Pictures and ~/Videos.
TEST_F(SettingsTest, DefaultPathsAreTheUsersOwnFolders) {
  const std::string h = home.Str();
  const struct { const char* name; const char* dirs; bool in_config_home; std::string still, movie; } cases[] = {
      {"no user-dirs.dirs", nullptr, false, h + "/Pictures", h + "/Videos/timelapse.avi"},
      {"named folders", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_VIDEOS_DIR=\"/srv/films/\"\n", false,
       h + "/Bilder", "/srv/films/timelapse.avi"},
      {"in XDG_CONFIG_HOME", "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME\"\n", true, h,
       h + "/Videos/timelapse.avi"},
      {"lines that are not the form", "XDG_PICTURES_DIR=Bilder\nXDG_VIDEOS_DIR=\"Filme\"\n", false,
       h + "/Pictures", h + "/Videos/timelapse.avi"},
  };
  for (const auto& c : cases) {
    const std::string config = h + (c.in_config_home ? "/elsewhere" : "/.config");
    std::filesystem::remove_all(h + "/.config");
    std::filesystem::remove_all(h + "/elsewhere");
    std::filesystem::create_directories(config);
    if (c.dirs) std::ofstream(config + "/user-dirs.dirs") << c.dirs;
    test::EnvGuard config_home("XDG_CONFIG_HOME", c.in_config_home ? config.c_str() : nullptr);
    MovieGen fresh(state, sun, host);
    EXPECT_EQ(fresh.StillDirectory(), c.still) << c.name;
    EXPECT_EQ(fresh.OutputAVIPath(), c.movie) << c.name;
  }
}
#endif

// A profile finds keys without regard to case, so each may stand once in the table. A file
// without keys differs from a new window only where that is meant: the start at "Now,
// minus", and no compression chosen yet with blocks of 1024 bytes. Every such default is a
// value its setter takes as it stands.
TEST_F(SettingsTest, EachKeyOnceAndFileDefaultsDifferOnlyWhereMeant) {
  std::set<std::string> keys, differing;
  for (const SettingInfo& row : SettingTable()) {
    std::string key = std::string(row.section) + "/" + row.key;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(keys.insert(key).second) << key;
    EXPECT_EQ(&FindSetting(row.property), &row) << row.property;
    const std::string file_default = row.file_default();
    if (row.text(gen) != file_default) differing.insert(row.key);
    MovieGen loaded(state, sun, host);
    row.load(loaded, file_default);
    EXPECT_EQ(row.text(loaded), file_default) << row.key;
  }
  std::set<std::string> meant = {"StartTimeOption", "Format", "Parms", "BytesPerSecond", "Flags", "Quality", "Handler"};
#ifdef _WIN32
  meant.insert("StillDirectory");  // "c:\images\" in a new window, "c:\images" in a file
#endif
  EXPECT_EQ(differing, meant);
}

TEST_F(SettingsTest, TheComparisonUsesTheValueBeforeClamping) {
  gen.SetDuplicateCount(1);
  state.SetupChanged = false;
  gen.SetDuplicateCount(0);  // clamps back to the 1 already held, but was a different value
  EXPECT_EQ(gen.DuplicateCount(), 1);
  EXPECT_TRUE(state.SetupChanged);

  gen.SetMovieFPS(100);
  state.SetupChanged = false;
  gen.SetMovieFPS(100);  // 100 differs from the 60 held
  EXPECT_TRUE(state.SetupChanged);
  state.SetupChanged = false;
  gen.SetMovieFPS(60);
  EXPECT_FALSE(state.SetupChanged);

  gen.SetDeleteOldImagesHours(0.1);
  state.SetupChanged = false;
  gen.SetDeleteOldImagesHours(0.1000000001);  // the same single-precision value
  EXPECT_FALSE(state.SetupChanged);
  gen.SetDeleteOldImagesHours(std::nan(""));
  EXPECT_TRUE(state.SetupChanged);
  state.SetupChanged = false;
  gen.SetDeleteOldImagesHours(std::nan(""));  // no number again: no change
  EXPECT_FALSE(state.SetupChanged);
  EXPECT_TRUE(std::isnan(gen.DeleteOldImagesHours()));
}

TEST_F(SettingsTest, StringsCompareWithLetterCase) {
  struct Case {
    std::function<void(const std::string&)> set;
    std::string current;
    std::string other_case;
  };
  const std::vector<Case> cases = {
      {[&](const std::string& v) { gen.SetStillDirectory(v); }, still_default, home.Str() + "/pictures"},
      {[&](const std::string& v) { gen.SetImageFilter(v); }, "*.jpg", "*.JPG"},
      {[&](const std::string& v) { gen.SetOutputAVIPath(v); }, output_default, home.Str() + "/videos/timelapse.avi"},
  };
  for (const auto& c : cases) {
    state.SetupChanged = false;
    c.set(c.current);
    EXPECT_FALSE(state.SetupChanged) << c.current;
    c.set(c.other_case);
    EXPECT_TRUE(state.SetupChanged) << c.other_case;
  }
  EXPECT_EQ(gen.ImageFilter(), "*.JPG");
}

TEST_F(SettingsTest, DirectoryTakesOnlyPlusOrMinusOne) {
  struct Step {
    int32_t value;
    int32_t expected;
    bool marks;
  };
  const std::vector<Step> steps = {{0, 1, false}, {2, 1, false}, {1, 1, false}, {-1, -1, true},
                                   {-2, -1, false}, {-1, -1, false}, {1, 1, true}};
  for (const auto& step : steps) {
    state.SetupChanged = false;
    gen.SetMovieDirection(step.value);
    EXPECT_EQ(gen.MovieDirection(), step.expected) << step.value;
    EXPECT_EQ(state.SetupChanged, step.marks) << step.value;
  }
}

TEST_F(SettingsTest, RecordFieldsAndSizesStoreAndMarkWithoutComparing) {
  for (const auto& s : kNumericSettings) {
    if (!IsRecord(s.name)) continue;
    state.SetupChanged = false;
    Set(gen, s.name, s.creation_default);
    EXPECT_TRUE(state.SetupChanged) << s.name;
    Set(gen, s.name, 1234);
    EXPECT_EQ(Get(gen, s.name), 1234) << s.name;
  }
  state.SetupChanged = false;
  gen.SetCompressFormatPointer(0);
  EXPECT_TRUE(state.SetupChanged);
}

struct Block {
  const char* name;
  void (MovieGen::*set_size)(int32_t);
  int32_t (MovieGen::*size)() const;
  int32_t (MovieGen::*held)() const;
  void (MovieGen::*set_byte)(int32_t, uint8_t);
  uint8_t (MovieGen::*byte)(int32_t) const;
};
const Block kBlocks[] = {
    {"format", &MovieGen::SetFormatSize, &MovieGen::FormatSize, &MovieGen::FormatHeld,
     &MovieGen::SetFormatBytes, &MovieGen::FormatBytes},
    {"parms", &MovieGen::SetParmsSize, &MovieGen::ParmsSize, &MovieGen::ParmsHeld,
     &MovieGen::SetParmsBytes, &MovieGen::ParmsBytes},
};

TEST_F(SettingsTest, BlocksGrowKeepTheirBytesAndNeverShrink) {
  for (const Block& b : kBlocks) {
    (gen.*b.set_size)(10);
    for (int32_t i = 0; i < 10; ++i) (gen.*b.set_byte)(i, static_cast<uint8_t>(0xA0 + i));
    // Smaller sizes only store the number; growing from one must not cut the block.
    for (int32_t n : {5, 0, -3, 8}) {
      (gen.*b.set_size)(n);
      EXPECT_EQ((gen.*b.size)(), n) << b.name;
      EXPECT_EQ((gen.*b.held)(), 10) << b.name;
      EXPECT_EQ((gen.*b.byte)(9), 0xA9) << b.name;
    }
    (gen.*b.set_size)(40);
    EXPECT_EQ((gen.*b.held)(), 40) << b.name;
    EXPECT_EQ((gen.*b.byte)(3), 0xA3) << b.name;
    EXPECT_EQ((gen.*b.byte)(39), 0) << b.name;
    state.SetupChanged = false;
    (gen.*b.set_byte)(39, 0);
    EXPECT_TRUE(state.SetupChanged) << b.name;
  }
}

TEST_F(SettingsTest, AnIndexOutsideTheBlockIsAFault) {
  gen.SetFormatSize(4);
  const std::vector<std::function<void()>> faults = {
      [&] { gen.FormatBytes(4); },       [&] { gen.FormatBytes(-1); },
      [&] { gen.SetFormatBytes(4, 1); }, [&] { gen.ParmsBytes(1); },
      [&] { gen.SetParmsBytes(-1, 1); },
  };
  for (size_t i = 0; i < faults.size(); ++i) {
    try {
      faults[i]();
      ADD_FAILURE() << "no fault for case " << i;
    } catch (const Fault& fault) {
      EXPECT_EQ(fault.Code(), 9) << i;
    }
  }
}

TEST_F(SettingsTest, HandedOutRecordPointsAtTheBlocks) {
  gen.SetFormatSize(4096);  // likely to move the block
  gen.SetParmsSize(100);
  const AviCompressOptions* record = gen.CompressOptionsPointer();
  const auto low32 = [](const void* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
  };
  EXPECT_EQ(record->lpFormat, low32(gen.FormatPointer()));
  EXPECT_EQ(record->lpParms, low32(gen.ParmsPointer()));
  EXPECT_EQ(gen.CompressFormatPointer(), reinterpret_cast<uintptr_t>(gen.FormatPointer()));
  EXPECT_EQ(gen.CompressParmsPointer(), reinterpret_cast<uintptr_t>(gen.ParmsPointer()));
  EXPECT_EQ(record->fccHandler, kFourccDib);
}

TEST_F(SettingsTest, CancelRequestOnlyRises) {
  gen.SetCancelMovie(false);
  EXPECT_FALSE(gen.CancelRequested());
  gen.SetCancelMovie(true);
  gen.SetCancelMovie(false);
  EXPECT_TRUE(gen.CancelRequested());
  EXPECT_FALSE(state.SetupChanged);
}

TEST_F(SettingsTest, DestructionUnloadsAProgressWindowStillHeld) {
  FakeHost windows;
  {
    MovieGen other(state, sun, host);
    other.SetProgressWindow(windows.CreateProgressWindow(nullptr));
  }
  EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "unload"), 1);
}

// The manual page of the setup file has an item for every key, which names the key's range
// and the default of a file without it (the paths of the user's folders aside).
TEST_F(SettingsTest, ManualPageNamesEveryKeyWithRangeAndDefault) {
  const std::vector<test::ManEntry> entries = test::ManPageEntries(CHRONOREEL_SOURCE_DIR "/packaging/man/chronoreel.tls.5");
  for (const SettingInfo& row : SettingTable()) {
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const test::ManEntry& e) {
      return std::find(e.tag.begin(), e.tag.end(), row.key) != e.tag.end();
    });
    ASSERT_NE(entry, entries.end()) << row.key << " has no item in chronoreel.tls.5";
    std::vector<std::string> named;
    const std::string file_default = row.file_default();
    if (!file_default.empty() && file_default.find('/') == std::string::npos) named.push_back(file_default);
    using Rule = SettingRange::Rule;
    if (row.range.rule != Rule::Any) {
      named.push_back(CStrNI(row.range.lo));
      named.push_back(CStrNI(row.range.hi));
    }
    for (const std::string& word : named) {
      EXPECT_NE(std::find(entry->text.begin(), entry->text.end(), word), entry->text.end())
          << row.key << ": the item does not name " << word;
    }
  }
}

}  // namespace
}  // namespace chronoreel
