// Capture times read from the stills' EXIF data.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/exif_time.h"
#include "support/exif_maker.h"
#include "support/jpeg_maker.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

constexpr double kMillisecond = 1.0 / 86400000.0;

struct ExifTextCase {
  const char* text;
  const char* subseconds;
  bool valid;
  int year, month, day, hour, minute;
  double second;
};

class ExifTextTest : public ::testing::TestWithParam<ExifTextCase> {};

TEST_P(ExifTextTest, ParsesTheExifForm) {
  const ExifTextCase& c = GetParam();
  const auto got = ParseExifDateTime(c.text, c.subseconds);
  ASSERT_EQ(got.has_value(), c.valid) << c.text;
  if (!c.valid) return;
  const auto want = DateTimeFromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second);
  ASSERT_TRUE(want.has_value());
  EXPECT_NEAR(*got, *want, kMillisecond) << c.text << " " << c.subseconds;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExifTextTest,
    ::testing::Values(ExifTextCase{"2026:12:08 06:30:15", "", true, 2026, 12, 8, 6, 30, 15},
                      ExifTextCase{"2026:12:08 06:30:15", "25", true, 2026, 12, 8, 6, 30, 15.25},
                      ExifTextCase{"2026:12:08 06:30:15", "05", true, 2026, 12, 8, 6, 30, 15.05},
                      ExifTextCase{"2026:12:08 06:30:15", "x", true, 2026, 12, 8, 6, 30, 15},
                      ExifTextCase{"1999:01:01 00:00:00", "5  ", true, 1999, 1, 1, 0, 0, 0.5},
                      // No clock in the camera, blanks, a month that is no month, too short.
                      ExifTextCase{"0000:00:00 00:00:00", "", false, 0, 0, 0, 0, 0, 0},
                      ExifTextCase{"    :  :     :  :  ", "", false, 0, 0, 0, 0, 0, 0},
                      ExifTextCase{"2026:13:08 06:30:15", "", false, 0, 0, 0, 0, 0, 0},
                      ExifTextCase{"2026-12-08 06:30:15", "", false, 0, 0, 0, 0, 0, 0},
                      ExifTextCase{"2026:12:08", "", false, 0, 0, 0, 0, 0, 0}));

TEST(ExifFileTest, ReadsTheCaptureTimeOfACameraStill) {
  TempDir dir;
  for (bool after_jfif : {false, true}) {
    std::vector<uint8_t> jpeg = MakeFlatJpeg(32, 24, 0x336699);
    AddExifCaptureTime(jpeg, "2026:12:08 06:30:15", "5", after_jfif);
    const std::string path = dir.File("cam.jpg");
    WriteBytes(path, jpeg);

    const auto got = ReadCaptureTime(path);
    ASSERT_TRUE(got.has_value()) << after_jfif;
    EXPECT_NEAR(*got, *DateTimeFromCivil(2026, 12, 8, 6, 30, 15.5), kMillisecond);
  }
}

TEST(ExifFileTest, StillsWithoutACaptureTimeGiveNone) {
  TempDir dir;
  const std::string plain = WriteFlatJpeg(dir.File("plain.jpg"), 16, 16, 0xFFFFFF);
  WriteBytes(dir.File("empty.jpg"), {});
  WriteBytes(dir.File("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
  std::vector<uint8_t> truncated = MakeFlatJpeg(16, 16, 0);
  AddExifCaptureTime(truncated, "2026:12:08 06:30:15");
  truncated.resize(30);  // cut inside the EXIF block
  WriteBytes(dir.File("cut.jpg"), truncated);

  for (const char* name : {"plain.jpg", "empty.jpg", "text.jpg", "cut.jpg", "missing.jpg"}) {
    EXPECT_FALSE(ReadCaptureTime(dir.File(name)).has_value()) << name;
  }
}

}  // namespace
}  // namespace chronoreel
