// The document commands: recent files, the program profile, the save prompt and the
// questions of New, Save As and the recent-file entries.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup_world.h"
#include "support/env_guard.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

using Files = std::array<std::string, 4>;

TEST(PromoteCurrentFile, KeepsTheRecentOrder) {
  struct Case {
    const char* name;
    Files before;
    std::string current;
    Files after;
  };
  const Case cases[] = {
      {"entry 2 moves up", {"a", "b", "c", "d"}, "c", {"c", "a", "b", "d"}},
      {"a fifth file drops the oldest", {"a", "b", "c", "d"}, "e", {"e", "a", "b", "c"}},
      {"entry 0 again", {"a", "b", "c", "d"}, "a", {"a", "b", "c", "d"}},
      {"entry 3 moves up", {"a", "b", "c", "d"}, "d", {"d", "a", "b", "c"}},
      {"other letter case takes the new spelling", {"a", "B.tls", "c", ""}, "b.TLS", {"b.TLS", "a", "c", ""}},
      {"into an empty list", {"", "", "", ""}, "x", {"x", "", "", ""}},
      {"into a short list", {"a", "b", "", ""}, "x", {"x", "a", "b", ""}},
  };
  for (const Case& c : cases) {
    SetupWorld w;
    w.state.LastFiles = c.before;
    w.state.CurrentFile = c.current;
    w.docs.PromoteCurrentFile();
    EXPECT_EQ(w.state.LastFiles, c.after) << c.name;
  }
}

TEST(Documents, OpeningFilesOrdersTheRecentList) {
  TempDir dir;
  SetupWorld w;
  std::vector<std::string> names;
  for (const char* n : {"1.tls", "2.tls", "3.tls", "4.tls", "5.tls"}) names.push_back(dir.File(n));
  for (const std::string& n : names) w.host.file_choices.push_back(n);
  for (size_t i = 0; i < names.size(); ++i) w.docs.OpenFile();
  EXPECT_EQ(w.state.LastFiles, (Files{names[4], names[3], names[2], names[1]}));
  w.host.file_choices.push_back(names[2]);
  w.docs.OpenFile();
  EXPECT_EQ(w.state.LastFiles, (Files{names[2], names[4], names[3], names[1]}));
  EXPECT_EQ(w.host.titles.back(), "Chronoreel - " + names[2]);
  EXPECT_TRUE(w.state.SaveCommandsEnabled);
  EXPECT_EQ(w.host.save_enables, 6);
  EXPECT_EQ(w.host.control_updates, 6);
  EXPECT_TRUE(fs::exists(names[0]));  // a name that did not exist was created with the defaults
}

TEST(Documents, AutomatedLoadLeavesTheWindowAlone) {
  TempDir dir;
  SetupWorld w;
  w.state.cmd.AutomatedRun = true;
  w.Load(dir.File("a.tls"));
  EXPECT_FALSE(w.state.SaveCommandsEnabled);
  EXPECT_EQ(w.host.save_enables + w.host.menu_updates + w.host.control_updates, 0);
  EXPECT_TRUE(w.host.titles.empty());
  EXPECT_EQ(w.state.LastFiles[0], dir.File("a.tls"));
}

TEST(Profile, DropsRecentFilesThatAreGoneAndWritesTheRestBack) {
  TempDir dir;
  const std::string f1 = dir.File("one.tls");
  const std::string f3 = dir.File("three.tls");
  WriteText(f1, "");
  WriteText(f3, "");
  WriteText(dir.File("Chronoreel.INI"), "[General]\nLongitude=-71.5\nLatitude=42,25\n[Last Files]\nFile1=" + f1 +
                                             "\nFile2=" + dir.File("gone.tls") + "\nFile3=" + f3 + "\nFile4=" +
                                             dir.Str() + "\n");
  SetupWorld w;
  w.docs.SetProfileDirectory(dir.Str());
  w.docs.LoadSetup();
  EXPECT_EQ(w.state.LastFiles, (Files{f1, f3, "", ""}));  // a folder is no setup file either
  EXPECT_DOUBLE_EQ(w.state.location.longitude, -71.5);
  EXPECT_DOUBLE_EQ(w.state.location.latitude, 42.25);

  EXPECT_TRUE(w.docs.SaveSetup());
  const std::string profile = dir.File("Chronoreel.INI");
  EXPECT_EQ(Stored(profile, "Last Files", "File1"), f1);
  EXPECT_EQ(Stored(profile, "Last Files", "File2"), f3);
  EXPECT_EQ(Stored(profile, "Last Files", "File3"), "");
  EXPECT_EQ(Stored(profile, "General", "Longitude"), "-71.5");
  EXPECT_EQ(Stored(profile, "General", "Latitude"), "42.25");
}

TEST(Profile, FirstStartCreatesTheProfileWithTheLocation) {
  TempDir dir;
  SetupWorld w;
  w.docs.SetProfileDirectory(dir.Str());
  w.docs.LoadSetup();
  EXPECT_EQ(ReadText(dir.File("Chronoreel.INI")), "[General]\nLongitude=0\nLatitude=0\n");
}

TEST(Profile, AutomatedRunKeepsTheRecentList) {
  TempDir dir;
  const std::string profile = dir.File("Chronoreel.INI");
  WriteText(profile, "[Last Files]\nFile1=keep\n");
  SetupWorld w;
  w.docs.SetProfileDirectory(dir.Str());
  w.state.cmd.AutomatedRun = true;
  w.state.LastFiles = {"new", "", "", ""};
  w.state.location.latitude = 10.5;
  EXPECT_TRUE(w.docs.SaveSetup());
  EXPECT_EQ(Stored(profile, "Last Files", "File1"), "keep");
  EXPECT_EQ(Stored(profile, "General", "Latitude"), "10.5");
}

// The location edited by another program while an unattended run went on survives the
// run's end; what the run itself changed is written, and nothing else.
TEST(Profile, AutomatedRunWritesOnlyWhatItChanged) {
  for (const bool run_moves_east : {false, true}) {
    TempDir dir;
    const std::string profile = dir.File("Chronoreel.INI");
    WriteText(profile, "[General]\nLongitude=10\nLatitude=51.5\n");
    SetupWorld w;
    w.docs.SetProfileDirectory(dir.Str());
    w.docs.LoadSetup();
    w.state.cmd.AutomatedRun = true;
    WriteText(profile, "[General]\nLongitude=10.0\nLatitude=60\n");
    if (run_moves_east) w.state.location.longitude = 11;
    EXPECT_TRUE(w.docs.SaveSetup());
    EXPECT_EQ(ReadText(profile), run_moves_east ? "[General]\nLongitude=11\nLatitude=60\n"
                                                 : "[General]\nLongitude=10.0\nLatitude=60\n");
  }
}

TEST(Profile, ProfileThatCannotBeWrittenIsReported) {
  TempDir dir;
  SetupWorld w;
  w.docs.SetProfileDirectory(dir.File("missing"));
  EXPECT_FALSE(w.docs.SaveSetup());
}

TEST(Profile, DefaultsToTheCurrentDirectory) {
  SetupWorld w;
  EXPECT_EQ(w.docs.ProfilePath(), (fs::current_path() / "Chronoreel.INI").string());
}

// The save prompt in front of "&Open Setup".
TEST(SavePrompt, AnswersDecideWhetherTheCommandGoesOn) {
  struct Case {
    const char* name;
    MessageAnswer answer;
    bool save_can_succeed;
    bool dialog_shown;
    bool changed_after;
    bool old_file_saved;
  };
  const Case cases[] = {
      {"Cancel abandons", MessageAnswer::Cancel, true, false, true, false},
      {"Yes saves and goes on", MessageAnswer::Yes, true, true, false, true},
      {"Yes with a failed save abandons", MessageAnswer::Yes, false, false, true, false},
      {"No forgets the edits and goes on", MessageAnswer::No, true, true, false, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    SetupWorld w;
    const std::string old_file = c.save_can_succeed ? dir.File("old.tls") : dir.File("missing/old.tls");
    w.state.CurrentFile = old_file;
    w.movie.SetStillDirectory("/edited");
    ASSERT_TRUE(w.state.SetupChanged);
    w.host.answers.push_back(c.answer);
    w.docs.OpenFile();  // no file is chosen: the dialog is cancelled
    ASSERT_GE(w.host.messages.size(), 1u) << c.name;
    EXPECT_EQ(w.host.messages[0].title, "Save Changes?");
    EXPECT_EQ(w.host.messages[0].text, "Would you like to save the current file?");
    EXPECT_EQ(w.host.messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(w.host.Has("choose:open|Open/Create Setup File"), c.dialog_shown) << c.name;
    EXPECT_EQ(w.state.SetupChanged, c.changed_after) << c.name;
    EXPECT_EQ(w.movie.StillDirectory(), "/edited") << c.name;  // the edits stay in place
    EXPECT_EQ(fs::exists(old_file) && Stored(old_file, "General", "StillDirectory") == "/edited", c.old_file_saved)
        << c.name;
    EXPECT_EQ(w.state.CurrentFile, old_file) << c.name;
  }
}

TEST(SavePrompt, NotAskedWithoutChanges) {
  SetupWorld w;
  w.state.SetupChanged = false;
  EXPECT_TRUE(w.docs.SavePrompt());
  EXPECT_TRUE(w.host.messages.empty());
}

TEST(NewFile, ExistingNameIsRefused) {
  TempDir dir;
  const std::string existing = dir.File("there.tls");
  WriteText(existing, "[General]\nStillDirectory=/x\n");
  SetupWorld w;
  w.state.CurrentFile = "before.tls";
  w.host.file_choices.push_back(existing);
  w.docs.NewFile();
  EXPECT_EQ(w.host.log.front(), "choose:new|New Setup File");
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].title, "File Exists");
  EXPECT_EQ(w.host.messages[0].text, "File already exists.  Select 'Open Setup' to open an existing file.");
  EXPECT_EQ(w.state.CurrentFile, "before.tls");
  EXPECT_EQ(ReadText(existing), "[General]\nStillDirectory=/x\n");
}

// A new document looks for stills in the user's pictures and writes to the user's videos.
TEST(NewFile, StartsWithTheUsersOwnFolders) {
  TempDir dir;
  const test::EnvGuard home("HOME", dir.Str().c_str());
  const test::EnvGuard config("XDG_CONFIG_HOME", nullptr);
  const std::string path = dir.File("new.tls");
  SetupWorld w;
  w.host.file_choices.push_back(path);
  w.docs.NewFile();
#ifdef _WIN32
  const std::string stills = "c:\\images", movie = "c:\\mymovie.avi";
#else
  const std::string stills = dir.File("Pictures"), movie = dir.File("Videos/timelapse.avi");
#endif
  EXPECT_EQ(w.movie.StillDirectory(), stills);
  EXPECT_EQ(w.movie.OutputAVIPath(), movie);
  EXPECT_EQ(Stored(path, "General", "StillDirectory"), stills);
  EXPECT_EQ(Stored(path, "General", "OutputAVIPath"), movie);
}

TEST(NewFile, EmptyNameIsReported) {
  SetupWorld w;
  w.host.file_choices.push_back(std::string());
  w.docs.NewFile();
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].title, "No file selected");
  EXPECT_EQ(w.state.CurrentFile, "");
}

TEST(SaveAsFile, AsksBeforeOverwriting) {
  struct Case {
    MessageAnswer answer;
    bool written;
  };
  const Case cases[] = {{MessageAnswer::Yes, true}, {MessageAnswer::No, false}, {MessageAnswer::Cancel, false}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string open = dir.File("open.tls");
    SetupWorld w;
    w.Load(open);  // Save As onto the open file itself still asks
    w.movie.SetStillDirectory("/new");
    w.host.file_choices.push_back(open);
    w.host.answers.push_back(c.answer);
    w.docs.SaveAsFile();
    EXPECT_TRUE(w.host.Has("choose:save|Save File"));
    ASSERT_EQ(w.host.messages.size(), 1u);
    EXPECT_EQ(w.host.messages[0].title, "File Exists");
    EXPECT_EQ(w.host.messages[0].text, "File already exists.  Would you like to overwrite the existing file?");
    EXPECT_EQ(w.host.messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(Stored(open, "General", "StillDirectory") == "/new", c.written);
    EXPECT_EQ(w.state.SetupChanged, !c.written);
  }
}

TEST(SaveAsFile, FailedSaveKeepsTheFormerName) {
  TempDir dir;
  SetupWorld w;
  w.state.CurrentFile = dir.File("open.tls");
  w.movie.SetStillDirectory("/new");
  w.host.file_choices.push_back(dir.File("missing/copy.tls"));
  w.docs.SaveAsFile();
  EXPECT_EQ(w.state.CurrentFile, dir.File("open.tls"));
  EXPECT_TRUE(w.state.SetupChanged);
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text.rfind("The setup file could not be saved:\n", 0), 0u);
}

TEST(OpenRecentFile, SameFileInOtherCaseDoesNothing) {
  struct Case {
    const char* entry;
    int index;
    bool loads;
  };
  const Case cases[] = {
      {"/Setups/Garden.TLS", 1, false},
      {"/setups/garden.tls", 1, false},
      {"", 2, false},
      {nullptr, 7, false},
      {"*", 1, true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    SetupWorld w;
    w.state.CurrentFile = "/setups/garden.tls";
    const std::string other = dir.File("other.tls");
    WriteText(other, "[General]\n");
    w.state.LastFiles = {"/x.tls", "", "", ""};
    if (c.entry) w.state.LastFiles[static_cast<size_t>(c.index)] = std::string(c.entry) == "*" ? other : c.entry;
    w.movie.SetStillDirectory("/edited");
    w.host.answers.push_back(MessageAnswer::No);
    w.docs.OpenRecentFile(c.index);
    EXPECT_EQ(w.host.messages.empty(), !c.loads) << c.index;  // the prompt comes only with a load
    EXPECT_EQ(w.state.CurrentFile, c.loads ? other : "/setups/garden.tls");
  }
}

}  // namespace
}  // namespace chronoreel
