// The smaller windows: the location dialog, the compression options, the splash, the
// about box, and the start-up helpers.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QCheckBox>
#include <QTableWidget>
#include <QTest>

#include "app/core/program_state.h"
#include "engine/container.h"
#include "engine/movie_gen.h"

extern "C" {
#include <libavcodec/avcodec.h>
}
#include "support/fake_host.h"
#include "support/test_files.h"
#include "time/sun.h"
#include "ui/compression_dialog.h"
#include "ui/field_checks.h"
#include "ui/interactive.h"
#include "ui/location_dialog.h"
#include "ui/splash_about.h"
#include "ui_test_main.h"

namespace chronoreel {
namespace {

using chronoreel::testing::Child;

std::string EncoderLineOf(const std::vector<uint8_t>& parms) {
  for (const auto& [key, value] : ParseParameterBlock(parms))
    if (key == "encoder") return value;
  return {};
}

// ---- location ----

struct LocationCase {
  double latitude, longitude;
  const char *lat_degrees, *lat_minutes, *lat_hemisphere;
  const char *lon_degrees, *lon_minutes, *lon_hemisphere;
};

class LocationOpenTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(LocationOpenTest, ShowsDegreesMinutesAndHemisphereAndChangesNothing) {
  const LocationCase c = GetParam();
  Location location{c.latitude, c.longitude};
  Sun sun(location, [] { return 45000.5; }, [] { return 5.0; });
  sun.Sunrise();
  const int computed = sun.Calculations();
  {
    LocationDialog dialog(location, sun);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "txtLatitudeDegrees")->text().toStdString(), c.lat_degrees);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "txtLatitudeMinutes")->text().toStdString(), c.lat_minutes);
    EXPECT_EQ(Child<QComboBox>(&dialog, "cmbLatitude")->currentText().toStdString(), c.lat_hemisphere);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "txtLongitudeDegrees")->text().toStdString(), c.lon_degrees);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "txtLongitudeMinutes")->text().toStdString(), c.lon_minutes);
    EXPECT_EQ(Child<QComboBox>(&dialog, "cmbLongitude")->currentText().toStdString(), c.lon_hemisphere);
    Child<QPushButton>(&dialog, "cmdExit")->click();
    EXPECT_FALSE(dialog.IsOpen());
  }
  EXPECT_DOUBLE_EQ(location.latitude, c.latitude);
  EXPECT_DOUBLE_EQ(location.longitude, c.longitude);
  sun.Sunrise();
  EXPECT_EQ(sun.Calculations(), computed);  // the day cache survived
}

INSTANTIATE_TEST_SUITE_P(
    Locations, LocationOpenTest,
    ::testing::Values(LocationCase{40.12, -75.5, "40", "7.2", "N", "75", "30", "W"},
                      LocationCase{0, 0, "0", "0", "N", "0", "0", "W"},
                      LocationCase{-33.5, 151.25, "33", "30", "S", "151", "15", "E"},
                      LocationCase{11.5, 0.0001, "11", "30", "N", "0", "0.006", "E"},
                      LocationCase{51.999999, -0.125, "51", "59.9999", "N", "0", "7.5", "W"}));

struct LocationEdit {
  const char* box;      // a text box, or a list
  const char* text;     // the new text, or the list entry
  double latitude, longitude;
  bool marked = false;  // the box holds no size of its kind
};

TEST(LocationDialog, EveryEditIsInForceAtOnce) {
  const LocationEdit edits[] = {
      {"cmbLatitude", "S", -40.12, -75.5},
      {"cmbLatitude", "N", 40.12, -75.5},
      {"txtLatitudeDegrees", "", 0.12, -75.5, true},      // an empty box counts as 0
      {"txtLatitudeDegrees", "10", 10.12, -75.5},
      {"txtLatitudeMinutes", "90", 11.5, -75.5, true},    // minutes are not limited
      {"cmbLongitude", "E", 11.5, 75.5},
      {"txtLongitudeMinutes", "x", 11.5, 75, true},
      {"txtLongitudeDegrees", "200", 11.5, 200, true},
      {"txtLongitudeDegrees", "180", 11.5, 180},
  };
  Location location{40.12, -75.5};
  Sun sun(location, [] { return 45000.5; }, [] { return 5.0; });
  LocationDialog dialog(location, sun);
  for (const LocationEdit& edit : edits) {
    SCOPED_TRACE(std::string(edit.box) + " <- " + edit.text);
    sun.Sunrise();
    const int computed = sun.Calculations();
    if (edit.box[0] == 'c') {
      auto* list = Child<QComboBox>(&dialog, edit.box);
      list->setCurrentIndex(list->findText(edit.text));
    } else {
      Child<QLineEdit>(&dialog, edit.box)->setText(edit.text);
    }
    EXPECT_NEAR(location.latitude, edit.latitude, 1e-9);
    EXPECT_NEAR(location.longitude, edit.longitude, 1e-9);
    if (edit.box[0] == 't') {
      auto* box = Child<QLineEdit>(&dialog, edit.box);
      EXPECT_EQ(field_checks::IsMarked(box), edit.marked);
      EXPECT_EQ(box->toolTip().startsWith("Takes a number of"), edit.marked);
    }
    sun.Sunrise();
    EXPECT_EQ(sun.Calculations(), computed + 1);  // the cache was emptied
  }
  LocationDialog reopened(location, sun);
  EXPECT_EQ(Child<QLineEdit>(&reopened, "txtLatitudeDegrees")->text(), "11");
  EXPECT_EQ(Child<QLineEdit>(&reopened, "txtLatitudeMinutes")->text(), "30");
}

// ---- compression ----

TEST(ParameterBlock, LinesRoundTripAndOddTextIsSkipped) {
  const struct { std::string text; OptionList expected; } cases[] = {
      {"", {}},
      {"preset=fast\n", {{"preset", "fast"}}},
      {"a=1\r\nb = two words \r\n", {{"a", "1"}, {"b", "two words"}}},
      {"noequals\n=novalue\nk=v=w\n", {{"k", "v=w"}}},
      {std::string("x=1\0y=2", 7), {{"x", "1"}}},  // a NUL ends the text
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> block(c.text.begin(), c.text.end());
    EXPECT_EQ(ParseParameterBlock(block), c.expected) << c.text;
    EXPECT_EQ(ParseParameterBlock(MakeParameterBlock(c.expected)), c.expected);
  }
}

class CompressionStoreTest : public ::testing::Test {
 protected:
  ProgramState state;
  Location location;
  Sun sun{location};
  NullHost host;
  MovieGen movie{state, sun, host};
};

TEST_F(CompressionStoreTest, BlocksGrowButNeverShrink) {
  const struct { int format; int parms; int held_format; int held_parms; } steps[] = {
      {12, 30, 12, 30}, {4, 2, 12, 30}, {40, 0, 40, 30}};
  for (const auto& step : steps) {
    CompressionChoice choice;
    choice.record.fccHandler = 0x47504A4D;  // "MJPG"
    choice.record.dwQuality = 7500;
    choice.record.cbFormat = step.format;
    choice.record.cbParms = step.parms;
    for (int i = 0; i < step.format; ++i) choice.format.push_back(static_cast<uint8_t>(i + 1));
    for (int i = 0; i < step.parms; ++i) choice.parms.push_back(static_cast<uint8_t>(100 + i));
    state.SetupChanged = false;
    StoreCompressionChoice(movie, choice);
    EXPECT_TRUE(state.SetupChanged);
    EXPECT_EQ(movie.FormatSize(), step.format);
    EXPECT_EQ(movie.ParmsSize(), step.parms);
    EXPECT_GE(movie.FormatHeld(), step.held_format);
    EXPECT_GE(movie.ParmsHeld(), step.held_parms);
    EXPECT_EQ(movie.CompressFormat(), step.format);
    EXPECT_EQ(movie.CompressParms(), step.parms);
    EXPECT_EQ(movie.CompressHandler(), 0x47504A4D);
    EXPECT_EQ(movie.CompressQuality(), 7500);
    const CompressionChoice back = CurrentCompression(movie);
    EXPECT_EQ(back.format, choice.format);
    EXPECT_EQ(back.parms, choice.parms);
  }
}

TEST_F(CompressionStoreTest, StoredSizeBeyondTheBlockIsNotReadPastIt) {
  movie.SetParmsSize(3);
  for (int i = 0; i < 3; ++i) movie.SetParmsBytes(i, 'a');
  movie.SetCompressParms(movie.ParmsHeld() + 50);  // a setup file that claims more
  const CompressionChoice choice = CurrentCompression(movie);
  ASSERT_EQ(static_cast<int>(choice.parms.size()), movie.ParmsHeld() + 50);
  EXPECT_EQ(choice.parms[0], 'a');
  EXPECT_EQ(choice.parms.back(), 0);
}

TEST(CompressionDialog, ChoiceDescribesTheControls) {
  const std::vector<EncoderInfo> encoders = ListAviEncoders();
  ASSERT_FALSE(encoders.empty());
  EXPECT_EQ(encoders[0].fourcc_text, "DIB ");
  int mjpeg = -1;
  for (size_t i = 0; i < encoders.size(); ++i) {
    if (encoders[i].name == "mjpeg") mjpeg = static_cast<int>(i);
  }
  ASSERT_GE(mjpeg, 0) << "the linked FFmpeg has no mjpeg encoder";

  CompressionChoice current;  // the creation defaults: "DIB ", quality 50
  CompressionDialog dialog(encoders, current);
  EXPECT_EQ(Child<QComboBox>(&dialog, "cmbCompressor")->currentData().toInt(), 0);
  // Uncompressed frames have no quality: the slider opens at the default.
  EXPECT_EQ(Child<QSlider>(&dialog, "sldQuality")->value(), kDefaultQualityPosition);

  auto* list = Child<QComboBox>(&dialog, "cmbCompressor");
  list->setCurrentIndex(list->findData(mjpeg));
  Child<QSlider>(&dialog, "sldQuality")->setValue(90);
  Child<QCheckBox>(&dialog, "chkDataRate")->setChecked(true);
  Child<QSpinBox>(&dialog, "txtDataRate")->setValue(300);
  Child<QCheckBox>(&dialog, "chkKeyFrames")->setChecked(true);
  Child<QSpinBox>(&dialog, "txtKeyFrameEvery")->setValue(15);
  auto* table = Child<QTableWidget>(&dialog, "tblOptions");
  ASSERT_GT(table->rowCount(), 0);
  const std::string option = table->item(0, 0)->text().toStdString();
  table->item(0, 1)->setText("7");

  const CompressionChoice choice = dialog.Choice();
  EXPECT_EQ(choice.record.fccType, kFourccVids);
  EXPECT_EQ(choice.record.fccHandler, encoders[mjpeg].fourcc);
  EXPECT_EQ(choice.record.dwQuality, QualityForPosition("mjpeg", 90));
  EXPECT_EQ(choice.record.dwBytesPerSecond, 300 * 1024);
  EXPECT_EQ(choice.record.dwKeyFrameEvery, 15);
  EXPECT_EQ(choice.record.dwFlags, kAviCompressValid | kAviCompressDataRate | kAviCompressKeyFrames);
  EXPECT_EQ(choice.record.cbParms, static_cast<int32_t>(choice.parms.size()));
  EXPECT_EQ(ParseParameterBlock(choice.parms), (OptionList{{option, "7"}}));

  // Reopened on that choice, the dialog shows it again.
  CompressionDialog reopened(encoders, choice);
  EXPECT_EQ(Child<QComboBox>(&reopened, "cmbCompressor")->currentData().toInt(), mjpeg);
  EXPECT_EQ(Child<QSlider>(&reopened, "sldQuality")->value(), 90);
  EXPECT_EQ(Child<QTableWidget>(&reopened, "tblOptions")->item(0, 1)->text(), "7");
  EXPECT_EQ(reopened.Choice().parms, choice.parms);
}

TEST(CompressionDialog, EncodersOfferedFollowTheOutputContainer) {
  const std::vector<EncoderInfo> all = ListAviEncoders();
  auto offered = [](const std::string& path, const std::string& encoder) {
    const std::vector<EncoderInfo> list = EncodersForOutput(path);
    return std::any_of(list.begin(), list.end(), [&](const EncoderInfo& e) { return e.name == encoder; });
  };
  const struct {
    const char* path;
    const char* encoder;
    bool offered;
  } cases[] = {
      {"/www/cam.avi", "rawvideo", true},    {"/www/cam", "rawvideo", true},
      {"/www/cam.AVI", "mjpeg", true},       {"/www/cam.mp4", "rawvideo", false},
      {"/www/cam.mp4", "mpeg4", true},       {"/www/cam.M4V", "mpeg4", true},
      {"/www/cam.MOV", "rawvideo", true},    {"/www/cam.mkv", "mpeg4", true},
      {"/www/cam.webm", "mpeg4", false},     {"/www/cam.webm", "mjpeg", false},
      {"/www/cam.webm", "rawvideo", false},  {"/www/v2.mp4/cam", "rawvideo", true},  // a folder's dot
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.encoder);
    const bool linked =
        std::any_of(all.begin(), all.end(), [&](const EncoderInfo& e) { return e.name == c.encoder; });
    if (!linked) continue;  // this FFmpeg has no such encoder
    EXPECT_EQ(offered(c.path, c.encoder), c.offered);
  }

  // An AVI file takes every encoder; beyond today's, every container keeps the same order.
  EXPECT_EQ(EncodersForOutput("/www/cam.avi").size(), all.size());
  for (const char* path : {"/www/cam.avi", "/www/cam.mp4", "/www/cam.mkv", "/www/cam.webm"}) {
    const std::vector<EncoderInfo> some = EncodersForOutput(path);
    auto next = all.begin();
    for (const EncoderInfo& e : some) {
      if (e.group == EncoderGroup::Today) continue;
      next = std::find_if(next, all.end(), [&](const EncoderInfo& a) { return a.name == e.name; });
      ASSERT_NE(next, all.end()) << path << ": " << e.name << " out of order";
      ++next;
    }
  }
}

// The dialog opens on the stored encoder, or on the one the run takes when the container
// cannot hold it, at the default position as the run takes it; "More
// encoders" heads the rest and cannot be chosen; key frames are fixed in AVI.
TEST(CompressionDialog, OpensOnTheEncoderTheRunWritesWith) {
  const struct {
    const char *fourcc, *parms;
    int32_t quality;
    const char *muxer, *selected;
    int position;
  } cases[] = {
      {"DIB ", "", 50, "avi", "rawvideo", kDefaultQualityPosition},
      {"DIB ", "", 50, "mp4", "libx264", kDefaultQualityPosition},
      {"DIB ", "", 50, "webm", "libvpx-vp9", kDefaultQualityPosition},
      {"MJPG", "", QualityForPosition("mjpeg", 30), "webm", "libvpx-vp9", kDefaultQualityPosition},
      {"H264", "", 7700, "matroska", "libx264", 77},
      {"AV01", "encoder=libsvtav1\n", QualityForPosition("libsvtav1", 40), "mp4", "libsvtav1", 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fourcc) + " in " + c.muxer);
    if (!avcodec_find_encoder_by_name(c.selected)) continue;
    CompressionChoice current;
    current.record.fccHandler = FourccFromText(c.fourcc);
    current.record.dwQuality = c.quality;
    current.parms.assign(c.parms, c.parms + std::strlen(c.parms));
    current.record.cbParms = static_cast<int32_t>(current.parms.size());
    const std::vector<EncoderInfo> encoders = ListContainerEncoders(c.muxer);
    CompressionDialog dialog(encoders, current, c.muxer);
    auto* list = Child<QComboBox>(&dialog, "cmbCompressor");
    EXPECT_EQ(encoders.at(list->currentData().toUInt()).name, c.selected);
    EXPECT_EQ(Child<QSlider>(&dialog, "sldQuality")->value(), c.position);
    EXPECT_EQ(Child<QCheckBox>(&dialog, "chkKeyFrames")->isEnabled(), !IsAviContainer(c.muxer));
    const bool replaced = EncoderNameForFourcc(current.record.fccHandler, EncoderLineOf(current.parms)) != c.selected;
    EXPECT_EQ(dialog.Choice().record.dwQuality, replaced ? QualityForPosition(c.selected, c.position) : c.quality);
    const int header = list->findText("More encoders");
    ASSERT_GE(header, 1);
    EXPECT_FALSE(qobject_cast<QStandardItemModel*>(list->model())->item(header)->isEnabled());
    EXPECT_EQ(encoders.at(list->itemData(header + 1).toUInt()).group, EncoderGroup::More);
  }
}

// The slider keeps its position from encoder to encoder; OK stores the chosen encoder's
// dwQuality for it and names an encoder its code alone would not pick.
TEST(CompressionDialog, SliderKeepsItsPositionAcrossEncoders) {
  const std::vector<EncoderInfo> encoders = ListContainerEncoders("mp4");
  CompressionChoice current;
  current.record.fccHandler = FourccFromText("H264");
  CompressionDialog dialog(encoders, current, "mp4");
  auto* list = Child<QComboBox>(&dialog, "cmbCompressor");
  Child<QSlider>(&dialog, "sldQuality")->setValue(70);
  for (size_t i = 0; i < encoders.size(); ++i) {
    if (encoders[i].group != EncoderGroup::Today) continue;
    SCOPED_TRACE(encoders[i].name);
    list->setCurrentIndex(list->findData(static_cast<int>(i)));
    EXPECT_EQ(Child<QSlider>(&dialog, "sldQuality")->value(), 70);
    const CompressionChoice choice = dialog.Choice();
    EXPECT_EQ(choice.record.dwQuality, QualityForPosition(encoders[i].name, 70));
    EXPECT_EQ(EncoderNameForFourcc(choice.record.fccHandler, EncoderLineOf(choice.parms)), encoders[i].name);
  }
}

// ---- splash and about ----

TEST(Splash, WaitsOutFourSecondsWhileHandlingEvents) {
  const struct { double step_seconds; int min_pumps; } cases[] = {{1.0, 4}, {0.5, 8}, {5.0, 1}};
  for (const auto& c : cases) {
    FakeHost host;
    double now = 40000.0;
    Splash splash(host, [&] {
      const double t = now;
      now += c.step_seconds / 86400.0;
      return t;
    });
    splash.ShowSplash();
    ASSERT_NE(splash.Window(), nullptr);
    EXPECT_TRUE(splash.Window()->isVisible());
    EXPECT_EQ(Child<QLabel>(splash.Window(), "lblVersion")->text().toStdString(), "Version: " + ProgramVersion());
    // A click on the picture hides the splash; the wait still goes on.
    QTest::mouseClick(Child<QLabel>(splash.Window(), "Picture1"), Qt::LeftButton);
    EXPECT_FALSE(splash.Window()->isVisible());
    splash.RedrawSplash();
    const int before = host.process_events;
    splash.CloseSplash();
    EXPECT_GE(host.process_events - before, c.min_pumps - 2);
    splash.UnloadSplash();
    EXPECT_EQ(splash.Window(), nullptr);
  }
}

TEST(SystemInfo, FirstKnownProgramOnThePathWins) {
  TempDir dir("chronoreel-path");
  const auto make = [&](const std::string& folder, const std::string& name, bool executable) {
    std::filesystem::create_directories(dir.File(folder));
    const std::string path = dir.File(folder + "/" + name);
    std::ofstream(path) << "#!/bin/sh\n";
    chmod(path.c_str(), executable ? 0755 : 0644);
    return path;
  };
  const std::string kinfo = make("a", "kinfocenter", true);
  const std::string hard = make("b", "hardinfo", true);
  make("c", "gnome-system-monitor", false);
  const std::string lxtask = make("d", "lxtask", true);
  const std::string gnome = make("e", "gnome-system-monitor", true);
  const std::string hard2 = make("f", "hardinfo2", true);
  const struct { std::string path; std::string expected; } cases[] = {
      {dir.File("a") + ":" + dir.File("b"), hard},
      {dir.File("a"), kinfo},
      {dir.File("c"), ""},
      {"", ""},
      {":" + dir.File("a") + ":", kinfo},
      {dir.File("d"), lxtask},
      {dir.File("d") + ":" + dir.File("e"), gnome},  // a monitor before a task manager
      {dir.File("e") + ":" + dir.File("f"), hard2},  // an information tool before a monitor
  };
  for (const auto& c : cases) EXPECT_EQ(FindSystemInfoProgram(c.path), c.expected) << c.path;
}

TEST(AboutBox, ShowsNameVersionAndReportsMissingSystemInfo) {
  FakeHost host;
  AboutBox about(host, nullptr);
  EXPECT_EQ(about.windowTitle(), "About Chronoreel");
  EXPECT_EQ(Child<QLabel>(&about, "lblVersion")->text().toStdString(), "Version " + ProgramVersion());
  EXPECT_TRUE(Child<QLabel>(&about, "lblDisclaimer")->text().startsWith("Warning: "));
  EXPECT_EQ(Child<QPushButton>(&about, "cmdSysInfo")->text(), "&System Info...");

  const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  TempDir empty("chronoreel-nopath");
  setenv("PATH", empty.Str().c_str(), 1);
  Child<QPushButton>(&about, "cmdSysInfo")->click();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text.rfind("System Information Is Unavailable At This Time", 0), 0u);
  EXPECT_NE(host.messages[0].text.find("Install hardinfo or gnome-system-monitor."), std::string::npos);
  EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);

  // A tool on the path is started, and nothing is said.
  TempDir tools("chronoreel-tools");
  const std::string tool = tools.File("gnome-system-monitor");
  std::ofstream(tool) << "#!/bin/sh\necho started > \"$0.ran\"\n";
  chmod(tool.c_str(), 0755);
  setenv("PATH", tools.Str().c_str(), 1);
  Child<QPushButton>(&about, "cmdSysInfo")->click();
  setenv("PATH", saved.c_str(), 1);
  for (int i = 0; i < 200 && !std::filesystem::exists(tool + ".ran"); ++i) QTest::qWait(25);
  EXPECT_TRUE(std::filesystem::exists(tool + ".ran"));
  EXPECT_EQ(host.messages.size(), 1u);
}

// ---- start-up helpers ----

TEST(StartUp, InstanceCaptionHasAtLeastThreeDigits) {
  const struct { int number; const char* caption; } cases[] = {
      {0, "QZ000"}, {7, "QZ007"}, {42, "QZ042"}, {999, "QZ999"}, {1234, "QZ1234"}};
  for (const auto& c : cases) EXPECT_EQ(InstanceCaption(c.number), c.caption);
}

TEST(StartUp, DisplayIsAvailableWhenAnyPlatformVariableIsSet) {
  const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  std::vector<std::string> saved;
  std::vector<bool> had;
  for (const char* n : names) {
    had.push_back(std::getenv(n) != nullptr);
    saved.push_back(had.back() ? std::getenv(n) : "");
  }
  for (int mask = 0; mask < 8; ++mask) {
    for (int i = 0; i < 3; ++i) {
      if (mask & (1 << i)) {
        setenv(names[i], "x", 1);
      } else {
        unsetenv(names[i]);
      }
    }
    EXPECT_EQ(DisplayAvailable(), mask != 0) << mask;
  }
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", "", 1);
  EXPECT_FALSE(DisplayAvailable());  // set but empty names nothing
  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      setenv(names[i], saved[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}

}  // namespace
}  // namespace chronoreel

CHRONOREEL_UI_TEST_MAIN
