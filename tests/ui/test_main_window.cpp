// The main window against the real settings object: each control writes its own setting,
// the settings come back into the controls, the document commands run through a scripted
// file chooser and message boxes.
#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "app/application.h"
#include "engine/output_lock.h"
#include "engine/settings.h"
#include "support/jpeg_maker.h"
#include "support/test_files.h"
#include "time/clock.h"
#include "time/date_time.h"
#include "ui/compression_dialog.h"
#include "ui/field_checks.h"
#include "ui/main_window.h"
#include "ui/qt_host.h"
#include "ui/run_notice.h"
#include "ui_test_main.h"

namespace chronoreel {
namespace {

using namespace std::string_literals;
using chronoreel::testing::Child;
using chronoreel::testing::VisibleTopLevel;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.SetMessageResponder([this](const MessageBoxRequest& request) {
      messages.push_back(request);
      if (answers.empty()) return MessageAnswer::Cancel;
      const MessageAnswer answer = answers.front();
      answers.pop_front();
      return answer;
    });
    host.SetFileChooser([this](const FileChoice& choice) -> std::optional<std::string> {
      asked.push_back(choice);
      std::error_code ignored;
      std::filesystem::current_path("/", ignored);  // a dialog that wanders off
      if (choices.empty()) return std::nullopt;
      auto next = choices.front();
      choices.pop_front();
      return next;
    });
    app = std::make_unique<Application>(host, dir.Str());
    window = std::make_unique<MainWindow>(*app, host);
    host.SetMainWindow(window.get());
    window->UpdateSetupControls();
    window->show();
    app->state.SetupChanged = false;
  }
  void Recreate() {
    host.SetMainWindow(nullptr);
    window.reset();
    app = std::make_unique<Application>(host, dir.Str());
    window = std::make_unique<MainWindow>(*app, host);
    host.SetMainWindow(window.get());
    window->UpdateSetupControls();
    window->show();
  }
  void TearDown() override {
    host.SetMainWindow(nullptr);
    window.reset();
    app.reset();
  }

  template <typename T>
  T* Find(const QString& name) { return Child<T>(window.get(), name); }
  QAction* Action(const QString& name) { return Find<QAction>(name); }
  void Type(const QString& name, const QString& text) {
    QLineEdit* box = Find<QLineEdit>(name);
    box->clear();
    QTest::keyClicks(box, text);
  }
  std::string WriteSetup(const std::string& name) {
    const std::string path = dir.File(name);
    std::ofstream(path) << "[General]\nStillDirectory=/cam/" << name << "\n";
    return path;
  }

  TempDir dir{"chronoreel-ui"};
  QtHost host;
  std::unique_ptr<Application> app;
  std::unique_ptr<MainWindow> window;
  std::vector<MessageBoxRequest> messages;
  std::deque<MessageAnswer> answers;
  std::vector<FileChoice> asked;
  std::deque<std::optional<std::string>> choices;
};

// ---- edits into settings ----

// A box, the text typed into it, and the setting it should then hold (NaN: no number); the
// option the typing selects, with the setting that option sets.
struct NumberEdit {
  const char* box;
  const char* text;
  const char* setting;
  double expected;
  const char* selects = nullptr;
  const char* option_setting = nullptr;
  int expected_option = 0;
};

DateTime Civil(int y, int mo, int d, int h, int mi, int s) { return *DateTimeFromCivil(y, mo, d, h, mi, s); }

const double kNoNumber = std::nan("");

const NumberEdit kNumberEdits[] = {
    {"txtDeleteOlderImagesHours", "36.5", "DeleteOldImagesHours", 36.5},
    // Hours that are no number are kept as such: nothing is deleted.
    {"txtDeleteOlderImagesHours", "48h", "DeleteOldImagesHours", kNoNumber},
    {"txtDeleteOlderImagesHours", "", "DeleteOldImagesHours", kNoNumber},
    {"txtDuplicateCount", "7", "DuplicateCount", 7},
    {"txtImageInterval", "120", "ImagesPerHour", 120, "optImageInterval_1", "ImageIntervalOption", 1},
    {"txtMovieWidth", "640", "MovieSizeWidth", 640, "optMovieSize_1", "MovieSizeOption", 1},
    {"txtMovieHeight", "480", "MovieSizeHeight", 480, "optMovieSize_1", "MovieSizeOption", 1},
    {"txtStartTimeRelative", "12.5", "StartTimeRelative", 12.5, "optStartTime_1", "StartTimeOption", 1},
    {"txtStartTimeToday", "7:30:00 PM", "StartTimeToday", 0.8125, "optStartTime_2", "StartTimeOption", 2},
    {"txtStartTimeAbsolute", "1/2/2003 6:00:00 AM", "StartTimeAbsolute", Civil(2003, 1, 2, 6, 0, 0), "optStartTime_3",
     "StartTimeOption", 3},
    {"txtStartTimeSunriseRelative", "-2", "StartTimeSunriseRelative", -2, "optStartTime_4", "StartTimeOption", 4},
    {"txtStartTimeSunsetRelative", "1.5", "StartTimeSunsetRelative", 1.5, "optStartTime_5", "StartTimeOption", 5},
    {"txtStopTimeRelative", "3", "StopTimeRelative", 3, "optStopTime_1", "StopTimeOption", 1},
    {"txtStopTimeToday", "6:15", "StopTimeToday", 0.2604166666666667, "optStopTime_2", "StopTimeOption", 2},
    {"txtStopTimeAbsolute", "2024-02-29 23:59:58", "StopTimeAbsolute", Civil(2024, 2, 29, 23, 59, 58), "optStopTime_3",
     "StopTimeOption", 3},
    {"txtStopTimeSunriseRelative", "4", "StopTimeSunriseRelative", 4, "optStopTime_4", "StopTimeOption", 4},
    {"txtStopTimeSunsetRelative", "-0.5", "StopTimeSunsetRelative", -0.5, "optStopTime_5", "StopTimeOption", 5},
    // The stamp's height and the deflicker window are held to their ranges as they are typed.
    {"txtStampSize", "12.5", "StampSize", 12.5},
    {"txtStampSize", "75", "StampSize", 50},
    {"txtStampSize", "abc", "StampSize", 1},
    {"txtDeflickerFrames", "10", "DeflickerFrames", 10},
    {"txtDeflickerFrames", "1", "DeflickerFrames", 2},
    {"txtDeflickerFrames", "500", "DeflickerFrames", 129},
    {"txtDeflickerFrames", "-3", "DeflickerFrames", 0},
    // The keys of long runs: times of day as "Today at" reads them, numbers held to their ranges,
    // and a location that is no number means the profile's.
    {"txtDayHoursStart", "7:30 AM", "DayHoursStart", 0.3125, "optDayHours_1", "DayHoursOption", 1},
    {"txtDayHoursStop", "17:00", "DayHoursStop", 17.0 / 24, "optDayHours_1", "DayHoursOption", 1},
    {"txtDayHoursSunriseRelative", "-1.5", "DayHoursSunriseRelative", -1.5, "optDayHours_2", "DayHoursOption", 2},
    {"txtDayHoursSunsetRelative", "0.75", "DayHoursSunsetRelative", 0.75, "optDayHours_2", "DayHoursOption", 2},
    {"txtDailyToleranceMinutes", "45", "DailyToleranceMinutes", 45},
    {"txtSkipDarkBelow", "40", "SkipDarkBelow", 40},
    {"txtSkipBrightAbove", "300", "SkipBrightAbove", 255},
    {"txtMovieSeconds", "12.5", "MovieSeconds", 12.5},
    {"txtStartTimeTodayDays", "-1", "StartTimeTodayDays", -1},
    {"txtStopTimeTodayDays", "2", "StopTimeTodayDays", 2},
    {"txtLatitude", "-91", "Latitude", -90},
    {"txtLongitude", "-1.25", "Longitude", -1.25},
    {"txtLongitude", "52.5east", "Longitude", kNoNumber},
};

TEST_F(MainWindowTest, EachNumberBoxWritesItsSettingAndSelectsItsOption) {
  for (const NumberEdit& edit : kNumberEdits) {
    SCOPED_TRACE(std::string(edit.box) + " <- " + edit.text);
    // A disabled box takes no typing: open its area first, as a user would.
    const QString box = edit.box;
    if (box.contains("Time")) Find<QRadioButton>("optUseTimeFilter_1")->click();
    if (box == "txtDuplicateCount") Find<QRadioButton>("optImageInterval_1")->click();
    app->state.SetupChanged = false;
    Type(edit.box, edit.text);
    const double value = FindSetting(edit.setting).number(app->movie);
    if (std::isnan(edit.expected)) {
      EXPECT_TRUE(std::isnan(value)) << value;
    } else {
      EXPECT_NEAR(value, edit.expected, 1e-9);
    }
    if (edit.selects != nullptr) {
      EXPECT_TRUE(Find<QRadioButton>(edit.selects)->isChecked());
      EXPECT_EQ(FindSetting(edit.option_setting).number(app->movie), edit.expected_option);
    }
    EXPECT_TRUE(app->state.SetupChanged);
    Recreate();  // back to the defaults for the next row
  }
}

TEST_F(MainWindowTest, TextBoxesStoreTheirTextWithoutSurroundingBlanks) {
  const struct { const char* box; const char* setting; } edits[] = {{"txtImageDirectory", "StillDirectory"},
                                                                    {"txtImageFilter", "ImageFilter"},
                                                                    {"txtOutputPath", "OutputAVIPath"},
                                                                    {"txtPostGenerationShell", "PostGenerationShell"},
                                                                    {"txtStampText", "StampText"},
                                                                    {"txtDailyTimes", "DailyTimes"}};
  for (const auto& edit : edits) {
    SCOPED_TRACE(edit.box);
    Type(edit.box, "  /srv/my cam/x  ");
    EXPECT_EQ(FindSetting(edit.setting).text(app->movie), "/srv/my cam/x");
  }
}

TEST_F(MainWindowTest, TodayTextThatIsNoTimeSelectsTheOptionButKeepsTheTime) {
  const struct { const char* box; const char* setting; const char* option; const char* option_setting; int chosen; }
      cases[] = {{"txtStartTimeToday", "StartTimeToday", "optStartTime_2", "StartTimeOption", 2},
                 {"txtDayHoursStop", "DayHoursStop", "optDayHours_1", "DayHoursOption", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    Recreate();
    FindSetting(c.setting).set_number(app->movie, 0.25);
    window->UpdateSetupControls();
    Type(c.box, "half past");
    EXPECT_TRUE(Find<QRadioButton>(c.option)->isChecked());
    EXPECT_EQ(FindSetting(c.option_setting).number(app->movie), c.chosen);
    EXPECT_DOUBLE_EQ(FindSetting(c.setting).number(app->movie), 0.25);
  }
}

TEST_F(MainWindowTest, ChecksOptionsAndFramesPerSecondWriteTheirSettings) {
  Find<QCheckBox>("chkMovieDirection")->click();
  EXPECT_EQ(app->movie.MovieDirection(), -1);
  Find<QCheckBox>("chkMovieDirection")->click();
  EXPECT_EQ(app->movie.MovieDirection(), 1);
  Find<QCheckBox>("chkDeleteOlderImages")->click();
  EXPECT_TRUE(app->movie.DeleteOldImages());
  Find<QRadioButton>("optTimeStamp_1")->click();
  EXPECT_EQ(app->movie.TimeStampOption(), 1);
  Find<QRadioButton>("optTimeStamp_2")->click();
  EXPECT_EQ(app->movie.TimeStampOption(), 2);
  Find<QCheckBox>("chkIncludeSubfolders")->click();
  EXPECT_TRUE(app->movie.IncludeSubfolders());
  Find<QCheckBox>("chkIncludeSubfolders")->click();
  EXPECT_FALSE(app->movie.IncludeSubfolders());
  Find<QRadioButton>("optStopTime_4")->setEnabled(true);
  Find<QRadioButton>("optUseTimeFilter_1")->click();
  Find<QRadioButton>("optStopTime_4")->click();
  EXPECT_EQ(app->movie.StopTimeOption(), 4);
  EXPECT_EQ(app->movie.TimeOption(), 1);

  auto* fps = Find<QComboBox>("cmbFPS");
  const struct { int index; int fps; } picks[] = {{0, 60}, {1, 50}, {3, 25}, {6, 15}, {13, 1}, {4, 24}};
  for (const auto& pick : picks) {
    fps->setCurrentIndex(pick.index);
    emit fps->activated(pick.index);
    EXPECT_EQ(app->movie.MovieFPS(), pick.fps);
  }

  auto* corner = Find<QComboBox>("cboStampPosition");
  ASSERT_EQ(corner->count(), 4);
  for (const int index : {0, 2, 1, 3}) {
    corner->setCurrentIndex(index);
    emit corner->activated(index);
    EXPECT_EQ(app->movie.StampPosition(), index);
  }
}

// ---- settings into controls ----

TEST_F(MainWindowTest, UpdateSetupControlsFillsEveryControlAndWritesNothing) {
  MovieGen& m = app->movie;
  m.SetStillDirectory("/cam/garden");
  m.SetImageFilter("*.jpeg");
  m.SetDeleteOldImages(true);
  m.SetDeleteOldImagesHours(36.5);
  m.SetMovieDirection(-1);
  m.SetTimeOption(1);
  m.SetStartTimeOption(4);
  m.SetStopTimeOption(3);
  m.SetStartTimeRelative(2.5);
  m.SetStartTimeToday(0.8125);
  m.SetStopTimeAbsolute(Civil(2003, 1, 2, 6, 5, 4));
  m.SetStopTimeSunsetRelative(-1.25);
  m.SetImageIntervalOption(1);
  m.SetImagesPerHour(120);
  m.SetDuplicateCount(7);
  m.SetTimeStampOption(1);
  m.SetOutputAVIPath("/out/movie.avi");
  m.SetMovieSizeOption(1);
  m.SetMovieSizeWidth(640);
  m.SetMovieSizeHeight(480);
  m.SetMovieFPS(25);
  m.SetPostGenerationShell("cp <outpath> /www");
  m.SetTimeStampOption(2);
  m.SetIncludeSubfolders(true);
  m.SetStampText("%Y-%m-%d %H:%M <outfile>");
  m.SetStampPosition(1);
  m.SetStampSize(7.5);
  m.SetDeflickerFrames(15);
  m.SetDayHoursOption(1);
  m.SetDailyTimes("09:00,12:00");
  const struct { const char* setting; double value; const char* box; const char* text; } long_term[] = {
      {"DayHoursStart", 0.3125, "txtDayHoursStart", "07:30:00 AM"},
      {"DayHoursStop", 17.0 / 24, "txtDayHoursStop", "05:00:00 PM"},
      {"DayHoursSunriseRelative", -0.5, "txtDayHoursSunriseRelative", "-0.5"},
      {"DayHoursSunsetRelative", 1, "txtDayHoursSunsetRelative", "1"},
      {"DailyToleranceMinutes", 15, "txtDailyToleranceMinutes", "15"},
      {"SkipDarkBelow", 40, "txtSkipDarkBelow", "40"},
      {"SkipBrightAbove", 250, "txtSkipBrightAbove", "250"},
      {"MovieSeconds", 30, "txtMovieSeconds", "30"},
      {"StartTimeTodayDays", -1, "txtStartTimeTodayDays", "-1"},
      {"StopTimeTodayDays", 1, "txtStopTimeTodayDays", "1"},
      {"Latitude", 52.5, "txtLatitude", "52.5"},
      {"Longitude", -1.25, "txtLongitude", "-1.25"},
  };
  for (const auto& row : long_term) FindSetting(row.setting).set_number(m, row.value);
  app->state.SetupChanged = false;
  window->UpdateSetupControls();

  const struct { const char* box; const char* text; } texts[] = {
      {"txtImageDirectory", "/cam/garden"},        {"txtImageFilter", "*.jpeg"},
      {"txtDeleteOlderImagesHours", "36.5"},       {"txtStartTimeRelative", "2.5"},
      {"txtStartTimeToday", "07:30:00 PM"},        {"txtStopTimeAbsolute", "01/02/2003 06:05:04 AM"},
      {"txtStopTimeSunsetRelative", "-1.25"},      {"txtImageInterval", "120"},
      {"txtDuplicateCount", "7"},                  {"txtOutputPath", "/out/movie.avi"},
      {"txtMovieWidth", "640"},                    {"txtMovieHeight", "480"},
      {"txtPostGenerationShell", "cp <outpath> /www"},
      {"txtStampText", "%Y-%m-%d %H:%M <outfile>"}, {"txtStampSize", "7.5"},
      {"txtDeflickerFrames", "15"},                {"txtDailyTimes", "09:00,12:00"},
  };
  for (const auto& t : texts) EXPECT_EQ(Find<QLineEdit>(t.box)->text().toStdString(), t.text) << t.box;
  for (const auto& t : long_term) EXPECT_EQ(Find<QLineEdit>(t.box)->text().toStdString(), t.text) << t.box;
  for (const char* option : {"optUseTimeFilter_1", "optStartTime_4", "optStopTime_3", "optImageInterval_1",
                             "optTimeStamp_2", "optMovieSize_1", "optDayHours_1"}) {
    EXPECT_TRUE(Find<QRadioButton>(option)->isChecked()) << option;
  }
  EXPECT_TRUE(Find<QCheckBox>("chkDeleteOlderImages")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("chkMovieDirection")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("chkIncludeSubfolders")->isChecked());
  EXPECT_EQ(Find<QComboBox>("cboStampPosition")->currentText(), "Top right");
  EXPECT_EQ(Find<QComboBox>("cmbFPS")->currentText(), "25");
  EXPECT_EQ(Find<QComboBox>("cmbFPS")->count(), 14);
  // Filling the boxes must not run their handlers: the options stay as stored.
  EXPECT_EQ(m.StartTimeOption(), 4);
  EXPECT_EQ(m.StopTimeOption(), 3);
  EXPECT_EQ(m.TimeStampOption(), 2);
  EXPECT_EQ(m.DayHoursOption(), 1);
  EXPECT_FALSE(app->state.SetupChanged);

  // And back: every new control follows the settings the other way too.
  m.SetTimeStampOption(0);
  m.SetIncludeSubfolders(false);
  m.SetStampText("");
  m.SetStampPosition(2);
  m.SetMovieFPS(50);
  m.SetDayHoursOption(2);
  m.SetLatitude(kNoNumber);  // the profile's location: nothing to show
  window->UpdateSetupControls();
  EXPECT_TRUE(Find<QRadioButton>("optDayHours_2")->isChecked());
  EXPECT_TRUE(Find<QLineEdit>("txtLatitude")->text().isEmpty());
  EXPECT_TRUE(Find<QRadioButton>("optTimeStamp_0")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("chkIncludeSubfolders")->isChecked());
  EXPECT_TRUE(Find<QLineEdit>("txtStampText")->text().isEmpty());
  EXPECT_EQ(Find<QComboBox>("cboStampPosition")->currentText(), "Bottom left");
  EXPECT_EQ(Find<QComboBox>("cmbFPS")->currentText(), "50");
}

TEST_F(MainWindowTest, FrameRateOutsideTheListShows24AndKeepsItsValue) {
  for (const int fps : {7, 48, 59}) {
    app->movie.SetMovieFPS(fps);
    window->UpdateSetupControls();
    EXPECT_EQ(Find<QComboBox>("cmbFPS")->currentText(), "24");
    EXPECT_EQ(app->movie.MovieFPS(), fps);
  }
}

// ---- marked boxes ----

// A text typed into a box, whether the box is then marked, and (where given) what its
// tooltip then says it takes.
struct MarkCase {
  const char *box, *text;
  bool marked;
  const char* tip = nullptr;
  bool stays = false;  // the setting holds the text's value as it is: still marked when shown again
};

const MarkCase kMarkCases[] = {
    {"txtImageInterval", "abc", true, "Takes a number of images from 1 to 36000, e.g. 60."},
    {"txtImageInterval", "7.5", false},
    {"txtDuplicateCount", "2.5", true, "Takes a whole number from 1 to 100000, e.g. 2."},
    {"txtMovieWidth", "-10", true, "Takes a whole number of pixels from 1 to 7680, e.g. 640."},
    {"txtMovieHeight", "4321", true},
    {"txtDeleteOlderImagesHours", "48h", true, "Takes a number of hours, 0 or more, e.g. 72.", true},
    {"txtDeleteOlderImagesHours", "-1", true, nullptr, true},
    {"txtStartTimeRelative", "lots", true, "Takes a number of hours, e.g. 24.0."},
    {"txtStopTimeSunsetRelative", "24.5", true, "Takes a number of hours from -24 to 24, e.g. 1.5."},
    {"txtStartTimeToday", "1/2/2003 7:00", true, "Takes a time like 6:00:00 AM."},
    {"txtStopTimeToday", "7:30 PM", false},
    {"txtStartTimeAbsolute", "next tuesday", true, "Takes a date like 12/31/2002 11:22:33 PM."},
    {"txtDeflickerFrames", "1", true, "Takes 0 (off) or a whole number of frames from 2 to 129, e.g. 10."},
    {"txtDeflickerFrames", "0", false},
    {"txtDayHoursStart", "noon", true, "Takes a time like 7:00:00 AM."},
    {"txtDayHoursStop", "five", true},
    {"txtDayHoursSunriseRelative", "13", true, "Takes a number of hours from -12 to 12, e.g. -0.5."},
    {"txtDayHoursSunsetRelative", "-12.5", true},
    {"txtDailyTimes", "9am", true, "Takes clock times like 12:00 or 09:00,12:00,15:00.", true},
    {"txtDailyTimes", "09:00, 12:00", false},
    {"txtDailyToleranceMinutes", "721", true},
    {"txtSkipDarkBelow", "-1", true, "Takes a whole number from 0 to 255, e.g. 40."},
    {"txtSkipBrightAbove", "99.5", true},
    {"txtMovieSeconds", "half a minute", true, "Takes a number of seconds from 0 to 86400, e.g. 30."},
    {"txtStartTimeTodayDays", "-1.5", true, "Takes a whole number of days from -36500 to 36500, e.g. -1."},
    {"txtStopTimeTodayDays", "x", true},
    {"txtLatitude", "91", true,
     "Takes nothing (the profile's location) or a number of degrees from -90 to 90, e.g. 52.5."},
    {"txtLatitude", "", false},
    {"txtLongitude", "east", true},
};

TEST_F(MainWindowTest, BoxThatHoldsNoValidValueIsMarkedAsTheUserTypes) {
  Find<QRadioButton>("optUseTimeFilter_1")->click();
  Find<QRadioButton>("optImageInterval_1")->click();
  for (const MarkCase& c : kMarkCases) {
    SCOPED_TRACE(std::string(c.box) + " <- " + c.text);
    QLineEdit* box = Find<QLineEdit>(c.box);
    Type(c.box, c.text);
    EXPECT_EQ(field_checks::IsMarked(box), c.marked);
    EXPECT_EQ(box->styleSheet().contains("border"), c.marked);
    if (c.tip != nullptr) {
      EXPECT_EQ(box->toolTip().toStdString(), c.tip);
    }
    // Filling the controls again shows the value in use: a valid one loses the mark and its tooltip.
    window->UpdateSetupControls();
    EXPECT_EQ(field_checks::IsMarked(box), c.stays) << box->text().toStdString();
    EXPECT_EQ(box->toolTip().startsWith("Takes"), c.stays);
  }
}

TEST_F(MainWindowTest, MakeMovieWithAMarkedBoxAsksAndRunsOnlyOnYes) {
  std::filesystem::create_directory(dir.File("stills"));
  for (const char* name : {"a.jpg", "b.jpg"}) WriteFlatJpeg(dir.File("stills/") + name, 64, 48, 0x4080c0);
  const std::string movie = dir.File("movie.avi");
  // A box, its text, the line the question shows for it (nullptr: no question) and the answer.
  const struct { const char* box; const char* text; const char* line; MessageAnswer answer; } cases[] = {
      {"txtImageInterval", "abc", "Images per hour: \"abc\" would be 1", MessageAnswer::No},
      {"txtStampSize", "51", "Date stamp height (%): \"51\" would be 50", MessageAnswer::Yes},
      {"txtMovieWidth", "abc", nullptr, MessageAnswer::No},  // then "Based on first image": not used
      {"txtLatitude", "north", "Latitude: \"north\" would be the profile's location", MessageAnswer::No},
      {"txtDailyTimes", "9am, 12:00", "Stills at: \"9am, 12:00\" would be 12:00", MessageAnswer::No},
      {"txtDailyToleranceMinutes", "abc", nullptr, MessageAnswer::No},  // no daily times: not used
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    Recreate();
    Type("txtImageDirectory", QString::fromStdString(dir.File("stills")));
    Type("txtOutputPath", QString::fromStdString(movie));
    std::filesystem::remove(movie);
    Type(c.box, c.text);
    if (c.line == nullptr) Find<QRadioButton>("optMovieSize_0")->click();
    messages.clear();
    answers = {c.answer};
    Find<QPushButton>("cmdMakeMovie")->click();
    ASSERT_EQ(messages.size(), c.line != nullptr ? 1u : 0u);
    EXPECT_TRUE(c.line == nullptr || messages[0].text.find(c.line) != std::string::npos) << messages[0].text;
    EXPECT_EQ(std::filesystem::exists(movie), c.answer == MessageAnswer::Yes || c.line == nullptr);
  }
}

// ---- enabled states ----

TEST_F(MainWindowTest, TimeFilterOptionEnablesTheWholeStartAndStopArea) {
  const char* area[] = {"lblTimeFilterStart", "lblTimeFilterStop", "frmTimeFilterStart", "frmTimeFilterStop",
                        "optStartTime_0",     "optStopTime_5",     "txtStartTimeAbsolute", "txtStopTimeToday",
                        "lblStartTime1",      "lblStopTime5"};
  for (const int option : {1, 0, 1}) {
    Find<QRadioButton>(QString("optUseTimeFilter_%1").arg(option))->click();
    EXPECT_EQ(app->movie.TimeOption(), option);
    for (const char* name : area) EXPECT_EQ(Find<QWidget>(name)->isEnabled(), option == 1) << name;
  }
  // Settings whose option equals the selected one still set the states.
  Find<QRadioButton>("optUseTimeFilter_1")->click();
  Find<QWidget>("txtStartTimeAbsolute")->setEnabled(false);
  window->UpdateSetupControls();
  EXPECT_TRUE(Find<QWidget>("txtStartTimeAbsolute")->isEnabled());
}

TEST_F(MainWindowTest, ImageIntervalEnablesOnlyTheRepeatCount) {
  for (const int option : {1, 0}) {
    Find<QRadioButton>(QString("optImageInterval_%1").arg(option))->click();
    EXPECT_EQ(Find<QWidget>("txtDuplicateCount")->isEnabled(), option == 1);
    EXPECT_EQ(Find<QWidget>("lblDuplicateCount")->isEnabled(), option == 1);
  }
  Type("txtImageInterval", "30");
  EXPECT_TRUE(Find<QWidget>("txtDuplicateCount")->isEnabled());
  Find<QCheckBox>("chkDeleteOlderImages")->setChecked(false);
  Find<QRadioButton>("optMovieSize_0")->click();
  EXPECT_TRUE(Find<QWidget>("txtDeleteOlderImagesHours")->isEnabled());
  EXPECT_TRUE(Find<QWidget>("txtMovieWidth")->isEnabled());
}

// ---- browse commands ----

TEST_F(MainWindowTest, BrowseForStillsTakesTheFolderAndKeepsTheWorkingDirectory) {
  const auto before = std::filesystem::current_path();
  std::filesystem::create_directory(dir.File("stills"));
  const struct { std::optional<std::string> chosen; std::string expected; } cases[] = {
      {dir.File("stills"), dir.File("stills")},                   // a folder as it is
      {dir.File("other/IMG_0001.JPG"), dir.File("other")},         // a file stands for its folder
      {std::nullopt, dir.File("other")},                          // cancelled: unchanged
      {dir.File("OTHER/x.jpg"), dir.File("other")},                // same folder apart from case
  };
  for (const auto& c : cases) {
    choices.push_back(c.chosen);
    Find<QPushButton>("cmdBrowseImageDirectory")->click();
    EXPECT_EQ(Find<QLineEdit>("txtImageDirectory")->text().toStdString(), c.expected);
    EXPECT_EQ(app->movie.StillDirectory(), c.expected);
    EXPECT_EQ(std::filesystem::current_path(), before);
  }
  EXPECT_EQ(asked.back().title, "Still Image Directory Selection");
}

TEST_F(MainWindowTest, BrowseForOutputWritesTheChosenPath) {
  choices.push_back(std::nullopt);
  Find<QPushButton>("cmdBrowseOutputPath")->click();
  EXPECT_EQ(app->movie.OutputAVIPath(), Find<QLineEdit>("txtOutputPath")->text().toStdString());
  choices.push_back(dir.File("out.avi"));
  Find<QPushButton>("cmdBrowseOutputPath")->click();
  EXPECT_EQ(app->movie.OutputAVIPath(), dir.File("out.avi"));
  EXPECT_EQ(asked.back().title, "Output AVI File Selection");
  EXPECT_EQ(asked.back().default_suffix, "avi");
  for (const char* ending : {"*.avi", "*.mp4", "*.m4v", "*.mov", "*.mkv", "*.webm"}) {
    EXPECT_NE(asked.back().filter.find(ending), std::string::npos) << ending;
  }
}

// ---- document commands ----

TEST_F(MainWindowTest, OpenWithCancelOrEmptyNameChangesNothing) {
  choices = {std::nullopt, std::string()};
  Action("mnuOpen")->trigger();
  EXPECT_TRUE(messages.empty());
  Action("mnuOpen")->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "No file selected");
  EXPECT_EQ(messages[0].text, "No file was selected.  Aborting process.");
  EXPECT_TRUE(app->state.CurrentFile.empty());
  EXPECT_EQ(window->windowTitle(), "Chronoreel[*]");
  EXPECT_FALSE(Action("mnuSave")->isEnabled());
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].title, "Open/Create Setup File");
  EXPECT_EQ(asked[0].filter, "Time-Lapse Setup Files (*.tls)");
  EXPECT_EQ(asked[0].default_suffix, "tls");
}

TEST_F(MainWindowTest, OpenLoadsTheFileIntoTheWindow) {
  const std::string path = WriteSetup("garden.tls");
  choices.push_back(path);
  Action("mnuOpen")->trigger();
  EXPECT_EQ(app->state.CurrentFile, path);
  EXPECT_EQ(window->windowTitle().toStdString(), "Chronoreel - " + path + "[*]");
  EXPECT_EQ(Find<QLineEdit>("txtImageDirectory")->text().toStdString(), "/cam/garden.tls");
  EXPECT_TRUE(Action("mnuSave")->isEnabled());
  EXPECT_TRUE(Action("mnuFiles_0")->isVisible());
  EXPECT_EQ(Action("mnuFiles_0")->text().toStdString(), path);
  EXPECT_FALSE(Action("mnuFiles_1")->isVisible());
  EXPECT_TRUE(Action("mnuSepFiles")->isVisible());
  EXPECT_FALSE(app->state.SetupChanged);
  const QString saved = window->windowHandle()->title();  // as the window system shows it
  Type("txtImageFilter", "*.png");
  EXPECT_EQ(window->windowHandle()->title(), saved + "*");  // unsaved edits, until the save
  Action("mnuSave")->trigger();
  EXPECT_EQ(window->windowHandle()->title(), saved);
}

TEST_F(MainWindowTest, NewOnAnExistingFileShowsFileExists) {
  const std::string path = WriteSetup("exists.tls");
  choices.push_back(path);
  Action("mnuNewSetup")->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "File Exists");
  EXPECT_EQ(messages[0].text, "File already exists.  Select 'Open Setup' to open an existing file.");
  EXPECT_TRUE(app->state.CurrentFile.empty());
  EXPECT_EQ(asked.at(0).title, "New Setup File");
  EXPECT_EQ(asked.at(0).accept_label, "Create");
}

TEST_F(MainWindowTest, SaveAsOverAnExistingFileAsksFirst) {
  const std::string path = WriteSetup("target.tls");
  const auto original = std::filesystem::file_size(path);
  for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Cancel, MessageAnswer::Yes}) {
    messages.clear();
    choices.push_back(path);
    answers.push_back(answer);
    Action("mnuSaveAs")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "File Exists");
    EXPECT_EQ(messages[0].text, "File already exists.  Would you like to overwrite the existing file?");
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Yes) {
      EXPECT_EQ(app->state.CurrentFile, path);
      EXPECT_GT(std::filesystem::file_size(path), original);
    } else {
      EXPECT_TRUE(app->state.CurrentFile.empty());
      EXPECT_EQ(std::filesystem::file_size(path), original);
    }
  }
  EXPECT_EQ(asked.back().kind, FileChoice::Kind::Save);
}

TEST_F(MainWindowTest, SavePromptAnswersDecideTheCommand) {
  const std::string path = WriteSetup("next.tls");
  struct Case {
    MessageAnswer answer;
    bool dialog_shown;
    bool changed_after;
  };
  const Case cases[] = {
      {MessageAnswer::Cancel, false, true},  // abandoned before the dialog
      {MessageAnswer::No, true, false},      // edits kept, no longer "changed"
  };
  for (const Case& c : cases) {
    messages.clear();
    asked.clear();
    Type("txtImageFilter", "*.png");
    ASSERT_TRUE(app->state.SetupChanged);
    answers.push_back(c.answer);
    choices.push_back(std::nullopt);  // then the dialog is cancelled
    Action("mnuOpen")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Save Changes?");
    EXPECT_EQ(messages[0].text, "Would you like to save the current file?");
    EXPECT_EQ(asked.empty(), !c.dialog_shown);
    EXPECT_EQ(app->state.SetupChanged, c.changed_after);
    EXPECT_EQ(app->movie.ImageFilter(), "*.png");
    choices.clear();
  }
  (void)path;
}

TEST_F(MainWindowTest, RecentFilesKeepMostRecentFirst) {
  std::vector<std::string> files;
  for (const char* name : {"a.tls", "b.tls", "c.tls", "d.tls", "e.tls"}) files.push_back(WriteSetup(name));
  for (int i = 0; i < 4; ++i) {
    choices.push_back(files[i]);
    Action("mnuOpen")->trigger();
  }
  auto captions = [this] {
    std::vector<std::string> out;
    for (int i = 0; i < 4; ++i) {
      QAction* a = Action(QString("mnuFiles_%1").arg(i));
      out.push_back(a->isVisible() ? a->text().toStdString() : "");
    }
    return out;
  };
  EXPECT_EQ(captions(), (std::vector<std::string>{files[3], files[2], files[1], files[0]}));
  Action("mnuFiles_2")->trigger();  // b moves up, the rest keep their order
  EXPECT_EQ(app->state.CurrentFile, files[1]);
  EXPECT_EQ(captions(), (std::vector<std::string>{files[1], files[3], files[2], files[0]}));
  Action("mnuFiles_0")->trigger();  // the open file: nothing happens
  EXPECT_EQ(captions(), (std::vector<std::string>{files[1], files[3], files[2], files[0]}));
  choices.push_back(files[4]);
  Action("mnuOpen")->trigger();  // a fifth file drops the oldest
  EXPECT_EQ(captions(), (std::vector<std::string>{files[4], files[1], files[3], files[2]}));
  EXPECT_TRUE(messages.empty());
  std::filesystem::remove(files[3]);
  Action("mnuFiles_2")->trigger();  // gone: reported and taken off, not made anew
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "The setup file " + files[3] + " no longer exists. It was taken off the list.");
  EXPECT_FALSE(std::filesystem::exists(files[3]));
  EXPECT_EQ(captions(), (std::vector<std::string>{files[4], files[1], files[2], ""}));
}

// ---- close guard, location, compression ----

TEST_F(MainWindowTest, CloseGuardKeepsTheWindowOnCancel) {
  Type("txtImageFilter", "*.bmp");
  answers.push_back(MessageAnswer::Cancel);
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app->movie.ImageFilter(), "*.bmp");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Save Changes?");

  answers.push_back(MessageAnswer::No);
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(std::filesystem::exists(dir.File("Chronoreel.INI")));
}

TEST_F(MainWindowTest, QuitClosesThroughTheGuard) {
  Find<QPushButton>("cmdQuit")->click();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, LocationDialogDisablesTheMainWindowWhileOpen) {
  bool main_enabled_while_open = true;
  bool seen = false;
  app->state.location = {40.12, -75.5};
  QTimer::singleShot(0, [&] {
    QWidget* dialog = VisibleTopLevel("frmLocation");
    ASSERT_NE(dialog, nullptr);
    seen = true;
    main_enabled_while_open = window->isEnabled();
    QTest::keyClicks(Child<QLineEdit>(dialog, "txtLatitudeDegrees"), "1");  // 401 degrees and 7.2'
    Child<QPushButton>(dialog, "cmdExit")->click();
  });
  Action("mnuLocation")->trigger();
  EXPECT_TRUE(seen);
  EXPECT_FALSE(main_enabled_while_open);
  EXPECT_TRUE(window->isEnabled());
  EXPECT_NEAR(app->state.location.latitude, 401.12, 1e-9);
}

TEST_F(MainWindowTest, DialogsOpenCentredOnTheMainWindowAboveItAndEscCloses) {
  window->setGeometry(120, 60, 560, 420);
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"dlgCompression", [this] { Find<QPushButton>("cmdShowCompressionOptions")->click(); }},
      {"frmLocation", [this] { Action("mnuLocation")->trigger(); }},
      {"frmAbout", [this] { Action("mnuAbout")->trigger(); }},  // modeless, and Esc leaves it open
      {"file", [this] { QtHost::QtFileDialog(FileChoice(), window.get()); }},
  };
  for (const auto& [name, open] : cases) {
    QPoint seen;
    bool above = false, escaped = false;
    QTimer::singleShot(0, [&, name = name] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) dialog = VisibleTopLevel(name);
      ASSERT_NE(dialog, nullptr);
      seen = dialog->frameGeometry().center();
      above = dialog->windowHandle()->transientParent() == window->windowHandle();
      dialog->activateWindow();
      EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
      QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
      escaped = !dialog->isVisible();
      dialog->close();
    });
    open();
    QCoreApplication::processEvents();
    EXPECT_LE((seen - window->frameGeometry().center()).manhattanLength(), 4) << name;
    EXPECT_TRUE(above && escaped == (std::string(name) != "frmAbout")) << name;
  }
}

TEST_F(MainWindowTest, CompressionCancelChangesNothingAndOkMarksTheSetup) {
  for (const bool accept : {false, true}) {
    app->state.SetupChanged = false;
    QTimer::singleShot(0, [accept] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      accept ? dialog->accept() : dialog->reject();
    });
    Find<QPushButton>("cmdShowCompressionOptions")->click();
    EXPECT_EQ(app->state.SetupChanged, accept);
    EXPECT_EQ(window->isWindowModified(), accept);
    EXPECT_EQ(app->movie.CompressHandler(), kFourccDib);
  }
}

TEST_F(MainWindowTest, CompressionListsOnlyTheEncodersTheOutputContainerHolds) {
  const struct {
    const char* path;
    bool offers_uncompressed;
  } cases[] = {
      {"/out/movie.avi", true}, {"/out/movie", true},  {"/out/movie.mp4", false},
      {"/out/Movie.M4V", false}, {"/out/movie.webm", false}, {"/out/v1.mp4/movie", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Type("txtOutputPath", c.path);
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      auto* list = Child<QComboBox>(dialog, "cmbCompressor");
      for (int i = 0; i < list->count(); ++i)
        if (list->itemData(i).isValid()) shown << list->itemText(i);  // not the "More encoders" rows
      dialog->reject();
    });
    Find<QPushButton>("cmdShowCompressionOptions")->click();
    const std::vector<EncoderInfo> expected = EncodersForOutput(c.path);
    ASSERT_EQ(shown.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(shown[static_cast<qsizetype>(i)].startsWith(QString::fromStdString(expected[i].fourcc_text)));
    }
    EXPECT_EQ(std::any_of(shown.begin(), shown.end(), [](const QString& s) { return s.startsWith("DIB "); }),
              c.offers_uncompressed);
  }
}

// ---- the dry run in a window ----

// A setup over twelve stills taken hourly from 00:00 on 7 December 2006, with the run at
// 12:00, and what "Preview Selection" shows for it. An early end shows `frames` in lblEnd; a
// first hour of -1 means no frame list; deletions -1: the clean-up is off.
struct PreviewCase {
  const char* name;
  std::function<void(MovieGen&, const TempDir&)> setup;
  std::string frames;
  const char* length;
  int first_hour, last_hour, rows;
  int deletions;
  std::string command;
};

TEST_F(MainWindowTest, PreviewSelectionShowsWhatARunWouldDo) {
  std::filesystem::create_directory(dir.File("stills"));
  auto still = [this](int hour) {
    return dir.File("stills/061207" + std::string(hour < 10 ? "0" : "") + std::to_string(hour) +
                    "000000.jpg");
  };
  for (int h = 0; h < 12; ++h) WriteFlatJpeg(still(h), 16, 16, 0x808080);
  const std::string out = dir.File("cam.avi");
  const PreviewCase cases[] = {
      {"every still", [](MovieGen&, const TempDir&) {}, "Frames: 12, into " + out,
       "Movie length: 0.50 s at 24 fps", 0, 11, 12, -1, "Command afterwards: none"},
      {"repeats, clean-up and command",
       [](MovieGen& m, const TempDir&) {
         m.SetImageIntervalOption(1);
         m.SetImagesPerHour(4);
         m.SetDuplicateCount(2);
         m.SetMovieFPS(4);
         m.SetDeleteOldImages(true);
         m.SetDeleteOldImagesHours(6.5);
         m.SetPostGenerationShell("echo <outfile>");
       },
       "Frames: 24 from 12 stills, into " + out, "Movie length: 6.00 s at 4 fps", 0, 11, 24, 6,
       "Command afterwards: echo cam.avi"},
      {"backwards", [](MovieGen& m, const TempDir&) { m.SetMovieDirection(-1); }, "Frames: 12, into " + out,
       "Movie length: 0.50 s at 24 fps", 11, 0, 12, -1, "Command afterwards: none"},
      {"no folder",
       [](MovieGen& m, const TempDir& d) {
         m.SetStillDirectory(d.File("gone"));
         m.SetDeleteOldImages(true);
         m.SetPostGenerationShell("echo <outfile>");
       },
       "No Files Found: nothing in \"" + dir.File("gone") + "\" matches \"*.jpg\"", "", -1, -1, 0, 0,
       "Command afterwards: none"},
      {"none in the window",
       [](MovieGen& m, const TempDir&) {
         m.SetTimeOption(1);
         m.SetStartTimeOption(1);
         m.SetStartTimeRelative(0.5);
       },
       "No Files Met Timing Criteria: the window is 2006-12-07 11:30:00 to 2006-12-07 12:00:00", "", -1, -1,
       0, -1, "Command afterwards: none"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const PreviewCase& c = cases[i];
    SCOPED_TRACE(c.name);
    Recreate();
    MovieGen& m = app->movie;
    m.SetClock([] { return Civil(2006, 12, 7, 12, 0, 0); });
    m.SetStillDirectory(dir.File("stills"));
    m.SetTimeStampOption(1);
    m.SetOutputAVIPath(out);
    c.setup(m, dir);
    window->UpdateSetupControls();
    // The button and the menu entry alike.
    i % 2 == 0 ? Find<QPushButton>("cmdPreviewSelection")->click() : Action("mnuPreviewSelection")->trigger();
    QPointer<QDialog> preview = window->findChild<QDialog*>("frmSelectionPreview");
    ASSERT_TRUE(preview && preview->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    auto text = [&](const char* name) {
      auto* label = preview->findChild<QLabel*>(name);
      return label != nullptr ? label->text().toStdString() : std::string("(none)");
    };
    auto rows = [&](const char* name) {
      auto* list = preview->findChild<QAbstractItemView*>(name);
      return list != nullptr ? list->model()->rowCount() : 0;
    };
    auto stamp = [&](int h) {
      return "2006-12-07 " + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00:00  " + still(h);
    };
    if (c.first_hour >= 0) {
      EXPECT_EQ(text("lblFrames"), c.frames);
      EXPECT_EQ(text("lblMovieLength"), c.length);
      EXPECT_EQ(text("lblFirstFrame"), "First frame: " + stamp(c.first_hour));
      EXPECT_EQ(text("lblLastFrame"), "Last frame: " + stamp(c.last_hour));
      EXPECT_EQ(text("lblDirection") != "(none)", c.first_hour > c.last_hour);
    } else {
      EXPECT_EQ(text("lblEnd").rfind(c.frames, 0), 0u) << text("lblEnd");
      EXPECT_EQ(text("lblFrames"), "(none)");
    }
    EXPECT_EQ(rows("lstFrames"), c.rows);
    if (c.rows > 0) {
      auto* list = preview->findChild<QAbstractItemView*>("lstFrames");
      EXPECT_TRUE(
          list->model()->index(0, 0).data().toString().endsWith(QString::fromStdString(stamp(c.first_hour))));
    }
    EXPECT_EQ(text("lblWouldDelete"),
              c.deletions < 0 ? "(none)" : "Stills that would be deleted: " + std::to_string(c.deletions));
    EXPECT_EQ(rows("lstWouldDelete"), std::max(c.deletions, 0));
    EXPECT_EQ(text("lblCommand"), c.command);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("stills")), {}), 12)
        << "a still went";
    EXPECT_FALSE(std::filesystem::exists(out));
    // Esc and the Close button alike.
    i % 2 == 0 ? QTest::keyClick(preview, Qt::Key_Escape) : Child<QPushButton>(preview, "cmdClose")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(preview.isNull());
  }
}

// ---- anything typed ----

// Texts a user may type or paste anywhere: letters in number boxes, dates that are no dates,
// numbers beyond every range, other scripts, and one very long text.
const std::vector<QString>& OddTexts() {
  static const std::vector<QString> texts = {
      "", " ", "abc", "-", ".", ",", "1,5", "1.5.5", "1e999", "-1e999", "99999999999999999999",
      "-2147483649", "&Hffffffff", "(12)", "5-", "nan", "inf", "0x10", "2/30/2024", "13/1/2020",
      "0/0/0", "12/31/2002 25:61:61 PM", "1/1/10000", "24:00", "12:00:00 XM", "\t7\t",
      QString::fromUtf8("\u0661\u0662\u0663"), QString::fromUtf8("\u65e5\u672c"), "%s%n%d", "'\"\\",
      "1/2/2003 6:00:00 AM", "2024-02-29T23:59:58", QString(3000, '9')};
  return texts;
}

bool IsDateBox(const QString& name) {
  return name.endsWith("TimeToday") || name.endsWith("TimeAbsolute") || name == "txtDayHoursStart" ||
         name == "txtDayHoursStop";
}

double DateSetting(const MovieGen& m, const QString& name) {
  if (name == "txtDayHoursStart") return m.DayHoursStart();
  if (name == "txtDayHoursStop") return m.DayHoursStop();
  if (name == "txtStartTimeToday") return m.StartTimeToday();
  if (name == "txtStartTimeAbsolute") return m.StartTimeAbsolute();
  if (name == "txtStopTimeToday") return m.StopTimeToday();
  return m.StopTimeAbsolute();
}

TEST_F(MainWindowTest, AnyTextInAnyBoxIsSafeAndDatesThatAreNoDatesKeepTheirValue) {
  Find<QRadioButton>("optUseTimeFilter_1")->click();
  Find<QRadioButton>("optImageInterval_1")->click();
  const QList<QLineEdit*> boxes = window->findChildren<QLineEdit*>();
  ASSERT_EQ(boxes.size(), 35);  // every text box of the window
  for (QLineEdit* box : boxes) {
    const QString name = box->objectName();
    ASSERT_TRUE(box->isEnabled()) << name.toStdString();
    for (const QString& text : OddTexts()) {
      SCOPED_TRACE(name.toStdString() + " <- " + text.left(40).toStdString());
      window->UpdateSetupControls();  // whatever the last text stored can be shown
      const double before = IsDateBox(name) ? DateSetting(app->movie, name) : 0;
      box->clear();
      const bool keys = text.size() <= 100 &&
                        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= ' ' && c <= '~'; });
      if (!keys) {
        box->setText(text);  // pasted: no key types a tab or another script here
      } else {
        QTest::keyClicks(box, text);
      }
      ASSERT_EQ(box->text(), text.left(box->maxLength()));
      if (IsDateBox(name)) {
        auto date = ParseDateText(text.toStdString());
        // "Today at" takes a time of day only: a day in it is no time.
        if (!name.endsWith("Absolute") && date && (*date < 0 || *date >= 1)) date.reset();
        // Neither a date spelled by the first part of the text nor any other.
        EXPECT_DOUBLE_EQ(DateSetting(app->movie, name), date ? *date : before);
      }
    }
  }
}

TEST_F(MainWindowTest, DateNeverSetShowsItsFormAndItsOptionStartsItToday) {
  const struct { const char* box; const char* option; const char* form; } cases[] = {
      {"txtStartTimeAbsolute", "optStartTime_3", "MM/DD/YYYY HH:MM:SS AM/PM"},
      {"txtStopTimeToday", "optStopTime_2", "HH:MM:SS AM/PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    Recreate();
    Find<QRadioButton>("optUseTimeFilter_1")->click();
    QLineEdit* box = Find<QLineEdit>(c.box);
    EXPECT_TRUE(box->text().isEmpty()) << box->text().toStdString();
    EXPECT_EQ(box->placeholderText().toStdString(), c.form);
    app->state.SetupChanged = false;
    Find<QRadioButton>(c.option)->click();
    const double today = QString(c.box).endsWith("Absolute") ? std::floor(Clock()) : 0;
    EXPECT_EQ(box->text().toStdString(), FormatDateTime(today, c.form));
    EXPECT_DOUBLE_EQ(DateSetting(app->movie, c.box), today);
    EXPECT_TRUE(app->state.SetupChanged);
    Type(c.box, "7:30 PM");  // a date that is set stays when its option is chosen again
    Find<QRadioButton>("optStartTime_0")->click();
    Find<QRadioButton>("optStopTime_0")->click();
    Find<QRadioButton>(c.option)->click();
    EXPECT_DOUBLE_EQ(DateSetting(app->movie, c.box), 0.8125);
  }
}

std::vector<double> ShownValues(const MovieGen& m) {
  return {m.DeleteOldImagesHours(),     double(m.DuplicateCount()),  m.ImagesPerHour(),
          double(m.MovieSizeWidth()),   double(m.MovieSizeHeight()), m.StartTimeRelative(),
          m.StartTimeToday(),           m.StartTimeAbsolute(),       m.StartTimeSunriseRelative(),
          m.StartTimeSunsetRelative(),  m.StopTimeRelative(),        m.StopTimeToday(),
          m.StopTimeAbsolute(),         m.StopTimeSunriseRelative(), m.StopTimeSunsetRelative(),
          m.StampSize(),                double(m.DeflickerFrames()), m.DayHoursStart(),
          m.DailyToleranceMinutes(),    m.MovieSeconds(),            m.Latitude()};
}

TEST_F(MainWindowTest, EveryShownValueReadsBackAsTheStoredOne) {
  // Values as a setup file may hold them, shown in the user's locale and taken back in.
  for (const char* locale : {"en_US", "de_DE", "fa_IR", "ar_EG"}) {
    SCOPED_TRACE(locale);
    QLocale::setDefault(QLocale(locale));
    MovieGen& m = app->movie;
    m.SetDeleteOldImagesHours(0.1);
    m.SetStartTimeRelative(1234567.125);
    m.SetStopTimeRelative(-0.001);
    m.SetStartTimeSunriseRelative(1e20);
    m.SetStopTimeSunsetRelative(2.5e-7);
    m.SetImagesPerHour(1.0 / 3);
    m.SetStartTimeAbsolute(Civil(2099, 12, 31, 23, 59, 59));
    m.SetStopTimeToday(0.5);
    m.SetMovieSizeWidth(1284);
    m.SetStampSize(12.25);
    m.SetDeflickerFrames(64);
    m.SetDayHoursStart(0.375);
    m.SetDailyToleranceMinutes(7.5);
    m.SetMovieSeconds(90.125);
    m.SetLatitude(-33.865);
    window->UpdateSetupControls();
    const std::vector<double> stored = ShownValues(m);
    for (QLineEdit* box : window->findChildren<QLineEdit*>()) {
      const QString shown = box->text();
      box->setEnabled(true);
      box->clear();
      box->setText(shown);  // as if pasted back
      EXPECT_EQ(ShownValues(m), stored) << box->objectName().toStdString() << " showed " << shown.toStdString();
    }
  }
  QLocale::setDefault(QLocale::c());
}

// ---- quitting ----

TEST_F(MainWindowTest, EveryWayOfQuittingWithEditsAsksFirst) {
  const struct {
    const char* how;
    std::function<void(MainWindow&)> quit;
  } ways[] = {
      {"cmdQuit", [](MainWindow& w) { Child<QPushButton>(&w, "cmdQuit")->click(); }},
      {"mnuQuit", [](MainWindow& w) { Child<QAction>(&w, "mnuQuit")->trigger(); }},
      {"close box", [](MainWindow& w) { w.close(); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.how);
    messages.clear();
    Type("txtImageFilter", "*.gif");
    answers.push_back(MessageAnswer::Cancel);
    way.quit(*window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Save Changes?");
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(app->state.SetupChanged);
  }
  // Without edits nothing is asked.
  messages.clear();
  app->state.SetupChanged = false;
  Child<QAction>(window.get(), "mnuQuit")->trigger();
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, SetupThatCannotBeSavedTellsTheUserAndKeepsTheEdits) {
  // A setup file whose folder is gone.
  const std::string path = WriteSetup("lost.tls");
  choices.push_back(path);
  Action("mnuOpen")->trigger();
  std::filesystem::remove_all(dir.Path());
  Type("txtImageFilter", "*.tif");
  const std::string title = window->windowTitle().toStdString();

  struct Attempt {
    const char* how;
    std::function<void()> run;
  };
  const Attempt attempts[] = {
      {"mnuSave", [this] { Action("mnuSave")->trigger(); }},
      {"Yes when quitting", [this] {
         answers.push_back(MessageAnswer::Yes);
         window->close();
       }},
      {"Yes before opening another", [this] {
         answers.push_back(MessageAnswer::Yes);
         Action("mnuOpen")->trigger();
       }},
  };
  for (const Attempt& attempt : attempts) {
    SCOPED_TRACE(attempt.how);
    messages.clear();
    asked.clear();
    attempt.run();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text.rfind("The setup file could not be saved:", 0), 0u) << messages.back().text;
    EXPECT_TRUE(app->state.SetupChanged);
    EXPECT_EQ(app->movie.ImageFilter(), "*.tif");
    EXPECT_EQ(app->state.CurrentFile, path);
    EXPECT_EQ(window->windowTitle().toStdString(), title);
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(asked.empty());  // no other file was offered in its place
  }
  std::filesystem::create_directories(dir.Path());  // for the fixture's own clean-up
}

// ---- the manual ----

// Stands in for the desktop's browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(MainWindowTest, FitsASmallScreenAndScrollsToEveryGroup) {
  const QSize smallest = window->minimumSizeHint();
  EXPECT_TRUE(smallest.width() <= 1366 && smallest.height() <= 768 - 48)  // a panel takes some height
      << smallest.width() << "x" << smallest.height();
  const QSize screen = window->screen()->availableGeometry().size();
  EXPECT_EQ(screen.expandedTo(window->size()), screen);  // opens within the screen
  window->resize(smallest.expandedTo({500, 300}));
  QCoreApplication::processEvents();
  for (const char* name : {"lblInput", "fraTimeFilter", "lblOutput", "fraDateStamp", "fraMovieSize",
                           "fraTimeStamps", "fraImageInterval", "frmLongTerm"}) {
    Find<QScrollArea>("scrGroups")->ensureWidgetVisible(Find<QWidget>(name), 0, 0);
    EXPECT_FALSE(Find<QWidget>(name)->visibleRegion().isEmpty()) << name;
  }
  EXPECT_FALSE(Find<QPushButton>("cmdMakeMovie")->visibleRegion().isEmpty());  // the commands stay in sight
}

TEST_F(MainWindowTest, CommandsHaveTheUsualKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"mnuNewSetup", "Ctrl+N"}, {"mnuOpen", "Ctrl+O"},       {"mnuSave", "Ctrl+S"},
      {"mnuSaveAs", "Ctrl+Shift+S"}, {"mnuQuit", "Ctrl+Q"}, {"mnuOnlineHelp", "F1"},
      {"mnuMakeMovie", "Ctrl+M"},
  };
  for (const auto& [action, keys] : cases) {
    EXPECT_TRUE(Action(action)->shortcuts().contains(QKeySequence(keys))) << action;
  }
}

TEST_F(MainWindowTest, WebEntriesOpenTheManualThatShipsWithTheProgram) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("file", &recorder, "Open");
  for (const char* entry : {"mnuOnlineHelp", "mnuOnlineUpdates", "mnuWebPage"}) Action(entry)->trigger();
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(recorder.opened.size(), 3u);
  EXPECT_EQ(recorder.opened[0], recorder.opened[1]);
  EXPECT_EQ(recorder.opened[0], recorder.opened[2]);
  const std::string path = recorder.opened[0].toLocalFile().toStdString();
  EXPECT_EQ(std::filesystem::path(path).filename(), "manual.html");
  std::ifstream in(path);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(html.find("<html"), std::string::npos);
  EXPECT_NE(html.find("Unattended runs"), std::string::npos);
  EXPECT_TRUE(messages.empty());
}

// ---- runs from the window: the notice at their end, the question before deleting ----

class RunFromWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Configure();
  }
  void Configure() {
    std::filesystem::create_directory(dir.File("stills"));
    app->state.cmd.ShowProgress = false;  // no held statuses: the notice is what is looked at
    for (const auto& [name, text] : {std::pair{"StillDirectory", dir.File("stills")}, {"ImageFilter", "*.jpg"s},
                                     {"MovieFPS", "4"s}, {"OutputAVIPath", dir.File("movie.avi")}}) {
      FindSetting(name).load(app->movie, text);
    }
  }
  void AddStills(int first, int count, int hours_ago) {
    for (int i = first; i < first + count; ++i) {
      const std::string path = WriteFlatJpeg(dir.File("stills/s" + std::to_string(i) + ".jpg"), 64, 48, 0x4080c0);
      std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(hours_ago));
    }
  }
  size_t StillsLeft() { return std::distance(std::filesystem::directory_iterator(dir.File("stills")), {}); }
  RunNotice* Notice() { return window->findChild<RunNotice*>("RunNotice"); }
  std::string NoticeText() { return Notice() && Notice()->isVisible() ? Notice()->Text().toStdString() : ""; }
};

TEST_F(RunFromWindowTest, WrittenMovieIsNamedWithItsFramesLengthAndSizeAndOpens) {
  AddStills(0, 4, 1);
  std::ofstream(dir.File("stills/broken.jpg")) << "no picture";
  Find<QPushButton>("cmdMakeMovie")->click();
  const std::string text = NoticeText();
  for (const char* part : {"movie.avi is ready: 4 frames, 1.0 s, 0.", " MB", "1 of 5 stills gave no frame"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  std::vector<QUrl> opened;
  Notice()->SetUrlOpener([&](const QUrl& url) { return opened.push_back(url), true; });
  Child<QPushButton>(Notice(), "cmdNoticeOpen")->click();
  Child<QPushButton>(Notice(), "cmdNoticeShowFolder")->click();
  EXPECT_EQ(opened, (std::vector{QUrl::fromLocalFile(QString::fromStdString(dir.File("movie.avi"))),
                                 QUrl::fromLocalFile(QString::fromStdString(dir.Str()))}));
  Child<QPushButton>(Notice(), "cmdNoticeClose")->click();
  EXPECT_EQ(NoticeText(), "");
  app->state.cmd.AutomatedRun = true;  // an unattended run tells its log only
  window->cmdMakeMovie_Click();
  EXPECT_EQ(NoticeText(), "");
}

TEST_F(RunFromWindowTest, RunThatEndsEarlySaysWhy) {
  const struct {
    std::vector<std::pair<const char*, std::string>> settings;
    MovieGen::RunEnd end;
    std::vector<const char*> told;
  } cases[] = {
      {{{"StillDirectory", dir.File("none")}}, MovieGen::RunEnd::NothingToMake, {"No movie was made.", "No Files Found"}},
      {{{"TimeOption", "1"}, {"StartTimeOption", "1"}, {"StartTimeRelative", "0.5"}},
       MovieGen::RunEnd::NothingToMake, {"No movie was made.", "No Files Met Timing Criteria: the window is"}},
      {{{"OutputAVIPath", dir.File("gone/movie.avi")}}, MovieGen::RunEnd::WriteFailed,
       {"movie.avi could not be written", "(cannot open output"}},
      {{{"PostGenerationShell", "sh -c 'exit 3'"}}, MovieGen::RunEnd::CommandFailed,
       {"movie.avi is ready: 2 frames", "The command afterwards failed", "ended with status 3"}},
  };
  AddStills(0, 2, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings[0].first);
    Recreate();
    Configure();
    for (const auto& [name, text] : c.settings) FindSetting(name).load(app->movie, text);
    window->cmdMakeMovie_Click();
    EXPECT_EQ(app->movie.LastRunEnd(), c.end);
    for (const char* part : c.told) EXPECT_NE(NoticeText().find(part), std::string::npos) << part << " in " << NoticeText();
  }
  OutputLock other(app->movie.OutputAVIPath());  // another run writes the same movie
  window->cmdMakeMovie_Click();
  EXPECT_NE(NoticeText().find("another run is writing movie.avi"), std::string::npos) << NoticeText();
}

TEST_F(RunFromWindowTest, DeletingStillsIsAskedOnceASessionWithTheirCount) {
  AddStills(0, 3, 48);
  AddStills(3, 1, 0);
  app->movie.SetDeleteOldImages(true);
  app->movie.SetDeleteOldImagesHours(1000);  // none old enough: nothing to ask
  window->cmdMakeMovie_Click();
  EXPECT_TRUE(messages.empty());

  app->movie.SetDeleteOldImagesHours(24);
  std::filesystem::remove(dir.File("movie.avi"));
  answers = {MessageAnswer::No};
  window->cmdMakeMovie_Click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("delete 3 stills"), std::string::npos) << messages[0].text;
  EXPECT_EQ(StillsLeft(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("movie.avi")));
  EXPECT_NE(NoticeText().find("no still was deleted"), std::string::npos) << NoticeText();

  answers = {MessageAnswer::Yes};
  window->cmdMakeMovie_Click();
  EXPECT_EQ(StillsLeft(), 1u);
  EXPECT_TRUE(std::filesystem::exists(dir.File("movie.avi")));
  AddStills(10, 2, 48);  // asked once: later runs of the session delete without a question
  window->cmdMakeMovie_Click();
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_EQ(StillsLeft(), 1u);
}

}  // namespace
}  // namespace chronoreel

CHRONOREEL_UI_TEST_MAIN

#include "test_main_window.moc"
