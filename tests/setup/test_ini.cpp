// The INI class against the profile rules: what a read finds, what a write leaves on disk
// (byte for byte), and how a failed write is reported.
#include "setup/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "scratch_dir.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

struct ReadCase {
  const char* name;
  std::string file;
  const char* section;
  const char* key;
  std::string expected;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsTheValueTheProfileRulesGive) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  WriteText(path, GetParam().file);
  INI ini;
  ini.SetFile(path);
  EXPECT_EQ(ini.GetKey(GetParam().section, GetParam().key, false, ""), GetParam().expected);
  // A read without write-back never touches the file.
  EXPECT_FALSE(ini.Pending());
  EXPECT_EQ(ReadText(path), GetParam().file);
}

const std::string kLong(1000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rules, IniRead,
    ::testing::Values(
        ReadCase{"Trimmed", "  [General]  \n\t k \t= v w \t\n", "General", "k", "v w"},
        ReadCase{"ControlCharsTrimmed", "[A]\nk=\x0b v\x0c\n", "A", "k", "v"},
        ReadCase{"HeaderNameTrimmed", "[ General ]\nk=1\n", "general", "K", "1"},
        ReadCase{"TextAfterHeader", "[General] x\nk=2\n", "General", "k", "2"},
        ReadCase{"NameUpToLastBracket", "[Gen]eral]\nk=3\n", "Gen]eral", "k", "3"},
        ReadCase{"NoClosingBracketIsNoHeader", "[A]\nk=1\n[B\nk=2\n", "B", "k", ""},
        ReadCase{"NoClosingBracketStaysInSection", "[A]\n[B\nk=2\n", "A", "k", "2"},
        ReadCase{"FirstSectionOnly", "[A]\nx=1\n[a]\nk=2\n", "A", "k", ""},
        ReadCase{"FirstKeyWins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        ReadCase{"CommentSkipped", "[A]\n;k=1\n  ; k=3\nk=2\n", "A", "k", "2"},
        ReadCase{"HashIsNoComment", "[A]\n#k=1\n", "A", "#k", "1"},
        ReadCase{"SemicolonInValueStays", "[A]\nk=a;b\n", "A", "k", "a;b"},
        ReadCase{"ValueAfterFirstEquals", "[A]\nk=a=b\n", "A", "k", "a=b"},
        ReadCase{"NameBeforeFirstEquals", "[A]\nk = a\n", "A", "k", "a"},
        ReadCase{"EmptyValue", "[A]\nk=\n", "A", "k", ""},
        ReadCase{"EmptyQuotes", "[A]\nk=\"\"\n", "A", "k", ""},
        ReadCase{"QuotesStripped", "[A]\nk=\"d:\\cam\"\n", "A", "k", "d:\\cam"},
        ReadCase{"SingleQuotesStripped", "[A]\nk='x y'\n", "A", "k", "x y"},
        ReadCase{"InnerQuoteKeepsQuotes", "[A]\nk=\"/opt/my tools/up\" \"<outpath>\"\n", "A", "k",
                 "\"/opt/my tools/up\" \"<outpath>\""},
        ReadCase{"UnmatchedQuotesKept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
        ReadCase{"LoneQuoteKept", "[A]\nk=\"\n", "A", "k", "\""},
        ReadCase{"LineWithoutEqualsHasNoValue", "[A]\nk\nk=2\n", "A", "k", ""},
        ReadCase{"KeysBeforeFirstHeaderNeverFound", "k=1\n[A]\n", "A", "k", ""},
        ReadCase{"CaseIgnored", "[gEnErAl]\nKEY=v\n", "General", "key", "v"},
        ReadCase{"CrLineEnds", "[A]\rx=0\rk=1\r", "A", "k", "1"},
        ReadCase{"CrLfLineEnds", "[A]\r\nk=1\r\n", "A", "k", "1"},
        ReadCase{"NoFinalLineEnd", "[A]\nk=1", "A", "k", "1"},
        ReadCase{"MissingSection", "[A]\nk=1\n", "B", "k", ""},
        ReadCase{"LongValueWhole", "[A]\nk=" + kLong + "\n", "A", "k", kLong},
        // A file saved by a Windows editor starts with a UTF-8 byte-order mark.
        ReadCase{"ByteOrderMarkBeforeFirstHeader", "\xEF\xBB\xBF[General]\r\nk=1\r\n", "General", "k", "1"}),
    [](const ::testing::TestParamInfo<ReadCase>& p) { return std::string(p.param.name); });

struct Op {
  std::string section, key, text;
};

struct WriteCase {
  const char* name;
  std::optional<std::string> file;  // nullopt: no file yet
  std::vector<Op> ops;
  std::string expected;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class IniWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, LeavesTheBytesTheProfileRulesGive) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  if (GetParam().file) WriteText(path, *GetParam().file);
  INI ini;
  ini.SetFile(path);
  for (const Op& op : GetParam().ops) ini.SetKey(op.section, op.key, op.text);
  ASSERT_TRUE(ini.Flush()) << ini.LastError();
  EXPECT_EQ(ReadText(path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniWrite,
    ::testing::Values(
        WriteCase{"NewFile", std::nullopt, {{"S", "K", "V"}}, "[S]\nK=V\n"},
        WriteCase{"NewSectionAtEndWithoutBlank", "[A]\nx=1\n", {{"B", "k", "v"}}, "[A]\nx=1\n[B]\nk=v\n"},
        WriteCase{"LineEndAddedFirst", "[A]\nx=1", {{"B", "k", "v"}}, "[A]\nx=1\n[B]\nk=v\n"},
        WriteCase{"NewKeyAfterLastNonBlank", "[A]\nx=1\n\n\n[B]\ny=2\n", {{"A", "k", "v"}},
                  "[A]\nx=1\nk=v\n\n\n[B]\ny=2\n"},
        WriteCase{"NewKeyAfterComment", "[A]\nx=1\n;c\n\n", {{"A", "k", "v"}}, "[A]\nx=1\n;c\nk=v\n\n"},
        WriteCase{"NewKeyAtUnendedLastLine", "[A]\nx=1", {{"A", "k", "v"}}, "[A]\nx=1\nk=v\n"},
        WriteCase{"NewKeysInOrder", "[A]\n", {{"A", "a", "1"}, {"A", "b", "2"}, {"a", "c", "3"}}, "[A]\na=1\nb=2\nc=3\n"},
        WriteCase{"FirstMatchingSection", "[A]\nx=1\n[a]\ny=2\n", {{"a", "k", "v"}}, "[A]\nx=1\nk=v\n[a]\ny=2\n"},
        WriteCase{"KeyKeepsSpelling", "[A]\nKeY=1\n", {{"a", "key", "2"}}, "[A]\nKeY=2\n"},
        WriteCase{"FirstMatchingKeyChanged", "[A]\nk=1\nk=2\n", {{"A", "k", "3"}}, "[A]\nk=3\nk=2\n"},
        WriteCase{"SameValueUntouched", "[A]\r\nk = 1  \r\n", {{"A", "k", "1"}}, "[A]\r\nk = 1  \r\n"},
        WriteCase{"EmptyText", "[A]\nk=1\n", {{"A", "k", ""}}, "[A]\nk=\n"},
        WriteCase{"OtherLinesByteForByte", "  ; c  \r\n[A]\t\r\n\r\nx = 1 \r\nz=9", {{"A", "x", "2"}},
                  "  ; c  \r\n[A]\t\r\n\r\nx =2\r\nz=9"},
        WriteCase{"CrLfFile", "[A]\r\nx=1\r\n", {{"A", "k", "v"}, {"B", "y", "z"}},
                  "[A]\r\nx=1\r\nk=v\r\n[B]\r\ny=z\r\n"},
        WriteCase{"FirstLineDecidesLineEnd", "[A]\nx=1\r\n", {{"A", "k", "v"}}, "[A]\nx=1\r\nk=v\n"},
        WriteCase{"CrFileKeepsCr", "[A]\rx=1\r", {{"A", "k", "v"}, {"B", "y", "z"}}, "[A]\rx=1\rk=v\r[B]\ry=z\r"},
        WriteCase{"LfFileKeepsLf", "[A]\nx=1", {{"A", "k", "v"}, {"B", "y", "z"}}, "[A]\nx=1\nk=v\n[B]\ny=z\n"},
        WriteCase{"OneUnendedLineTakesLf", "[A]", {{"A", "k", "v"}}, "[A]\nk=v\n"},
        WriteCase{"KeysBeforeHeaderIgnored", "k=1\n[A]\n", {{"A", "k", "2"}}, "k=1\n[A]\nk=2\n"},
        WriteCase{"KeyWithoutEquals", "[A]\n  k  \n", {{"A", "k", "v"}}, "[A]\n  k=v\n"},
        WriteCase{"LineBreakInValueFlattened", "[A]\n", {{"A", "k", "a\r\nb"}}, "[A]\nk=a  b\n"},
        WriteCase{"EmptyFile", "", {{"A", "k", "v"}}, "[A]\nk=v\n"},
        WriteCase{"InnerBlanksAndQuotesAsTheyAre", "[A]\n", {{"A", "k", "a \"b\" c"}}, "[A]\nk=a \"b\" c\n"},
        WriteCase{"EdgeBlankQuoted", "[A]\n", {{"A", "k", "/cam/out "}}, "[A]\nk=\"/cam/out \"\n"},
        WriteCase{"EdgeControlCharsQuoted", "[A]\n", {{"A", "k", "\x0b\x0b"}}, "[A]\nk=\"\x0b\x0b\"\n"},
        WriteCase{"QuotedTextInOtherQuotes", "[A]\n", {{"A", "k", "\"x\""}}, "[A]\nk='\"x\"'\n"},
        WriteCase{"EdgeBlankWithQuoteInOtherQuotes", "[A]\n", {{"A", "k", " a\"b"}}, "[A]\nk=' a\"b'\n"},
        WriteCase{"BothQuotesAsTheyAre", "[A]\n", {{"A", "k", " a\"b'c"}}, "[A]\nk= a\"b'c\n"},
        WriteCase{"SameQuotedValueUntouched", "[A]\nk=\" v\"\n", {{"A", "k", " v"}}, "[A]\nk=\" v\"\n"},
        WriteCase{"ByteOrderMarkKept", "\xEF\xBB\xBF[A]\r\nx=1\r\n", {{"A", "k", "v"}, {"A", "x", "2"}},
                  "\xEF\xBB\xBF[A]\r\nx=2\r\nk=v\r\n"},
        WriteCase{"ByteOrderMarkAlone", "\xEF\xBB\xBF", {{"A", "k", "v"}}, "\xEF\xBB\xBF[A]\nk=v\n"}),
    [](const ::testing::TestParamInfo<WriteCase>& p) { return std::string(p.param.name); });

// A saved value must read back as itself, or a setup file changes at every load and save
// (a trailing blank in a path was lost, a value in quotes lost its quotes).
TEST(IniRoundTrip, WrittenValuesReadBackAsWritten) {
  const std::string texts[] = {"",     "plain",   " lead",   "trail\t", "\x0b\x0b", "\"q\"", "'q'",
                               "\"",   "'",       "\"a\" \"b\"", "it's ", " say \"hi\"", "a=b ; c"};
  TempDir dir;
  const std::string path = dir.File("p.ini");
  for (const std::string& text : texts) {
    INI ini;
    ini.SetFile(path);
    ini.SetKey("A", "k", text);
    ASSERT_TRUE(ini.Flush()) << ini.LastError();
    INI again;
    again.SetFile(path);
    EXPECT_EQ(again.GetKey("A", "k", false, ""), text) << "stored: " << ReadText(path);
  }
}

TEST(IniGetKey, WritesTheDefaultBackOnlyWhenAsked) {
  struct Case {
    std::string file;
    bool write_default;
    std::string default_value;
    std::string returned;
    std::string after;
  };
  const Case cases[] = {
      {"[A]\nk=\n", true, "d", "d", "[A]\nk=d\n"},
      {"[A]\nk=\"\"\n", true, "d", "d", "[A]\nk=d\n"},
      {"[A]\n", true, "d", "d", "[A]\nk=d\n"},
      {"[A]\n", false, "d", "", "[A]\n"},
      {"[A]\nk=x\n", true, "d", "x", "[A]\nk=x\n"},
      {"[A]\nk=\n", true, "", "", "[A]\nk=\n"},
      {"[A]\nk\n", true, "", "", "[A]\nk=\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.File("p.ini");
    WriteText(path, c.file);
    INI ini;
    ini.SetFile(path);
    EXPECT_EQ(ini.GetKey("A", "k", c.write_default, c.default_value), c.returned) << c.file;
    ASSERT_TRUE(ini.Flush());
    EXPECT_EQ(ReadText(path), c.after) << c.file;
  }
}

TEST(IniGetKey, MissingFileIsNotCreatedByReadsWithoutWriteBack) {
  TempDir dir;
  const std::string path = dir.File("none.ini");
  {
    INI ini;
    ini.SetFile(path);
    EXPECT_EQ(ini.GetKey("A", "k", false, "d"), "");
    EXPECT_TRUE(ini.Flush());
  }
  EXPECT_FALSE(fs::exists(path));
}

// One INI with a single Flush must leave what one read-modify-write per call leaves.
TEST(IniBatch, EqualsOneWritePerCall) {
  std::mt19937 rng(1234);
  const std::vector<std::string> bases = {
      "", "[A]\nx=1\n", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2", "k=0\n[a]\n;c\n\n[b]\nK = 3 \n[A]\nz=4\n"};
  const char* sections[] = {"A", "a", "B", "C", "b"};
  const char* keys[] = {"x", "X", "y", "k", "new"};
  const char* texts[] = {"", "1", "2", "v w", "\"q\""};
  auto dir = ScratchDir();
  for (int round = 0; round < 200; ++round) {
    const std::string& base = bases[static_cast<size_t>(round) % bases.size()];
    const std::string batched = dir->File("batched.ini");
    const std::string per_call = dir->File("per_call.ini");
    WriteText(batched, base);
    WriteText(per_call, base);
    INI batch;
    batch.SetFile(batched);
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      const char* s = sections[rng() % 5];
      const char* k = keys[rng() % 5];
      const char* t = texts[rng() % 5];
      const bool read = rng() % 3 == 0;
      INI single;
      single.SetFile(per_call);
      if (read) {
        EXPECT_EQ(batch.GetKey(s, k, true, t), single.GetKey(s, k, true, t));
      } else {
        batch.SetKey(s, k, t);
        single.SetKey(s, k, t);
      }
      ASSERT_TRUE(single.Flush());
    }
    ASSERT_TRUE(batch.Flush());
    ASSERT_EQ(ReadText(batched), ReadText(per_call)) << "round " << round;
  }
}

TEST(IniFile, SetFileRereadsAndFlushesThePreviousFile) {
  TempDir dir;
  const std::string a = dir.File("a.ini");
  const std::string b = dir.File("b.ini");
  INI ini;
  ini.SetFile(a);
  ini.SetKey("S", "k", "1");
  ini.SetFile(b);  // a is written now
  EXPECT_EQ(ReadText(a), "[S]\nk=1\n");
  WriteText(a, "[S]\nk=2\n");  // another program changes it
  ini.SetFile(a);
  EXPECT_EQ(ini.GetKey("S", "k", false, ""), "2");
}

TEST(IniFile, DestructorWritesPendingChanges) {
  TempDir dir;
  const std::string a = dir.File("a.ini");
  {
    INI ini;
    ini.SetFile(a);
    ini.SetKey("S", "k", "1");
  }
  EXPECT_EQ(ReadText(a), "[S]\nk=1\n");
}

TEST(IniFile, WriteLeavesNoTemporaryFileAndKeepsMode) {
  TempDir dir;
  const std::string a = dir.File("a.ini");
  WriteText(a, "[S]\n");
  ASSERT_EQ(::chmod(a.c_str(), 0640), 0);
  INI ini;
  ini.SetFile(a);
  ini.SetKey("S", "k", "1");
  ASSERT_TRUE(ini.Flush());
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"a.ini"});
  struct stat st {};
  ASSERT_EQ(::stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFile, WritesThroughASymlink) {
  TempDir dir;
  const std::string target = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  WriteText(target, "[S]\n");
  fs::create_symlink(target, link);
  INI ini;
  ini.SetFile(link);
  ini.SetKey("S", "k", "1");
  ASSERT_TRUE(ini.Flush());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(target), "[S]\nk=1\n");
}

TEST(IniFailure, UnwritableTargetsReportAndLeaveNothingBehind) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    std::function<void(const std::string&)> before_flush;  // after SetFile and SetKey
    const char* reason;
  };
  const std::string nested = dir.File("missing/p.ini");
  const std::string is_dir = dir.File("folder.ini");
  const std::string swapped = dir.File("swapped.ini");
  const std::string read_only = dir.File("read-only.ini");
  WriteText(read_only, "[S]\nk=0\n");
  ::chmod(read_only.c_str(), 0444);
  fs::create_directory(is_dir);
  WriteText(is_dir + "/inside", "keep");
  WriteText(swapped, "[S]\nk=0\n");
  const Case cases[] = {
      {"missing folder", nested, nullptr, "No such file or directory"},
      {"a folder", is_dir, nullptr, "Is a directory"},
      // Refused for every user, root included.
      {"read-only file", read_only, nullptr, "Permission denied"},
      // The file turns into a folder after it was read: the rename fails after the
      // temporary file was written.
      {"rename fails", swapped,
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
         WriteText(p + "/inside", "keep");
       },
       ""},
  };
  for (const Case& c : cases) {
    INI ini;
    ini.SetFile(c.path);
    ini.SetKey("S", "k", "1");
    if (c.before_flush) c.before_flush(c.path);
    EXPECT_FALSE(ini.Flush()) << c.name;
    EXPECT_EQ(ini.LastError().rfind("cannot write " + c.path + ": ", 0), 0u) << ini.LastError();
    EXPECT_NE(ini.LastError().find(c.reason), std::string::npos) << ini.LastError();
    EXPECT_TRUE(ini.Pending()) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir.File("missing")));
  EXPECT_EQ(ReadText(is_dir + "/inside"), "keep");
  EXPECT_EQ(ReadText(swapped + "/inside"), "keep");
  EXPECT_EQ(ReadText(read_only), "[S]\nk=0\n");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 3u);  // the two folders and the read-only file, no temporary file
}

// A file past the size limit (here sparse, so the test costs no disk) is neither held in
// memory nor replaced: reads find nothing, writes fail with the reason, the file stays.
TEST(IniFailure, OversizedFileIsNotReadNorReplaced) {
  TempDir dir;
  const std::string path = dir.File("huge.ini");
  WriteText(path, "[S]\nk=1\n");
  fs::resize_file(path, kMaxProfileBytes + 1);
  INI ini;
  ini.SetFile(path);
  EXPECT_EQ(ini.GetKey("S", "k", true, "d"), "d");
  EXPECT_FALSE(ini.Flush());
  EXPECT_NE(ini.LastError().find("too large"), std::string::npos) << ini.LastError();
  EXPECT_EQ(fs::file_size(path), kMaxProfileBytes + 1);
}

}  // namespace
}  // namespace chronoreel
