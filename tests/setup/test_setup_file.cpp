// Setup files: what LoadFile reads and writes back, what SaveFile leaves on disk, the hex
// lines of the codec blocks, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include "app/core/conversions.h"
#include "engine/settings.h"
#include "scratch_dir.h"
#include "setup_world.h"
#include "support/env_guard.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

std::string HexName(const char* prefix, int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%05d", prefix, i);
  return buf;
}

struct Expected {
  const char* section;
  const char* key;
  const char* text;
};

// The default paths follow HOME: a home that does not exist gives the fallback folders.
#ifdef _WIN32
constexpr const char* kDefaultStills = "c:\\images";
constexpr const char* kDefaultMovie = "c:\\mymovie.avi";
#else
constexpr const char* kDefaultStills = "/home/chronoreel-test/Pictures";
constexpr const char* kDefaultMovie = "/home/chronoreel-test/Videos/timelapse.avi";
#endif
struct TestHome {
  test::EnvGuard home{"HOME", "/home/chronoreel-test"};
  test::EnvGuard config{"XDG_CONFIG_HOME", nullptr};
};

// Every key a file holds after loading a file that has only StillDirectory, in file order.
const Expected kDefaultsAfterLoad[] = {
    {"General", "DeleteOldImages", "False"},   {"General", "DeleteOldImagesHours", "168"},
    {"General", "ImageFilter", "*.jpg"},       {"General", "ImageIntervalOption", "0"},
    {"General", "ImagesPerHour", "60"},        {"General", "DuplicateCount", "2"},
    {"General", "Direction", "1"},             {"General", "MovieFPS", "24"},
    {"General", "MovieSizeHeight", "240"},     {"General", "MovieSizeOption", "0"},
    {"General", "MovieSizeWidth", "320"},      {"General", "OutputAVIPath", kDefaultMovie},
    {"General", "PostGenerationShell", ""},    {"General", "TimeOption", "0"},
    {"General", "StartTimeAbsolute", "0"},     {"General", "StartTimeOption", "1"},
    {"General", "StartTimeRelative", "0"},     {"General", "StartTimeToday", "0"},
    {"General", "StartTimeSunriseRelative", "0"}, {"General", "StartTimeSunsetRelative", "0"},
    {"General", "StillDirectory", "d:\\cam"},  {"General", "StopTimeAbsolute", "0"},
    {"General", "StopTimeOption", "0"},        {"General", "StopTimeRelative", "0"},
    {"General", "StopTimeToday", "0"},         {"General", "StopTimeSunriseRelative", "0"},
    {"General", "StopTimeSunsetRelative", "0"}, {"General", "TimeStampOption", "0"},
    {"Compress", "Type", "0"},                 {"Compress", "Format", "1024"},
    {"Compress", "Parms", "1024"},             {"Compress", "BytesPerSecond", "0"},
    {"Compress", "Flags", "0"},                {"Compress", "InterleaveEvery", "0"},
    {"Compress", "KeyFrameEvery", "0"},        {"Compress", "Quality", "0"},
    {"Compress", "Handler", "0"},
};


TEST(LoadFile, CompletesAFileThatHoldsOnlyStillDirectory) {
  const TestHome home;
  TempDir dir;
  const std::string path = dir.File("cam.tls");
  WriteText(path, "[General]\r\nStillDirectory=d:\\cam\r\n");
  SetupWorld w;
  w.state.SetupChanged = true;
  w.Load(path);

  EXPECT_EQ(w.movie.StillDirectory(), "d:\\cam");
  EXPECT_FALSE(w.movie.DeleteOldImages());
  EXPECT_EQ(w.movie.StartTimeOption(), 1);
  EXPECT_EQ(w.movie.CompressHandler(), 0);
  EXPECT_EQ(w.movie.CompressQuality(), 0);
  EXPECT_EQ(w.movie.FormatSize(), 1024);
  EXPECT_EQ(w.movie.ParmsSize(), 1024);
  EXPECT_FALSE(w.state.SetupChanged);

  const std::string bytes = ReadText(path);
  size_t last_position = 0;
  for (const Expected& e : kDefaultsAfterLoad) {
    EXPECT_EQ(Stored(path, e.section, e.key), e.text) << e.key;
    if (std::string(e.key) == "StillDirectory") continue;  // the line that was there
    const size_t at = bytes.find(std::string("\r\n") + e.key + "=");
    ASSERT_NE(at, std::string::npos) << e.key;
    EXPECT_GT(at, last_position) << e.key << " out of order";
    last_position = at;
  }
  const auto original = std::count_if(SettingTable().begin(), SettingTable().end(),
                                      [](const SettingInfo& row) { return row.file == SettingFile::Original; });
  EXPECT_EQ(static_cast<size_t>(original), std::size(kDefaultsAfterLoad));
  // Keys beyond the original format: a load does not add them.
  for (const SettingInfo& row : SettingTable()) {
    if (row.file != SettingFile::Added) continue;
    EXPECT_EQ(bytes.find(std::string(row.key) + "="), std::string::npos) << row.key;
  }
  for (const char* prefix : {"FormatData", "ParmsData"}) {
    for (int i = 1; i <= 32; ++i) EXPECT_EQ(Stored(path, "Compress", HexName(prefix, i)), std::string(64, '0'));
    EXPECT_EQ(Stored(path, "Compress", HexName(prefix, 33)), "");
  }
  // Every added line took the file's CRLF.
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
    }
  }
}

// A file of the original format with every key, as its program wrote it (CRLF lines).
std::string OriginalFile() {
  std::string text = "[General]\r\n";
  std::string section = "General";
  for (const Expected& e : kDefaultsAfterLoad) {
    if (e.section != section) text += "[" + (section = e.section) + "]\r\n";
    text += std::string(e.key) + "=" + e.text + "\r\n";
  }
  for (const char* prefix : {"FormatData", "ParmsData"}) {
    for (int i = 1; i <= 32; ++i) text += HexName(prefix, i) + "=" + std::string(64, '0') + "\r\n";
  }
  return text;
}

// Neither a load nor a save with the newer settings at their defaults changes such a file,
// byte-order mark included; a newer setting that is used, or already there, is written.
TEST(SetupFile, OriginalFileStaysByteForByte) {
  for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(bom.empty() ? "plain" : "byte-order mark");
    TempDir dir;
    const std::string path = dir.File("orig.tls");
    const std::string original = bom + OriginalFile();
    WriteText(path, original);
    SetupWorld w;
    w.Load(path);
    EXPECT_EQ(w.movie.StillDirectory(), "d:\\cam");
    EXPECT_EQ(ReadText(path), original);
    ASSERT_TRUE(w.docs.SaveFile());
    EXPECT_EQ(ReadText(path), original);

    w.movie.SetStampSize(7);
    ASSERT_TRUE(w.docs.SaveFile());
    w.movie.SetStampSize(5);
    ASSERT_TRUE(w.docs.SaveFile());
    const std::string bytes = ReadText(path);
    EXPECT_EQ(bytes.rfind(bom + "[General]\r\n", 0), 0u);
    EXPECT_EQ(bytes, original.substr(0, original.find("[Compress]")) + "StampSize=5\r\n" +
                         original.substr(original.find("[Compress]")));
  }
}

// An unattended run names each value that was not used as written; the values themselves
// are read as they always were.
TEST(LoadFile, SaysWhichValuesWereNotUsedAsWritten) {
  const struct {
    const char* lines;
    const char* warning;  // "" for none
  } cases[] = {
      {"[General]\nMovieSizeWidth=abc", "MovieSizeWidth=abc is not a number: 1 is used instead"},
      {"[General]\nStartTimeOption=9", "StartTimeOption=9 is out of range: 5 is used instead"},
      {"[General]\nDirection=0", "Direction=0 is out of range: 1 is used instead"},
      {"[General]\nDuplicateCount=1e20", "DuplicateCount=1e20 is out of range: 1 is used instead"},
      {"[Compress]\nHandler=DIB", "Handler=DIB is not a number: 0 is used instead"},
      {"[General]\nDeleteOldImagesHours=48h",
       "DeleteOldImagesHours=48h is not a number: no still is deleted"},
      {"[General]\nDeleteOldImagesHours=1e400",
       "DeleteOldImagesHours=1e400 is not a number: no still is deleted"},
      {"[General]\nDeleteOldImagesHours=1e300",
       "DeleteOldImagesHours=1e300 is out of range: 3.40282346638529E+38 is used instead"},
      // Rounding as the format reads a value is no clamp, nor is text that is no number.
      {"[General]\nDeleteOldImagesHours=0.1\nDuplicateCount=2.5\nStopTimeAbsolute=40000.1234567891234", ""},
      {"[General]\nImageFilter=abc\nDeleteOldImages=maybe\nStampPosition=2", ""},
      // A place of the file's own: an empty key is the profile's, as a missing one is.
      {"[General]\nLatitude=north", "Latitude=north is not a number: the profile's location is used"},
      {"[General]\nLatitude=95", "Latitude=95 is out of range: 90 is used instead"},
      {"[General]\nLatitude=\nLongitude=-0.1276\nSkipDarkBelow=30", ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.File("w.tls");
    WriteText(path, std::string(c.lines) + "\n");
    SetupWorld w;
    w.Load(path);
    const std::vector<std::string> expected =
        *c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{};
    EXPECT_EQ(w.docs.LoadWarnings(), expected) << c.lines;
  }
}

TEST(LoadFile, EmptyValuesTakeTheirDefaults) {
  TempDir dir;
  const std::string path = dir.File("e.tls");
  WriteText(path, "[General]\nImageFilter=\nPostGenerationShell=\nDeleteOldImages=\n");
  SetupWorld w;
  w.Load(path);
  EXPECT_EQ(w.movie.ImageFilter(), "*.jpg");
  EXPECT_EQ(w.movie.PostGenerationShell(), "");
  EXPECT_FALSE(w.movie.DeleteOldImages());
  const std::string bytes = ReadText(path);
  EXPECT_NE(bytes.find("\nImageFilter=*.jpg\n"), std::string::npos);
  EXPECT_NE(bytes.find("\nPostGenerationShell=\n"), std::string::npos);
  EXPECT_NE(bytes.find("\nDeleteOldImages=False\n"), std::string::npos);
}

TEST(LoadFile, ConvertsAndRoundsAsTheFileFormatSays) {
  struct Case {
    const char* key;
    const char* text;
    std::function<double(const MovieGen&)> get;
    std::function<void(MovieGen&)> expect;  // applied to a reference object
  };
  const auto dup = [](const MovieGen& m) { return double(m.DuplicateCount()); };
  const auto fps = [](const MovieGen& m) { return double(m.MovieFPS()); };
  const auto height = [](const MovieGen& m) { return double(m.MovieSizeHeight()); };
  const auto dir = [](const MovieGen& m) { return double(m.MovieDirection()); };
  const auto del = [](const MovieGen& m) { return double(m.DeleteOldImages()); };
  const Case cases[] = {
      {"DuplicateCount", "2.5", dup, [](MovieGen& m) { m.SetDuplicateCount(2); }},
      {"DuplicateCount", "3.5", dup, [](MovieGen& m) { m.SetDuplicateCount(4); }},
      {"DuplicateCount", "1e20", dup, [](MovieGen& m) { m.SetDuplicateCount(0); }},
      {"MovieFPS", "29.5", fps, [](MovieGen& m) { m.SetMovieFPS(30); }},
      {"MovieFPS", "30.5", fps, [](MovieGen& m) { m.SetMovieFPS(30); }},
      {"MovieFPS", "x", fps, [](MovieGen& m) { m.SetMovieFPS(0); }},
      {"MovieSizeHeight", "480.5", height, [](MovieGen& m) { m.SetMovieSizeHeight(480); }},
      {"MovieSizeHeight", "-5000000000", height, [](MovieGen& m) { m.SetMovieSizeHeight(0); }},
      {"Direction", "0", dir, [](MovieGen& m) { m.SetMovieDirection(-1); }},
      {"Direction", "5", dir, [](MovieGen& m) { m.SetMovieDirection(-1); }},
      {"Direction", "1", dir, [](MovieGen& m) { m.SetMovieDirection(1); }},
      {"DeleteOldImages", "True", del, [](MovieGen& m) { m.SetDeleteOldImages(true); }},
      {"DeleteOldImages", "0", del, [](MovieGen& m) { m.SetDeleteOldImages(false); }},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    const std::string path = tmp.File("c.tls");
    WriteText(path, std::string("[General]\n") + c.key + "=" + c.text + "\n");
    SetupWorld w;
    SetupWorld ref;
    w.movie.SetMovieDirection(-1);  // a direction that the file cannot express leaves this
    ref.movie.SetMovieDirection(-1);
    w.Load(path);
    c.expect(ref.movie);
    EXPECT_EQ(c.get(w.movie), c.get(ref.movie)) << c.key << "=" << c.text;
  }
}

TEST(HexLines, LineCountFollowsTheBlockSize) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 1},     {1, 1},     {32, 1},     {33, 2},
                                               {1024, 32}, {-30, 1},   {-31, 0},    {INT_MIN, 0},
                                               {40, 2},    {64, 2},    {65, 3},     {INT_MAX, 67108864}};
  for (auto [n, lines] : cases) EXPECT_EQ(HexLineCount(n), lines) << n;
}

TEST(HexLines, DamagedBytesReadAsZero) {
  struct Case {
    std::string line;
    std::vector<int> bytes;  // bytes 0..3
  };
  const Case cases[] = {
      {"0a0B" + std::string(60, '0'), {0x0A, 0x0B, 0, 0}},
      {"ffFF10", {0xFF, 0xFF, 0x10, 0}},
      {"0G11", {0, 0x11, 0, 0}},
      {"1", {0, 0, 0, 0}},
      {"-1x1 112", {0, 0, 0, 0x12}},
      {"", {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(DecodeHexByte(c.line, k), c.bytes[static_cast<size_t>(k)]) << c.line;
  }
  EXPECT_EQ(DecodeHexByte("0102", -1), 0);
}

TEST(HexLines, DamagedLinesInAFileLoadAsZero) {
  TempDir dir;
  const std::string path = dir.File("h.tls");
  WriteText(path, "[Compress]\nFormat=3\nFormatData00001=7fZZ\n");
  SetupWorld w;
  w.Load(path);
  ASSERT_EQ(w.movie.FormatSize(), 3);
  EXPECT_EQ(w.movie.FormatBytes(0), 0x7F);
  EXPECT_EQ(w.movie.FormatBytes(1), 0);
  EXPECT_EQ(w.movie.FormatBytes(2), 0);
}

TEST(SaveFile, WritesTheBlocksAsHexLines) {
  struct Case {
    int32_t format;
    std::vector<uint8_t> bytes;
    std::vector<std::string> lines;  // FormatData00001...; the next one must be absent
  };
  std::vector<uint8_t> forty(40);
  for (int i = 0; i < 40; ++i) forty[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  std::string ab_line;
  for (int i = 0; i < 32; ++i) ab_line += "AB";
  const Case cases[] = {
      {0, {}, {std::string(64, '0')}},
      {40, forty,
       {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
        "2021222324252627" + std::string(48, '0')}},
      {2, {0x0A, 0xFF}, {"0AFF" + std::string(60, '0')}},
      {33, std::vector<uint8_t>(33, 0xAB), {ab_line, "AB" + std::string(62, '0')}},
      {32, std::vector<uint8_t>(32, 0xAB), {ab_line}},
      {1024, {}, {}},  // filled below: 32 full lines
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (int i = 0; i < 1024; ++i) all.back().bytes.push_back(static_cast<uint8_t>(i * 37 + i / 256));
  for (int line = 0; line < 32; ++line) {
    all.back().lines.push_back(EncodeHexLine(all.back().bytes.data() + 32 * line, 32));
  }
  for (const Case& c : all) {
    TempDir dir;
    const std::string path = dir.File("s.tls");
    SetupWorld w;
    w.state.CurrentFile = path;
    w.movie.SetCompressFormat(c.format);
    w.movie.SetFormatSize(c.format);
    for (size_t i = 0; i < c.bytes.size(); ++i) w.movie.SetFormatBytes(static_cast<int32_t>(i), c.bytes[i]);
    ASSERT_TRUE(w.docs.SaveFile());
    const std::vector<std::string>& expected = c.lines;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(Stored(path, "Compress", HexName("FormatData", static_cast<int>(i) + 1)), expected[i]) << c.format;
    }
    EXPECT_EQ(Stored(path, "Compress", HexName("FormatData", static_cast<int>(expected.size()) + 1)), "");

    // And they read back, in either letter case.
    std::string text = ReadText(path);
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    WriteText(path, text);
    SetupWorld back;
    back.Load(path);
    ASSERT_EQ(back.movie.FormatSize(), std::max(c.format, 0));
    for (size_t i = 0; i < c.bytes.size(); ++i) {
      EXPECT_EQ(back.movie.FormatBytes(static_cast<int32_t>(i)), c.bytes[i]) << i;
    }
  }
}

TEST(SaveFile, LeavesLinesItDoesNotWrite) {
  TempDir dir;
  const std::string path = dir.File("k.tls");
  WriteText(path, "; mine\n[Compress]\nFormatData00033=" + std::string(64, '1') + "\n[Extra]\nx=1\n");
  SetupWorld w;
  w.Load(path);
  w.movie.SetStillDirectory("/srv/cam");
  ASSERT_TRUE(w.docs.SaveFile());
  const std::string bytes = ReadText(path);
  EXPECT_EQ(bytes.rfind("; mine\n[Compress]\n", 0), 0u);
  EXPECT_EQ(Stored(path, "Compress", "FormatData00033"), std::string(64, '1'));
  EXPECT_EQ(Stored(path, "Extra", "x"), "1");
  EXPECT_EQ(Stored(path, "General", "StillDirectory"), "/srv/cam");
}

// Every key of the table, at a value other than its default, reads back as it was saved.
TEST(SaveFile, RoundTripsEverySetting) {
  struct Edit {
    const char* setting;
    double number;     // for numbers and truth values
    std::string text;  // for text
  };
  const std::vector<Edit> edits = {
      {"StillDirectory", 0, "/srv/cam one/"},
      {"ImageFilter", 0, "IMG_*.JPG"},
      {"DeleteOldImages", 1, ""},
      {"DeleteOldImagesHours", 0.1, ""},
      {"MovieDirection", -1, ""},
      {"TimeOption", 1, ""},
      {"StartTimeOption", 4, ""},
      {"StartTimeRelative", -2.5, ""},
      {"StartTimeToday", 0.25, ""},
      {"StartTimeAbsolute", 37621.75, ""},
      {"StartTimeSunriseRelative", 1.5, ""},
      {"StartTimeSunsetRelative", -0.75, ""},
      {"StopTimeOption", 3, ""},
      {"StopTimeRelative", 12.125, ""},
      {"StopTimeToday", 0.1, ""},
      {"StopTimeAbsolute", 40000.123456789, ""},
      {"StopTimeSunriseRelative", -3, ""},
      {"StopTimeSunsetRelative", 2, ""},
      {"ImageIntervalOption", 1, ""},
      {"ImagesPerHour", 7.5, ""},
      {"DuplicateCount", 7, ""},
      {"TimeStampOption", 1, ""},
      {"IncludeSubfolders", 1, ""},
      {"StampText", 0, "<outfilebase> %Y-%m-%d %H:%M"},
      {"StampPosition", 1, ""},
      {"StampSize", 7.5, ""},
      {"DeflickerFrames", 9, ""},
      {"Latitude", -33.8688, ""},
      {"Longitude", 151.2093, ""},
      {"SkipDarkBelow", 24, ""},
      {"SkipBrightAbove", 250, ""},
      {"DayHoursOption", 2, ""},
      {"DayHoursStart", 0.3125, ""},
      {"DayHoursStop", 0.71875, ""},
      {"DayHoursSunriseRelative", -0.75, ""},
      {"DayHoursSunsetRelative", 1.25, ""},
      {"DailyTimes", 0, "09:00,12:00"},
      {"DailyToleranceMinutes", 12.5, ""},
      {"MovieSeconds", 30, ""},
      {"StartTimeTodayDays", -1, ""},
      {"StopTimeTodayDays", -2, ""},
      {"OutputAVIPath", 0, "/data/" + std::string(400, 'p') + "/movie.avi"},
      {"MovieSizeOption", 1, ""},
      {"MovieSizeWidth", 640, ""},
      {"MovieSizeHeight", 480, ""},
      {"MovieFPS", 15, ""},
      {"PostGenerationShell", 0, "\"/opt/my tools/up\" \"<outpath>\""},
      {"CompressType", 1935960438, ""},
      {"CompressFormat", 100, ""},
      {"CompressParms", 70, ""},
      {"CompressHandler", -1, ""},
      {"CompressQuality", 7500, ""},
      {"CompressFlags", 2, ""},
      {"CompressBytesPerSecond", 123456, ""},
      {"CompressKeyFrameEvery", 10, ""},
      {"CompressInterleaveEvery", 3, ""},
  };
  // Numbers compared to the last bit, text as it stands.
  const auto value = [](const SettingInfo& row, const MovieGen& m) {
    if (row.type == SettingType::Text) return row.text(m);
    char digits[40];
    std::snprintf(digits, sizeof digits, "%.17g", row.number(m));
    return std::string(digits);
  };
  const auto blocks = [](const MovieGen& m) {
    std::string s;
    for (int i = 0; i < m.FormatSize(); ++i) s += std::to_string(m.FormatBytes(i)) + ",";
    for (int i = 0; i < m.ParmsSize(); ++i) s += std::to_string(m.ParmsBytes(i)) + ",";
    return s;
  };
  TempDir dir;
  const std::string path = dir.File("all.tls");
  SetupWorld a;
  a.state.CurrentFile = path;
  ASSERT_EQ(edits.size(), SettingTable().size()) << "a setting without a value here";
  for (const Edit& e : edits) {
    const SettingInfo& row = FindSetting(e.setting);
    if (row.type == SettingType::Text) {
      row.load(a.movie, e.text);
    } else {
      row.set_number(a.movie, e.number);
    }
  }
  a.movie.SetFormatSize(100);
  a.movie.SetParmsSize(70);
  for (int i = 0; i < 100; ++i) a.movie.SetFormatBytes(i, static_cast<uint8_t>(i * 7 + 1));
  for (int i = 0; i < 70; ++i) a.movie.SetParmsBytes(i, static_cast<uint8_t>(255 - i));
  ASSERT_TRUE(a.state.SetupChanged);
  ASSERT_TRUE(a.docs.SaveFile());
  EXPECT_FALSE(a.state.SetupChanged);

  SetupWorld b;
  b.Load(path);
  SetupWorld fresh;
  for (const SettingInfo& row : SettingTable()) {
    EXPECT_EQ(value(row, b.movie), value(row, a.movie)) << row.property;
    EXPECT_NE(value(row, b.movie), value(row, fresh.movie)) << row.property << " did not change, so the case proves nothing";
  }
  EXPECT_EQ(blocks(b.movie), blocks(a.movie));
  EXPECT_NE(blocks(b.movie), blocks(fresh.movie));
}

TEST(SaveFile, UnwritableFileIsReportedAndKeepsTheChanges) {
  TempDir dir;
  const std::string path = dir.File("missing/x.tls");
  SetupWorld w;
  w.state.CurrentFile = path;
  w.movie.SetStillDirectory("/edited");
  ASSERT_TRUE(w.state.SetupChanged);
  EXPECT_FALSE(w.docs.SaveFile());
  EXPECT_TRUE(w.state.SetupChanged);
  ASSERT_EQ(w.host.messages.size(), 1u);
  const MessageBoxRequest& box = w.host.messages[0];
  EXPECT_EQ(box.title, "Chronoreel");
  EXPECT_EQ(box.icon, MessageIcon::Exclamation);
  EXPECT_EQ(box.text.rfind("The setup file could not be saved:\ncannot write " + path + ": ", 0), 0u) << box.text;
  EXPECT_EQ(w.state.LastFiles[0], "");
  EXPECT_TRUE(w.host.titles.empty());
}

TEST(LoadFile, UnwritableFileUsesDefaultsSilently) {
  const TestHome home;
  TempDir dir;
  SetupWorld w;
  w.Load(dir.File("missing/x.tls"));
  EXPECT_EQ(w.movie.StillDirectory(), kDefaultStills);
  EXPECT_EQ(w.movie.OutputAVIPath(), kDefaultMovie);
  EXPECT_EQ(w.movie.StartTimeOption(), 1);
  EXPECT_TRUE(w.host.messages.empty());
  EXPECT_FALSE(fs::exists(dir.File("missing")));
}

TEST(SaveFile, UnnamedDocumentAsksForAName) {
  struct Case {
    std::optional<std::string> choice;  // "*" stands for a path in the temp folder
    bool result;
    const char* message_title;
  };
  const Case cases[] = {
      {std::nullopt, false, nullptr},
      {std::string(), false, "No file selected"},
      {std::string("*"), true, nullptr},
  };
  for (const Case& c : cases) {
    TempDir dir;
    SetupWorld w;
    std::optional<std::string> choice = c.choice;
    if (choice && *choice == "*") choice = dir.File("chosen.tls");
    w.host.file_choices.push_back(choice);
    EXPECT_EQ(w.docs.SaveFile(), c.result);
    EXPECT_EQ(w.host.log.front(), "choose:open|Save Setup File");
    if (c.message_title) {
      ASSERT_EQ(w.host.messages.size(), 1u);
      EXPECT_EQ(w.host.messages[0].title, c.message_title);
      EXPECT_EQ(w.host.messages[0].text, "No file was selected.  Aborting process.");
    } else {
      EXPECT_TRUE(w.host.messages.empty());
    }
    EXPECT_EQ(fs::exists(dir.File("chosen.tls")), c.result);
    EXPECT_EQ(w.state.CurrentFile, c.result ? dir.File("chosen.tls") : "");
  }
}

TEST(LoadFile, HugeBlockCountIsNotAllocated) {
  auto dir = ScratchDir();
  const std::string path = dir->File("huge.tls");
  WriteText(path, "[Compress]\nFormat=2000000000\nParms=16\n");
  SetupWorld w;
  w.Load(path);
  EXPECT_EQ(w.movie.CompressFormat(), 2000000000);
  EXPECT_LE(w.movie.FormatHeld(), kMaxSetupBlockBytes);
  const int last = kMaxSetupBlockBytes / 32;
  EXPECT_EQ(Stored(path, "Compress", HexName("FormatData", last)), std::string(64, '0'));
  EXPECT_EQ(Stored(path, "Compress", HexName("FormatData", last + 1)), "");
  EXPECT_EQ(Stored(path, "Compress", HexName("ParmsData", 2)), "");
}

// Damaged files load with defined values and a bounded block; what the file holds past the
// bound is left alone.
TEST(LoadFile, DamagedFilesLoadWithDefinedValues) {
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 1 << 16; ++i) junk += static_cast<char>(rng() % 256);
  const std::string long_value(100000, 'v');
  struct Case {
    const char* name;
    std::string file;
    std::function<void(const MovieGen&, const std::string& path)> check;
  };
  const Case cases[] = {
      {"binary junk", junk,
       [&](const MovieGen& m, const std::string& path) {
         EXPECT_GE(m.MovieFPS(), 1);
         EXPECT_LE(m.FormatSize(), kMaxSetupBlockBytes);
         EXPECT_EQ(ReadText(path).substr(0, junk.size()), junk);  // the keys go after it
       }},
      {"100,000-character value read whole", "[General]\nStillDirectory=" + long_value + "\n",
       [&](const MovieGen& m, const std::string&) { EXPECT_EQ(m.StillDirectory(), long_value); }},
      {"100,000-character line without =", "[General]\n" + std::string(100000, 'x') + "\nMovieFPS=12\n",
       [](const MovieGen& m, const std::string&) { EXPECT_EQ(m.MovieFPS(), 12); }},
      {"negative Format", "[Compress]\nFormat=-5\nParms=-2000000000\n",
       [](const MovieGen& m, const std::string& path) {
         EXPECT_EQ(m.CompressFormat(), -5);
         EXPECT_EQ(m.FormatSize(), 0);
         EXPECT_EQ(m.ParmsSize(), 0);
         // trunc((-5 - 1) / 32) + 1 = 1 line; no line at all for -2000000000.
         EXPECT_EQ(Stored(path, "Compress", "FormatData00001"), std::string(64, '0'));
         EXPECT_EQ(Stored(path, "Compress", "ParmsData00001"), "");
       }},
      {"Format past the 32-bit range", "[Compress]\nFormat=99999999999\n",
       [](const MovieGen& m, const std::string&) {
         EXPECT_EQ(m.CompressFormat(), 0);  // does not convert
         EXPECT_EQ(m.FormatSize(), 0);
       }},
      {"garbage clamped", "[General]\nMovieFPS=fast\nStartTimeOption=9\nDuplicateCount=-4\nMovieSizeWidth=1e30\n",
       [](const MovieGen& m, const std::string&) {
         EXPECT_EQ(m.MovieFPS(), 1);
         EXPECT_EQ(m.StartTimeOption(), 5);
         EXPECT_EQ(m.DuplicateCount(), 1);
         EXPECT_EQ(m.MovieSizeWidth(), 1);  // 1e30 does not convert: 0, clamped
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("d.tls");
    WriteText(path, c.file);
    SetupWorld w;
    w.Load(path);
    c.check(w.movie, path);
    // The completed file settles: a second load changes neither the settings nor the bytes.
    const std::string bytes = ReadText(path);
    SetupWorld again;
    again.Load(path);
    EXPECT_EQ(ReadText(path), bytes);
  }
}

#ifdef __linux__
// Counts what happens to one file name in a folder, through inotify.
class FileEvents {
 public:
  FileEvents(const std::string& folder, std::string name) : name_(std::move(name)) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) ::inotify_add_watch(fd_, folder.c_str(), IN_OPEN | IN_MOVED_TO | IN_MODIFY);
  }
  ~FileEvents() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileEvents(const FileEvents&) = delete;
  FileEvents& operator=(const FileEvents&) = delete;
  bool Ok() const { return fd_ >= 0; }

  // Drains the queue: opens of the file, renames onto it, writes into it in place.
  void Drain(int& opens, int& renames, int& modifies) {
    opens = renames = modifies = 0;
    alignas(inotify_event) char buf[1 << 16];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) return;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
        if (e->len > 0 && name_ == e->name) {
          if (e->mask & IN_OPEN) ++opens;
          if (e->mask & IN_MOVED_TO) ++renames;
          if (e->mask & IN_MODIFY) ++modifies;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

 private:
  std::string name_;
  int fd_ = -1;
};

// A load reads about 100 keys and writes back the missing ones: that is one read of the
// file and one replacement of it, not one per key.
TEST(LoadFile, ReadsTheFileOnceAndReplacesItOnce) {
  TempDir dir;
  const std::string path = dir.File("cam.tls");
  WriteText(path, "[General]\nStillDirectory=/cam\n");
  FileEvents events(dir.Str(), "cam.tls");
  ASSERT_TRUE(events.Ok());
  int opens = 0, renames = 0, modifies = 0;
  {
    SetupWorld w;
    w.Load(path);
    events.Drain(opens, renames, modifies);
  }
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(renames, 1);
  EXPECT_EQ(modifies, 0);  // never written in place
  EXPECT_EQ(Stored(path, "Compress", "ParmsData00032"), std::string(64, '0'));
  events.Drain(opens, renames, modifies);

  // The file is complete now: a load reads it once and leaves it alone.
  {
    SetupWorld w;
    w.Load(path);
    events.Drain(opens, renames, modifies);
  }
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(renames, 0);
  EXPECT_EQ(modifies, 0);
}
#endif

// Everything a load sets, as text, to compare two loads.
std::string Snapshot(const MovieGen& m) {
  std::string s;
  for (const SettingInfo& row : SettingTable()) s += row.text(m) + "|";
  for (int i = 0; i < std::min(m.FormatSize(), m.FormatHeld()); ++i) s += std::to_string(m.FormatBytes(i)) + ",";
  for (int i = 0; i < std::min(m.ParmsSize(), m.ParmsHeld()); ++i) s += std::to_string(m.ParmsBytes(i)) + ",";
  return s;
}

// Random and damaged files must load without a crash, and a second load of the completed
// file must change neither the settings nor the file.
TEST(LoadFileFuzz, RandomFilesLoadAndSettle) {
  std::mt19937 rng(20240601);
  auto dir = ScratchDir();
  const std::string path = dir->File("fuzz.tls");
  const std::vector<std::string> keys = {
      "DeleteOldImages", "DeleteOldImagesHours", "ImageFilter", "ImageIntervalOption", "ImagesPerHour",
      "DuplicateCount", "Direction", "MovieFPS", "MovieSizeHeight", "MovieSizeWidth", "OutputAVIPath",
      "PostGenerationShell", "StartTimeOption", "StartTimeToday", "StillDirectory", "StopTimeAbsolute",
      "Type", "Format", "Parms", "Quality", "Handler", "FormatData00001", "FormatData00002", "ParmsData00001",
      "formatdata00003", "x", ""};
  const std::vector<std::string> values = {
      "", "0", "1", "-1", "2.5", "1e308", "-1e400", "nan", "inf", "&HFF", "(12)", "5-", "True", "#FALSE#",
      "\"\"", "\"q\"", "'", "2147483648", "-2147483649", "40", "33", "-31", "-30", "0,5", ";x", "a=b",
      std::string(64, 'F'), std::string(64, 'g'), "0123456789abcdef", std::string(300, 'z'), "\x01\x02",
      std::string("\0a", 2)};
  const std::vector<std::string> sections = {"[General]", "[Compress]", "[ general ]", "[COMPRESS] x", "[General",
                                             "[]", "[Other]", "General]"};
  const std::vector<std::string> ends = {"\n", "\r\n", "\r", "", "\n\n"};
  SetupWorld w;
  for (int round = 0; round < 20000; ++round) {
    std::string file;
    const int lines = static_cast<int>(rng() % 24);
    for (int i = 0; i < lines; ++i) {
      const unsigned kind = rng() % 10;
      if (kind == 0) {
        file += sections[rng() % sections.size()];
      } else if (kind == 1) {
        const int n = static_cast<int>(rng() % 40);
        for (int b = 0; b < n; ++b) file += static_cast<char>(rng() % 256);
      } else {
        std::string v = values[rng() % values.size()];
        if (rng() % 4000 == 0) v = "2000000000";  // rare: such a load writes 32768 lines
        file += std::string(rng() % 4 == 0 ? "  " : "") + keys[rng() % keys.size()] + (rng() % 8 ? "=" : "") + v;
      }
      file += ends[rng() % ends.size()];
    }
    WriteText(path, file);
    w.Load(path);
    INI reader;
    reader.SetFile(path);
    (void)reader.GetKey("General", keys[rng() % keys.size()], false, "");
    if (round % 10 == 0) {
      const std::string first = Snapshot(w.movie);
      const std::string bytes = ReadText(path);
      w.Load(path);
      ASSERT_EQ(Snapshot(w.movie), first) << "round " << round;
      ASSERT_EQ(ReadText(path), bytes) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace chronoreel
