// The progress window: its sizes in twips and pixels, the fitting to the movie and to the
// first frame, a movie larger than the screen scaled down, the frame drawn the right way up,
// the bar of frames with its time left, Cancel during a real run, and a movie made from the
// window against the unattended run of the same setup file.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/application.h"
#include "app/startup.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "ui/main_window.h"
#include "ui/preview_window.h"
#include "ui/qt_host.h"
#include "ui/run_notice.h"
#include "ui_test_main.h"

namespace chronoreel {
namespace {

using chronoreel::testing::Child;
using chronoreel::testing::VisibleTopLevel;

// A bottom-up BGR frame whose top half is one colour and bottom half another.
struct Frame {
  Frame(int w, int h, QRgb top, QRgb bottom) : width(w), height(h), stride((w * 3 + 3) & ~3) {
    pixels.assign(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
      const QRgb colour = y < h / 2 ? top : bottom;
      uint8_t* row = pixels.data() + static_cast<size_t>(h - 1 - y) * stride;  // bottom-up
      for (int x = 0; x < w; ++x) {
        row[x * 3] = qBlue(colour);
        row[x * 3 + 1] = qGreen(colour);
        row[x * 3 + 2] = qRed(colour);
      }
    }
  }
  FrameView View() const { return {pixels.data(), width, height, stride}; }
  int width, height, stride;
  std::vector<uint8_t> pixels;
};

struct FitCase {
  int movie_width, movie_height;  // as the run passes them; 0 x 0: not known yet
  int picture_width, picture_height;
};

class FitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTest, ClientAreaHoldsTheLabelsAndThePicture) {
  const FitCase c = GetParam();
  PreviewWindow window([] {});
  window.Show();
  window.FitToMovieSize(c.movie_width, c.movie_height);
  EXPECT_EQ(window.width(), c.picture_width);
  EXPECT_EQ(window.height(), window.PictureTop() + c.picture_height);
  EXPECT_EQ(window.Picture()->geometry(), QRect(0, window.PictureTop(), c.picture_width, c.picture_height));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FitTest,
                         ::testing::Values(FitCase{160, 120, 320, 120}, FitCase{320, 240, 320, 240},
                                           FitCase{640, 480, 640, 480}, FitCase{0, 0, 320, 240},
                                           FitCase{321, 200, 321, 200}));

struct FirstFrameCase {
  int fit_width, fit_height;
  int frame_width, frame_height;
  int client_width;  // after the first frame
  int picture_left;
};

class FirstFrameTest : public ::testing::TestWithParam<FirstFrameCase> {};

TEST_P(FirstFrameTest, FirstFrameRefitsTheWindow) {
  const FirstFrameCase c = GetParam();
  PreviewWindow window([] {});
  window.Show();
  window.FitToMovieSize(c.fit_width, c.fit_height);
  const Frame frame(c.frame_width, c.frame_height, qRgb(255, 0, 0), qRgb(0, 0, 255));
  window.ShowFrame(frame.View());
  EXPECT_EQ(window.width(), c.client_width);
  EXPECT_EQ(window.height(), window.PictureTop() + c.frame_height);
  EXPECT_EQ(window.Picture()->geometry(),
            QRect(c.picture_left, window.PictureTop(), c.frame_width, c.frame_height));

  // Later frames of another size resize the picture, never the window.
  const QSize fitted = window.size();
  const Frame second(c.frame_width + 40, c.frame_height + 20, qRgb(0, 255, 0), qRgb(0, 255, 0));
  window.ShowFrame(second.View());
  EXPECT_EQ(window.size(), fitted);
  EXPECT_EQ(window.Picture()->size(), QSize(second.width, second.height));
}

INSTANTIATE_TEST_SUITE_P(Frames, FirstFrameTest,
                         ::testing::Values(FirstFrameCase{160, 120, 160, 120, 320, 80},   // centred
                                           FirstFrameCase{0, 0, 640, 480, 640, 0},        // based on the first
                                           FirstFrameCase{0, 0, 200, 100, 320, 60},
                                           FirstFrameCase{640, 480, 640, 480, 640, 0},
                                           FirstFrameCase{320, 240, 320, 240, 320, 0}));

class ScreenFitTest : public ::testing::TestWithParam<std::pair<QSize, QSize>> {};  // screen, movie

// Before the first frame and after it: the window stays on the screen, the picture keeps
// the movie's shape and shows all of it; a movie that fits keeps its 1:1 size.
TEST_P(ScreenFitTest, PictureIsScaledDownToTheScreenOnly) {
  const auto [screen, movie] = GetParam();
  PreviewWindow window([] {});
  window.SetScreenArea(screen);
  window.Show();
  const Frame frame(movie.width(), movie.height(), qRgb(255, 0, 0), qRgb(0, 0, 255));
  const bool fits = movie.width() <= screen.width() && window.PictureTop() + movie.height() <= screen.height();
  window.FitToMovieSize(movie.width(), movie.height());
  const QSize fitted = window.frameGeometry().size();
  window.ShowFrame(frame.View());
  for (const QSize outer : {fitted, window.frameGeometry().size()}) EXPECT_TRUE(screen.expandedTo(outer) == screen);
  const QImage shown = window.Picture()->grab().toImage();
  EXPECT_NEAR(double(shown.width()) / shown.height(), double(movie.width()) / movie.height(), 0.01);
  if (fits) {
    EXPECT_EQ(shown.size(), movie);
  }
  EXPECT_EQ(shown.pixel(shown.width() / 2, 1), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() - 2), qRgb(0, 0, 255));
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenFitTest,
                         ::testing::Values(std::pair(QSize(1366, 768), QSize(3840, 2160)),
                                           std::pair(QSize(1024, 768), QSize(1080, 1920)),
                                           std::pair(QSize(1366, 768), QSize(640, 480)),
                                           std::pair(QSize(800, 600), QSize(760, 300))));

// Frames told by a run with a clock of the test's: the first count told, then a later one.
struct BarCase {
  int first, written, total;
  double seconds;  // between the two
  const char* text;
};

class FrameBarTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(FrameBarTest, BarFollowsTheFramesWrittenWithTheTimeLeft) {
  const BarCase c = GetParam();
  PreviewWindow window([] {});
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  window.SetClock([&] { return now; });
  window.SetFrameProgress(c.first, c.total);
  now += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(c.seconds));
  window.SetFrameProgress(c.written, c.total);
  const QProgressBar* bar = Child<QProgressBar>(&window, "prgFrames");
  EXPECT_EQ(std::pair(bar->value(), bar->maximum()), std::pair(c.written, c.total));
  EXPECT_EQ(bar->text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(Runs, FrameBarTest,
                         ::testing::Values(BarCase{0, 10, 100, 10, "10% - About 1 min 30 s left"},
                                           BarCase{0, 1, 3, 0.5, "33% - About 1 s left"},
                                           BarCase{0, 10, 10000, 10, "0% - About 2 h 47 min left"},
                                           // The time before the first count told is no writing time.
                                           BarCase{20, 30, 120, 10, "25% - About 1 min 30 s left"},
                                           BarCase{0, 100, 100, 40, "100%"}));

TEST(PreviewWindow, FrameIsShownTheRightWayUp) {
  PreviewWindow window([] {});
  const Frame frame(33, 10, qRgb(255, 0, 0), qRgb(0, 0, 255));  // odd width: padded rows
  window.ShowFrame(frame.View());
  const QImage& image = window.Picture()->Image();
  ASSERT_EQ(image.size(), QSize(33, 10));
  for (const int x : {0, 16, 32}) {
    EXPECT_EQ(image.pixel(x, 0), qRgb(255, 0, 0)) << x;
    EXPECT_EQ(image.pixel(x, 9), qRgb(0, 0, 255)) << x;
  }
}

TEST(PreviewWindow, OpensWithItsTwipSizeAndCaptions) {
  PreviewWindow window([] {});
  window.Show();
  const QSize decoration = window.frameGeometry().size() - window.geometry().size();
  EXPECT_EQ(window.width() + decoration.width(), std::lround(4890 / window.TwipsPerPixelX()));
  EXPECT_EQ(window.height() + decoration.height(), std::lround(4680 / window.TwipsPerPixelY()));
  EXPECT_EQ(window.windowTitle(), "Movie Generation Preview");
  EXPECT_EQ(Child<QLabel>(&window, "lblStatus")->text(), "Status:");
  window.SetStatus("Status: Reading Source Directory");
  window.SetFrameLabel("Frame: 3 of 9");
  EXPECT_EQ(Child<QLabel>(&window, "lblStatus")->text(), "Status: Reading Source Directory");
  EXPECT_EQ(Child<QLabel>(&window, "lblFrame")->text(), "Frame: 3 of 9");
}

TEST(PreviewWindow, CancelAndCloseBoxAskOnceEachUnloadDoesNot) {
  int cancels = 0;
  PreviewWindow window([&] { ++cancels; });
  window.Show();
  Child<QPushButton>(&window, "cmdCancel")->click();
  EXPECT_EQ(cancels, 1);
  EXPECT_FALSE(window.close());  // the run closes the window, not the close box
  EXPECT_EQ(cancels, 2);
  EXPECT_TRUE(window.isVisible());
  window.Unload();
  EXPECT_EQ(cancels, 2);
  EXPECT_FALSE(window.isVisible());
}

TEST(PreviewWindow, MalformedFramesAreIgnored) {
  PreviewWindow window([] {});
  std::vector<uint8_t> bytes(64, 0);
  const FrameView bad[] = {{nullptr, 4, 4, 12}, {bytes.data(), 0, 4, 12}, {bytes.data(), 8, 2, 12}};
  for (const FrameView& view : bad) window.ShowFrame(view);
  EXPECT_TRUE(window.Picture()->Image().isNull());
}

// A run over a few stills, cancelled from its own progress window.
TEST(ProgressDuringRun, CancelStopsTheRunAndShowsTheStatus) {
  TempDir dir("chronoreel-run");
  std::filesystem::create_directory(dir.File("stills"));
  for (int i = 0; i < 6; ++i) {
    WriteFlatJpeg(dir.File("stills/still" + std::to_string(i) + ".jpg"), 64, 48, 0x336699 + i);
  }
  QtHost host;
  host.SetMessageResponder([](const MessageBoxRequest&) { return MessageAnswer::Ok; });
  Application app(host, dir.Str());
  app.movie.SetStillDirectory(dir.File("stills"));
  app.movie.SetImageFilter("*.jpg");
  app.movie.SetOutputAVIPath(dir.File("movie.avi"));
  MainWindow window(app, host);
  host.SetMainWindow(&window);
  window.UpdateSetupControls();
  window.show();

  std::vector<std::string> statuses;
  bool main_disabled = false;
  bool pressed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* preview = VisibleTopLevel("frmPreview");
    if (preview == nullptr) return;
    main_disabled = main_disabled || !window.isEnabled();
    const std::string status = Child<QLabel>(preview, "lblStatus")->text().toStdString();
    if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
    if (!pressed) {
      pressed = true;
      Child<QPushButton>(preview, "cmdCancel")->click();
    }
  });
  poll.start(1);
  window.cmdMakeMovie_Click();
  poll.stop();

  EXPECT_TRUE(pressed);
  EXPECT_TRUE(main_disabled);
  EXPECT_TRUE(window.isEnabled());
  EXPECT_FALSE(app.movie.LastRunCompleted());
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Status: Cancelled by User"), statuses.end());
  EXPECT_EQ(VisibleTopLevel("frmPreview"), nullptr);
  EXPECT_EQ(host.CurrentPreview(), nullptr);
  // The main window says how the run ended once the progress window is gone.
  const RunNotice* notice = window.findChild<RunNotice*>("RunNotice");
  ASSERT_TRUE(notice != nullptr && notice->isVisible());
  EXPECT_EQ(notice->Text(), "The run was cancelled.");
}

// The same setup file makes the same movie from the main window, with its progress window,
// as in an unattended run.
TEST(ProgressDuringRun, MovieFromTheWindowHasTheFramesOfTheUnattendedRun) {
  TempDir dir("chronoreel-same");
  std::filesystem::create_directory(dir.File("stills"));
  for (int i = 0; i < 7; ++i) {
    // YYMMDDHHMMSSdd: one still a minute; each a different colour, split to show orientation.
    char name[64];
    std::snprintf(name, sizeof name, "stills/26120806%02d0000.jpg", i);
    WriteSplitJpeg(dir.File(name), 200, 150, 0x202020 * (i + 1), 0xff0000 >> (2 * i));
  }
  const std::string setup = dir.File("same.tls");
  std::ofstream(setup) << "[General]\nStillDirectory=" << dir.File("stills")
                       << "\nImageFilter=*.jpg\nTimeStampOption=1\nTimeOption=0\nMovieFPS=5\n"
                       << "OutputAVIPath=" << dir.File("movie.avi") << "\n";

  std::vector<std::string> window_frames;
  {
    QtHost host;
    host.SetMessageResponder([](const MessageBoxRequest&) { return MessageAnswer::Ok; });
    std::deque<std::optional<std::string>> chosen = {setup};
    host.SetFileChooser([&](const FileChoice&) -> std::optional<std::string> {
      if (chosen.empty()) return std::nullopt;
      auto next = chosen.front();
      chosen.pop_front();
      return next;
    });
    Application app(host, dir.Str());
    MainWindow window(app, host);
    host.SetMainWindow(&window);
    window.UpdateSetupControls();
    window.show();
    Child<QAction>(&window, "mnuOpen")->trigger();
    ASSERT_EQ(app.state.CurrentFile, setup);
    // Edits made in the window and saved, so that the file holds them.
    auto type = [&](const char* name, const char* text) {
      QLineEdit* box = Child<QLineEdit>(&window, name);
      box->clear();
      QTest::keyClicks(box, text);
    };
    type("txtMovieWidth", "160");
    type("txtMovieHeight", "120");
    Child<QCheckBox>(&window, "chkMovieDirection")->click();
    Child<QAction>(&window, "mnuSave")->trigger();
    ASSERT_FALSE(app.state.SetupChanged);

    int frames_seen = 0;
    std::pair<int, int> bar_end{};  // value and maximum of the bar
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      PreviewWindow* preview = host.CurrentPreview();
      if (preview == nullptr || !preview->isVisible()) return;
      if (!preview->Picture()->Image().isNull()) ++frames_seen;
      bar_end = {preview->FrameBar()->value(), preview->FrameBar()->maximum()};
    });
    poll.start(1);
    Child<QPushButton>(&window, "cmdMakeMovie")->click();
    poll.stop();
    ASSERT_TRUE(app.movie.LastRunCompleted());
    EXPECT_GT(frames_seen, 0);  // the progress window was up and showed frames
    EXPECT_EQ(bar_end, std::make_pair(7, 7));
    std::filesystem::rename(dir.File("movie.avi"), dir.File("window.avi"));
    app.state.SetupChanged = false;
  }

  FakeHost console;
  Application unattended(console, dir.Str());
  unattended.state.cmd.AutomatedRun = true;
  unattended.state.cmd.SetupFileArgument = setup;
  ASSERT_EQ(RunAutomated(unattended), kExitCompleted);

  const test::ProbedMovie a = test::ProbeMovie(dir.File("window.avi"));
  const test::ProbedMovie b = test::ProbeMovie(dir.File("movie.avi"));
  ASSERT_TRUE(a.opened) << a.error;
  ASSERT_TRUE(b.opened) << b.error;
  EXPECT_EQ(a.FrameCount(), 7);
  EXPECT_EQ(a.FrameCount(), b.FrameCount());
  EXPECT_EQ(a.codec_name, b.codec_name);
  EXPECT_EQ(std::make_pair(a.width, a.height), std::make_pair(160, 120));
  EXPECT_EQ(std::make_pair(b.width, b.height), std::make_pair(160, 120));
  EXPECT_EQ(a.rate_num * b.rate_den, b.rate_num * a.rate_den);
  const auto fa = test::DecodeAllFrames(dir.File("window.avi"));
  const auto fb = test::DecodeAllFrames(dir.File("movie.avi"));
  ASSERT_EQ(fa.size(), fb.size());
  for (size_t i = 0; i < fa.size(); ++i) EXPECT_EQ(fa[i].bgr, fb[i].bgr) << "frame " << i;
  // Reversed: the last still comes first.
  ASSERT_FALSE(fa.empty());
  double first[3], last[3];
  fa.front().MeanColour(0, 0, 160, 60, first);
  fa.back().MeanColour(0, 0, 160, 60, last);
  EXPECT_GT(first[0], last[0]);  // 0xe0e0e0 on top of the last still, 0x202020 on the first
}

}  // namespace
}  // namespace chronoreel

CHRONOREEL_UI_TEST_MAIN
