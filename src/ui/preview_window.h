#pragma once
// frmPreview: the progress window of one generation run. It shows the status, the frame
// counter and each composed frame at 1:1; Cancel (or the close box) only asks the run to
// stop, the run closes the window itself.
#include <chrono>
#include <functional>

#include <QImage>
#include <QWidget>

#include "app/core/host.h"

class QLabel;
class QPushButton;

namespace chronoreel {

// pctPreview: paints the last frame at its top-left corner.
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

  std::function<void()> on_cancel_;
  Host* host_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* frame_ = nullptr;
  QPushButton* cancel_ = nullptr;
  PicturePane* picture_ = nullptr;
  int header_height_ = 0;
  bool first_frame_ = true;
  bool unloading_ = false;
  std::chrono::steady_clock::time_point last_paint_{};
};

}  // namespace chronoreel
