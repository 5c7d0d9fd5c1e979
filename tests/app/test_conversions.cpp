// Text <-> number rules of the stored files, and the locale-dependent display format.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
// GCC 12 warns inside <regex> when sanitizers are on; a false positive in the library.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <string>

#include "app/core/conversions.h"

namespace chronoreel {
namespace {

struct NumberCase {
  const char* text;
  std::optional<double> expected;  // nullopt: does not convert
};

const NumberCase kNumberCases[] = {
    {"12.5", 12.5},
    {" 12.5\t", 12.5},
    {"42", 42},
    {".5", 0.5},
    {"5.", 5},
    {"+3", 3},
    {"-3", -3},
    {"5-", -5},
    {"5+", 5},
    {"(12)", -12},
    {"(1.5e1)", -15},
    {"1e3", 1000},
    {"1E-2", 0.01},
    {"2.5e+2", 250},
    {"1,5", 1.5},
    {",5", 0.5},
    {"-1,25e2", -125},
    {"0.1", 0.1},
    {"9007199254740993", 9007199254740992.0},  // correctly rounded: ties to even
    {"1.7976931348623157e308", 1.7976931348623157e308},
    {"&H1F", 31},
    {"&hff", 255},
    {"&O17", 15},
    {"&HFFFFFFFF", -1},
    {"&H7FFFFFFF", 2147483647},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"abc", std::nullopt},
    {".", std::nullopt},
    {",", std::nullopt},
    {"-", std::nullopt},
    {"()", std::nullopt},
    {"(-12)", std::nullopt},
    {"(12", std::nullopt},
    {"-5-", std::nullopt},
    {"--5", std::nullopt},
    {"+-5", std::nullopt},
    {"1e", std::nullopt},
    {"e5", std::nullopt},
    {"1e+", std::nullopt},
    {"1e5.5", std::nullopt},
    {"1.2.3", std::nullopt},
    {"1,234,5", std::nullopt},
    {"1.5,0", std::nullopt},
    {"1 000", std::nullopt},
    {"12abc", std::nullopt},
    {"0x10", std::nullopt},
    {"inf", std::nullopt},
    {"-infinity", std::nullopt},
    {"nan", std::nullopt},
    {"1e400", std::nullopt},
    {"-1e400", std::nullopt},
    {"&H", std::nullopt},
    {"&O8", std::nullopt},
    {"&HG", std::nullopt},
    {"&H100000000", std::nullopt},
    {"-&H10", std::nullopt},
    {"&X10", std::nullopt},
    {"5\n", std::nullopt},
};

TEST(ConversionsTest, TextToNumber) {
  for (const NumberCase& c : kNumberCases) {
    SCOPED_TRACE(std::string("text: \"") + c.text + "\"");
    const auto parsed = TryCDblNI(c.text);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (c.expected) {
      EXPECT_EQ(*parsed, *c.expected);
      EXPECT_EQ(CDblNI(c.text), *c.expected);
      EXPECT_EQ(Str2DblNI(c.text), *c.expected);
      EXPECT_EQ(Str2Dbl(c.text), *c.expected);
    } else {
      EXPECT_EQ(CDblNI(c.text), 0.0);
      EXPECT_EQ(Str2Dbl(c.text), 0.0);
    }
  }
}

struct LongCase {
  const char* text;
  std::optional<int32_t> expected;
};

const LongCase kLongCases[] = {
    {"42", 42},
    {" 42 ", 42},
    {"2.5", 2},
    {"3.5", 4},
    {"-2.5", -2},
    {"-3.5", -4},
    {"0.5", 0},
    {"1.5", 2},
    {"2.50001", 3},
    {"2147483647", 2147483647},
    {"2147483647.4", 2147483647},
    {"2147483647.5", std::nullopt},
    {"2147483648", std::nullopt},
    {"-2147483648", -2147483647 - 1},
    {"-2147483648.5", -2147483647 - 1},
    {"-2147483648.6", std::nullopt},
    {"&HFFFFFFFF", -1},
    {"&H10", 16},
    {"7-", -7},
    {"1e9", 1000000000},
    {"1e10", std::nullopt},
    {"abc", std::nullopt},
    {"", std::nullopt},
};

TEST(ConversionsTest, TextToLongRoundsHalvesToEven) {
  for (const LongCase& c : kLongCases) {
    SCOPED_TRACE(std::string("text: \"") + c.text + "\"");
    EXPECT_EQ(TryCLngNI(c.text), c.expected);
    EXPECT_EQ(CLngNI(c.text), c.expected.value_or(0));
    EXPECT_EQ(Str2LngNI(c.text), c.expected.value_or(0));
    EXPECT_EQ(Str2Lng(c.text), c.expected.value_or(0));
  }
}

TEST(ConversionsTest, DoubleToLongRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::optional<int32_t> expected;
  } cases[] = {
      {0.5, 0},  {1.5, 2},        {-0.5, 0},           {-1.5, -2},
      {2147483647.49, 2147483647}, {2147483647.5, std::nullopt},
      {-2147483648.5, -2147483647 - 1}, {-2147483648.51, std::nullopt},
      {nan, std::nullopt}, {inf, std::nullopt}, {-inf, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(TryCLngNI(c.value), c.expected);
    EXPECT_EQ(CLngNI(c.value), c.expected.value_or(0));
  }
}

TEST(ConversionsTest, NumberToStoredText) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {168, "168"},
      {0.25, "0.25"},
      {37621.75, "37621.75"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {static_cast<double>(0.1f), "0.100000001490116"},
      {1e15, "1E+15"},
      {1e14, "100000000000000"},
      {1e-5, "1E-05"},
      {1e-4, "0.0001"},
      {-0.0, "0"},
      {0.0, "0"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123456789012345678.0, "1.23456789012346E+17"},
      {1e100, "1E+100"},
      {-1.5e-300, "-1.5E-300"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CStrNI(c.value), c.text);
    // What is written reads back to the same text.
    EXPECT_EQ(CStrNI(CDblNI(CStrNI(c.value))), c.text);
  }
  EXPECT_EQ(CStrNI(int32_t{-2147483647 - 1}), "-2147483648");
  EXPECT_EQ(CStrNI(int32_t{7}), "7");
  EXPECT_EQ(CStrNI(true), "True");
  EXPECT_EQ(CStrNI(false), "False");
}

TEST(ConversionsTest, TextToTruthValue) {
  const struct {
    const char* text;
    bool expected;
  } cases[] = {
      {"yes", true},    {" Yes ", true}, {"YES", true},    {"-1", true},    {"2", true},
      {"true", true},   {"tRuE", true},  {"#TRUE#", true}, {"1", true},     {"1.5", true},
      {"0.4", true},    {"&H1", true},   {"5-", true},     {"no", false},   {"", false},
      {"0", false},     {"0.0", false},  {"-0", false},    {"false", false}, {"FALSE", false},
      {"#FALSE#", false}, {"maybe", false}, {"y", false},  {"on", false},   {"yess", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("text: \"") + c.text + "\"");
    EXPECT_EQ(Str2Bool(c.text), c.expected);
  }
}

TEST(ConversionsTest, FormatInPointLocale) {
  const struct {
    double value;
    const char* pattern;
    const char* text;
  } cases[] = {
      {5.5, "00.0000", "05.5000"},
      {52.123456, "00.0000", "52.1235"},
      {5.5, "00,0000", "05.5000"},  // a comma in the pattern stands for the point
      {5.5, "000", "006"},
      {2.5, "0", "3"},
      {0.125, "0.00", "0.13"},
      {1.005, "0.00", "1.01"},
      {9.9999, "0.000", "10.000"},
      {99.95, "00.0", "100.0"},
      {3, "0.000", "3.000"},
      {-2.25, "0.0", "-2.3"},
      {-52.5, "000.0", "-052.5"},
      {-0.001, "0.00", "0.00"},
      {0.5, "#.##", ".5"},
      {1.5, "0.0#", "1.5"},
      {1.234, "0.0#", "1.23"},
      {12345.678, "0", "12346"},
      {45, "0\xC2\xB0", "45\xC2\xB0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " -> " + c.text);
    EXPECT_EQ(FormatI(c.value, c.pattern), c.text);
  }
}

TEST(ConversionsTest, FractionalPart) {
  const struct {
    double x;
    double expected;
  } cases[] = {{2.75, 0.75}, {-2.25, 0.75}, {3, 0}, {-3, 0}, {0, 0}, {-0.5, 0.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(FP(c.x), c.expected);
  }
}

// Stored text must not follow a decimal-comma locale; shown text must. The locale is
// compiled into a private folder so the test does not depend on the machine's locales.
class CommaLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tests run as parallel processes; each compiles the locale into a folder of its own.
    dir_ = std::filesystem::path(::testing::TempDir()) / ("chronoreel_locales_" + std::to_string(::getpid()));
    const std::filesystem::path& dir = dir_;
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (!std::filesystem::exists(dir / "de_DE.UTF-8")) (void)std::system(command.c_str());
    setenv("LOCPATH", dir.c_str(), 1);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
      GTEST_SKIP() << "no decimal-comma locale could be made";
    }
  }
  void TearDown() override {
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path dir_;
};

TEST_F(CommaLocaleTest, StoredTextKeepsThePoint) {
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(CDblNI("12.5"), 12.5);
  EXPECT_EQ(CDblNI("12,5"), 12.5);
  EXPECT_EQ(CLngNI("2.5"), 2);
  EXPECT_EQ(CStrNI(12.5), "12.5");
  EXPECT_EQ(CStrNI(static_cast<double>(0.1f)), "0.100000001490116");
  EXPECT_EQ(CStrNI(1e-5), "1E-05");
  EXPECT_TRUE(Str2Bool("0.4"));
  EXPECT_EQ(FormatI(5.5, "00.0000"), "05,5000");
  EXPECT_EQ(FormatI(-1.25, "0.0"), "-1,3");
  EXPECT_EQ(FormatI(7, "000"), "007");
}

// Rounds with the floating-point environment's own ties-to-even mode.
double ReferenceRound(double v) { return std::nearbyint(v); }

// Malformed and random text through every reader: nothing crashes, and the readers agree
// with the C library's own parser and with each other.
TEST(ConversionsFuzzTest, RandomTextKeepsTheInvariants) {
  std::mt19937 rng(20261208);
  const std::string soup = "0123456789+-.,eE()&HhOoFf \t";
  // An independent statement of the grammar, with at most one comma and no point.
  const std::regex body_point(R"((\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?)");
  const std::regex body_comma(R"((\d+(,\d*)?|,\d+)([eE][+-]?\d+)?)");
  auto random_text = [&](int i) {
    std::string s;
    const int kind = i % 4;
    if (kind == 0) {
      const size_t n = rng() % 20;
      for (size_t k = 0; k < n; ++k) s.push_back(static_cast<char>(rng() % 256));
    } else if (kind == 3 && i % 400 == 3) {
      const size_t n = 1000 + rng() % 4000;
      for (size_t k = 0; k < n; ++k) s.push_back(static_cast<char>('0' + rng() % 10));
      if (rng() % 2) s.insert(rng() % s.size(), ".");
      if (rng() % 2) s += "e-" + std::to_string(rng() % 5000);
    } else {
      const size_t n = rng() % 14;
      for (size_t k = 0; k < n; ++k) s.push_back(soup[rng() % soup.size()]);
    }
    return s;
  };

  int compared = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string text = random_text(i);
    const auto number = TryCDblNI(text);
    const auto whole = TryCLngNI(text);
    SCOPED_TRACE("text: \"" + text + "\"");

    if (number) {
      ASSERT_TRUE(std::isfinite(*number));
      const bool in_range = *number >= -2147483648.5 && *number < 2147483647.5;
      ASSERT_EQ(whole.has_value(), in_range);
      if (whole) {
        ASSERT_EQ(*whole, ReferenceRound(*number));
      }
      // The stored text of a number reads back as the same stored text.
      const std::string stored = CStrNI(*number);
      const auto again = TryCDblNI(stored);
      ASSERT_TRUE(again.has_value()) << stored;
      ASSERT_EQ(CStrNI(*again), stored);
      const std::string t(text);
      if (t.find_first_not_of(" \t0123456789+-.,eE()&HhOoFf") == std::string::npos &&
          t.find("rue") == std::string::npos) {
        ASSERT_EQ(Str2Bool(text), *number != 0.0);
      }
    } else {
      ASSERT_FALSE(whole.has_value());
      ASSERT_EQ(CDblNI(text), 0.0);
      ASSERT_EQ(CLngNI(text), 0);
    }

    // Compare decimal text with strtod (the C locale is in force here).
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos || text.find('&') != std::string::npos) continue;
    std::string core = text.substr(b, e - b + 1);
    bool negative = false;
    if (core.size() >= 2 && core.front() == '(' && core.back() == ')') {
      core = core.substr(1, core.size() - 2);
      negative = true;
    } else if (!core.empty() && (core.front() == '+' || core.front() == '-')) {
      negative = core.front() == '-';
      core.erase(0, 1);
    } else if (!core.empty() && (core.back() == '+' || core.back() == '-')) {
      negative = core.back() == '-';
      core.pop_back();
    }
    const bool grammatical = std::regex_match(core, body_point) || std::regex_match(core, body_comma);
    if (!grammatical) {
      ASSERT_FALSE(number.has_value());
      continue;
    }
    for (char& c : core) {
      if (c == ',') c = '.';
    }
    errno = 0;
    const double reference = std::strtod(core.c_str(), nullptr);
    if (errno == ERANGE) {
      if (std::isinf(reference)) {
        ASSERT_FALSE(number.has_value());  // overflow does not convert
      }
      continue;  // underflow: no exact reference to compare with
    }
    ASSERT_TRUE(number.has_value());
    ASSERT_EQ(*number, negative ? -reference : reference);
    ++compared;
  }
  // The soups must reach the grammar often enough for the comparison to mean something.
  EXPECT_GT(compared, 5000);
}

}  // namespace
}  // namespace chronoreel
