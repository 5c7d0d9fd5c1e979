// The console host of an unattended run, writing to a log (not a terminal): what a
// scheduler's log shows of the progress and of the messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/console_host.h"

namespace chronoreel {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  return text;
}

// One call on the progress window: a status ("S:...") or a counter ("L:...").
void Apply(ProgressWindow& p, const std::string& call) {
  if (call.rfind("S:", 0) == 0) p.SetStatus(call.substr(2));
  if (call.rfind("L:", 0) == 0) p.SetFrameLabel(call.substr(2));
}

TEST(ConsoleHostLog, ALinePerStatusWithTheStagesLastCounterBelowIt) {
  struct Case {
    const char* name;
    std::vector<std::string> calls;
    std::string log;
  };
  const Case cases[] = {
      {"a run",
       {"S:Status: Reading Source Directory", "L:", "L:Found: a.jpg", "L:Found: b.jpg",
        "S:Status: Sorting Files By Date", "L:", "L:Found: 2 Files", "S:Status: Adding Frames to AVI",
        "L:Frame: 1 of 2", "L:Frame: 2 of 2", "S:Status: Post-Generation Shell Complete", "L:"},
       "Status: Reading Source Directory\n  Found: b.jpg\nStatus: Sorting Files By Date\n  Found: 2 Files\n"
       "Status: Adding Frames to AVI\n  Frame: 2 of 2\nStatus: Post-Generation Shell Complete\n"},
      {"the same status twice makes one line",
       {"S:Status: A", "S:Status: A", "S:Status: B"},
       "Status: A\nStatus: B\n"},
      {"a name cannot forge a line or drive the terminal",
       {"S:Status: Reading Source Directory", "L:Found: evil\nStatus: Done\x1b[2J.jpg"},
       "Status: Reading Source Directory\n  Found: evil\\x0AStatus: Done\\x1B[2J.jpg\n"},
      {"the last counter goes out when the window closes",
       {"S:Status: A", "L:Frame: 5 of 9"},
       "Status: A\n  Frame: 5 of 9\n"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<std::FILE, FileCloser> log(std::tmpfile());
    ASSERT_TRUE(log);
    {
      ConsoleHost host(true, log.get());
      std::unique_ptr<ProgressWindow> window = host.CreateProgressWindow([] {});
      ASSERT_TRUE(window);
      for (const std::string& call : c.calls) Apply(*window, call);
      window->Unload();
    }
    EXPECT_EQ(Contents(log.get()), c.log) << c.name;
  }
}

TEST(ConsoleHostLog, MessagesGoToTheLogEvenWhenQuiet) {
  struct Case {
    MessageBoxRequest box;
    MessageAnswer answer;  // nobody is there to choose: the safe answer
    std::string line;
  };
  auto box = [](const char* title, const char* text, MessageButtons buttons) {
    MessageBoxRequest b;
    b.title = title;
    b.text = text;
    b.buttons = buttons;
    return b;
  };
  const Case cases[] = {
      {box("Error calling shell", "There was an error calling:\rcp x", MessageButtons::Ok), MessageAnswer::Ok,
       "chronoreel: Error calling shell: There was an error calling:\ncp x\n"},
      {box("Save Changes?", "Would you like to save the current file?", MessageButtons::YesNoCancel),
       MessageAnswer::Cancel, "chronoreel: Save Changes?: Would you like to save the current file?\n"},
      {box("", "plain", MessageButtons::YesNo), MessageAnswer::No, "chronoreel: plain\n"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<std::FILE, FileCloser> log(std::tmpfile());
    ASSERT_TRUE(log);
    ConsoleHost host(false, log.get());
    EXPECT_EQ(host.CreateProgressWindow([] {}), nullptr);  // /i: no progress at all
    EXPECT_EQ(host.ShowMessage(c.box), c.answer) << c.line;
    EXPECT_EQ(Contents(log.get()), c.line);
  }
}

// A message in the middle of a stage comes after the counter reached so far.
TEST(ConsoleHostLog, MessageDuringAStageFollowsItsCounter) {
  std::unique_ptr<std::FILE, FileCloser> log(std::tmpfile());
  ASSERT_TRUE(log);
  ConsoleHost host(true, log.get());
  std::unique_ptr<ProgressWindow> window = host.CreateProgressWindow([] {});
  window->SetStatus("Status: Adding Frames to AVI");
  window->SetFrameLabel("Frame: 3 of 9");
  MessageBoxRequest box;
  box.title = "Chronoreel";
  box.text = "There was an error writing the AVI file.";
  host.ShowMessage(box);
  // So does a line for the log; a name in it cannot forge another line.
  window->SetFrameLabel("Frame: 9 of 9 - 1 gave no frame");
  host.LogLine("1 of 9 stills gave no frame: a\nb.jpg");
  window->Unload();
  EXPECT_EQ(Contents(log.get()),
            "Status: Adding Frames to AVI\n  Frame: 3 of 9\nchronoreel: Chronoreel: There was an error "
            "writing the AVI "
            "file.\n  Frame: 9 of 9 - 1 gave no frame\nchronoreel: 1 of 9 stills gave no frame: a\\x0Ab.jpg\n");
}

}  // namespace
}  // namespace chronoreel
