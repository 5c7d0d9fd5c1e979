#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "time/date_time.h"
#include "time_zone_guard.h"

namespace chronoreel {
namespace {

DateTime At(int y, int m, int d, int h = 0, int mi = 0, double s = 0) {
  auto v = DateTimeFromCivil(y, m, d, h, mi, s);
  EXPECT_TRUE(v) << y << "-" << m << "-" << d;
  return v.value_or(0);
}

// Serial numbers as the platform's date type counts them; days before 1899-12-30 are
// negative with the fraction still the time of day.
TEST(Civil, SerialNumbersAndRoundTrip) {
  const struct { CivilTime civil; double value; } cases[] = {
      {{1899, 12, 30, 0, 0, 0}, 0},           {{1899, 12, 29, 18, 0, 0}, -0.25},
      {{1900, 1, 1, 0, 0, 0}, 2},             {{1900, 3, 1, 0, 0, 0}, 61},
      {{1930, 1, 1, 0, 0, 0}, 10959},         {{2000, 1, 1, 12, 0, 0}, 36526.5},
      {{2000, 2, 29, 6, 0, 0}, 36585.25},     {{2029, 12, 31, 0, 0, 0}, 47483},
      {{2000, 2, 29, 12, 34, 56.789}, -1},    {{2029, 12, 31, 23, 59, 59.999}, -1},
      {{2024, 2, 29, 23, 0, 0.001}, -1},      {{2100, 3, 1, 1, 2, 3}, -1},
  };
  for (const auto& [c, value] : cases) {
    const DateTime v = At(c.year, c.month, c.day, c.hour, c.minute, c.second);
    if (value != -1) {
      EXPECT_DOUBLE_EQ(v, value) << c.year << "-" << c.month << "-" << c.day;
    }
    const CivilTime b = CivilFromDateTime(v);
    EXPECT_TRUE(b.year == c.year && b.month == c.month && b.day == c.day && b.hour == c.hour &&
                b.minute == c.minute && std::fabs(b.second - c.second) < 1e-9)
        << c.year << "-" << c.month << "-" << c.day << " " << b.hour << ":" << b.minute << ":"
        << b.second;
  }
}

TEST(Civil, RoundingCarriesInsteadOfSecondSixty) {
  const CivilTime c = CivilFromDateTime(At(2026, 12, 31) + 1.0 - 1e-10);
  EXPECT_TRUE(c.year == 2027 && c.month == 1 && c.day == 1 && c.hour == 0 && c.second == 0.0);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> any(-1000.0, 80000.0);
  for (int i = 0; i < 20000; ++i) ASSERT_LT(CivilFromDateTime(any(rng)).second, 60.0);
}

TEST(Civil, RejectsInvalid) {
  const struct { int y, m, d, h, mi; double s; } cases[] = {
      {2001, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0}, {2000, 13, 1, 0, 0, 0}, {2000, 0, 1, 0, 0, 0},
      {2000, 4, 31, 0, 0, 0}, {2000, 1, 0, 0, 0, 0},  {2000, 1, 1, 24, 0, 0}, {2000, 1, 1, 0, 60, 0},
      {2000, 1, 1, 0, 0, 60}, {2000, 1, 1, -1, 0, 0}, {0, 1, 1, 0, 0, 0},     {2000, 1, 1, 0, 0, NAN},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(DateTimeFromCivil(c.y, c.m, c.d, c.h, c.mi, c.s)) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(Format, EveryPattern) {
  const DateTime t = At(2026, 3, 7, 5, 4, 3);
  const struct { DateTime value; const char* pattern; const char* text; } cases[] = {
      {t, "HHMM", "0504"},     {t, "HHMMSS", "050403"}, {t, "YYMMDD", "260307"},
      {t, "MMDDYY", "030726"}, {t, "DDMMYY", "070326"}, {t, "HH:MM:SS AM/PM", "05:04:03 AM"},
      {t, "MM/DD/YYYY HH:MM:SS AM/PM", "03/07/2026 05:04:03 AM"},
      {t, "YYYY-MM-DD HH:MM:SS", "2026-03-07 05:04:03"},
      {At(2026, 3, 7), "HH:MM:SS AM/PM", "12:00:00 AM"},
      {At(2026, 3, 7, 12), "HH:MM:SS AM/PM", "12:00:00 PM"},
      {At(2026, 3, 7, 13, 5), "MM/DD/YYYY HH:MM:SS AM/PM", "03/07/2026 01:05:00 PM"},
      {At(2026, 3, 7, 23, 59, 59.6), "YYYY-MM-DD HH:MM:SS", "2026-03-08 00:00:00"},
      {At(2026, 3, 7, 23, 59, 59.4), "HHMMSS", "235959"},
      {0.75, "MM/DD/YYYY HH:MM:SS AM/PM", "12/30/1899 06:00:00 PM"},
      {-0.25, "YYYY-MM-DD HH:MM:SS", "1899-12-29 18:00:00"},
      {t, "hhmm", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.value, c.pattern), c.text) << c.pattern;
}

TEST(ParseDateText, Accepts) {
  const struct { const char* text; DateTime value; } cases[] = {
      {"3/21/2026", At(2026, 3, 21)},          {"03/21/26", At(2026, 3, 21)},
      {"1/2/29", At(2029, 1, 2)},              {"1/2/30", At(1930, 1, 2)},
      {"12/31/99 23:59", At(1999, 12, 31, 23, 59)},
      {"2/29/2000 6:05:09 pm", At(2000, 2, 29, 18, 5, 9)},
      {"3/21/2026 12:00 AM", At(2026, 3, 21)}, {"3/21/2026 12:30PM", At(2026, 3, 21, 12, 30)},
      {"  3/21/2026\t7:15 ", At(2026, 3, 21, 7, 15)},
      {"6:30", 6.5 / 24},                      {"6:30:15 PM", (18 * 3600 + 30 * 60 + 15) / 86400.0},
      {"2026-03-21", At(2026, 3, 21)},         {"2026-03-21 17:45", At(2026, 3, 21, 17, 45)},
      {"2026-03-21T17:45:30", At(2026, 3, 21, 17, 45, 30)},
      {"2026-03-21t00:00:59", At(2026, 3, 21, 0, 0, 59)},
  };
  for (const auto& c : cases) {
    const auto v = ParseDateText(c.text);
    EXPECT_TRUE(v && std::fabs(*v - c.value) < 1e-9) << c.text;
  }
}

TEST(ParseDateText, Rejects) {
  for (const char* text :
       {"", "   ", "2026", "3/21", "3/21/", "3/21/226", "3/21/02026", "2/29/2001", "2/30/2000",
        "13/1/2026", "0/1/2026", "1/32/2026", "24:00", "12:60", "12:00:60", "0:30 AM", "13:00 PM",
        "12:00 XM", "12:00 A", "12:00 AMX", "6:5", "6:30:", "6:30:1", "123:00", "3/21/2026T12:00",
        "3/21/202612:00", "3-21-2026", "2026-3-21", "2026-03-21 7:00", "2026-03-21 07:00 PM",
        "2026-03-21X07:00", "2026-02-29", "2026-03-21  07:00", "26-03-21", "0000-01-01",
        "3 /21/2026", "-1:00", "+3/21/2026", "3/21/2026 12:00:00:00", "\xff\xfe", "3/21/2026\n"}) {
    EXPECT_FALSE(ParseDateText(text)) << "'" << text << "'";
  }
}

TEST(ParseDateText, RandomTextNeverBreaksAndAcceptedValuesRoundTrip) {
  std::mt19937 rng(20260321);
  const std::string alphabet = "0123456789//::-- tTaApPmM\t9x";
  const char* const seeds[] = {"12/31/2029 11:59:59 PM", "2000-02-29T23:59:59", "7:05 am",
                               "1/1/30 0:00:00", "2026-03-21 17:45"};
  int accepted = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    if (i % 2 == 0) {  // a valid text with a few edits
      text = seeds[rng() % std::size(seeds)];
      for (int k = rng() % 3; k >= 0; --k) {
        const size_t at = rng() % (text.size() + 1);
        if (rng() % 2) {
          text.insert(at, 1, alphabet[rng() % alphabet.size()]);
        } else if (at < text.size()) {
          text[at] = static_cast<char>(rng() % 256);
        }
      }
    } else {
      for (size_t k = rng() % 28; k > 0; --k) {
        text += rng() % 8 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
      }
    }
    const auto v = ParseDateText(text);
    if (!v) continue;
    ++accepted;
    for (const char* pattern : {"YYYY-MM-DD HH:MM:SS", "MM/DD/YYYY HH:MM:SS AM/PM"}) {
      const auto again = ParseDateText(FormatDateTime(*v, pattern));
      ASSERT_TRUE(again && std::fabs(*again - *v) < 1e-9) << text << " -> " << FormatDateTime(*v, pattern);
    }
  }
  EXPECT_GT(accepted, 1000);  // the round-trip checks must have run
}

std::time_t Utc(int y, int m, int d, int h, int mi) {
  std::tm t{};
  t.tm_year = y - 1900, t.tm_mon = m - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi;
  return timegm(&t);
}

TEST(FromUnix, LocalTimeOfKnownInstants) {
  const struct { const char* zone; std::time_t instant; DateTime local; } cases[] = {
      {"UTC", Utc(2026, 7, 1, 12, 0), At(2026, 7, 1, 12)},
      {"America/New_York", Utc(2026, 7, 1, 12, 0), At(2026, 7, 1, 8)},
      {"America/New_York", Utc(2026, 1, 15, 12, 0), At(2026, 1, 15, 7)},
      {"America/New_York", Utc(2026, 1, 15, 3, 0), At(2026, 1, 14, 22)},
      {"Asia/Kolkata", Utc(2026, 1, 15, 12, 0), At(2026, 1, 15, 17, 30)},
      {"Australia/Sydney", Utc(2026, 1, 15, 12, 0), At(2026, 1, 15, 23)},
      {"Australia/Sydney", Utc(2026, 7, 1, 12, 0), At(2026, 7, 1, 22)},
  };
  for (const auto& c : cases) {
    testing::TimeZoneGuard zone(c.zone);
    EXPECT_NEAR(DateTimeFromUnix(c.instant), c.local, 1e-9) << c.zone;
    EXPECT_NEAR(DateTimeFromUnix(c.instant, 500000000), c.local + 0.5 / 86400, 1e-9) << c.zone;
  }
}

TEST(FileModifiedTime, ReadsTheFileTimeInLocalTime) {
  testing::TimeZoneGuard zone("Asia/Kolkata");
  const auto dir = std::filesystem::temp_directory_path() / ("chronoreel_mtime_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "still.jpg";
  std::ofstream(file) << "x";
  const timespec times[2] = {{Utc(2026, 3, 21, 6, 0), 250000000}, {Utc(2026, 3, 21, 6, 0), 250000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  const auto v = FileModifiedTime(file);
  EXPECT_TRUE(v && std::fabs(*v - At(2026, 3, 21, 11, 30, 0.25)) < 1e-9);
  EXPECT_FALSE(FileModifiedTime(dir / "missing.jpg"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace chronoreel
