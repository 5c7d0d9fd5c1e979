#pragma once
// frmPreview: the progress window of one generation run. It shows the status, the frame
// counter, a bar of the frames written with the time left, and each composed frame at 1:1
// (scaled down when the movie is larger than the screen); Cancel (or the close box) only
// asks the run to stop, the run closes the window itself.
#include <chrono>
#include <functional>
#include <optional>

#include <QImage>
#include <QWidget>

#include "app/core/host.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace chronoreel {

// pctPreview: paints the last frame at its top-left corner, scaled into the pane when the
// frame is larger.
class PicturePane : public QWidget {
  Q_OBJECT
 public:
  explicit PicturePane(QWidget* parent);
  void SetImage(QImage image) { image_ = std::move(image); }
  void Clear();
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
};

class PreviewWindow : public QWidget, public ProgressWindow {
  Q_OBJECT
 public:
  // `host` keeps events flowing while a status is held; without one nothing is held.
  explicit PreviewWindow(std::function<void()> on_cancel, Host* host = nullptr);
  ~PreviewWindow() override;

  void SetStatus(const std::string& text) override;
  void SetFrameLabel(const std::string& text) override;
  void ClearPreview() override;
  void Show() override;
  void Refresh() override;
  void FitToMovieSize(int movie_width, int movie_height) override;
  void ShowFrame(const FrameView& frame) override;
  void Unload() override;
  void HoldStatus(double seconds) override;
  void SetFrameProgress(int written, int total) override;

  // "About 1 min 20 s left".
  static QString TimeLeftText(double seconds);
  // A picture scaled down, aspect kept, to fit `room`; one that fits stays as it is.
  static QSize FitWithin(QSize picture, QSize room);

  // Seams for tests: the clock of the time left, and the screen area the window must fit
  // (an empty size: the window's screen).
  using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;
  void SetClock(SteadyClock clock) { clock_ = std::move(clock); }
  void SetScreenArea(QSize area) { screen_area_ = area; }
  QProgressBar* FrameBar() const { return bar_; }

  // The outer size in twips (Show opens the window at 4680 x 4890).
  void SetSizeTwips(int height_twips, int width_twips);

  // The height reserved for the labels and the button above the picture: the picture's top.
  int PictureTop() const { return header_height_; }
  PicturePane* Picture() const { return picture_; }
  double TwipsPerPixelX() const;
  double TwipsPerPixelY() const;

  // The picture area of a movie size before the first frame: at least 320 wide; a movie
  // "based on the first image" (no size yet, 0 x 0) takes 320 x 240.
  static QSize PictureAreaFor(int movie_width, int movie_height);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void cmdCancel_Click();
  void SetClientSize(int width, int height);
  void LayOutHeader();
  // The size a picture of this size is shown at: scaled down to what the screen leaves.
  QSize ShownSize(int width, int height) const;

  std::function<void()> on_cancel_;
  Host* host_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* frame_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QProgressBar* bar_ = nullptr;
  PicturePane* picture_ = nullptr;
  int header_height_ = 0;
  bool first_frame_ = true;
  bool unloading_ = false;
  std::chrono::steady_clock::time_point last_paint_{};
  SteadyClock clock_;
  QSize screen_area_;
  // Where the estimate of the time left starts: the first frame count told and its time.
  std::optional<std::chrono::steady_clock::time_point> progress_start_;
  int progress_start_frames_ = 0;
};

}  // namespace chronoreel
