// The progress window: its sizes in twips and pixels, the fitting to the movie and to the
// first frame, the frame drawn the right way up, and Cancel during a real run.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/application.h"
#include "support/jpeg_maker.h"
#include "support/temp_dir.h"
#include "ui/main_window.h"
#include "ui/preview_window.h"
#include "ui/qt_host.h"
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
  window.SetSizeTwips(4680, 4890);
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
}

}  // namespace
}  // namespace chronoreel

CHRONOREEL_UI_TEST_MAIN
