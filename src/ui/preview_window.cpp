#include "ui/preview_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/core/error_report.h"
#include "app/core/utility.h"

namespace chronoreel {

namespace {

constexpr int kMinimumPictureWidth = 320;
constexpr int kDefaultPictureHeight = 240;
constexpr int kMargin = 6;
// Painting more often than this only costs the run time.
constexpr auto kPaintInterval = std::chrono::milliseconds(33);

int TwipsToPixels(int twips, double twips_per_pixel) {
  return static_cast<int>(std::lround(twips / twips_per_pixel));
}

}  // namespace

PicturePane::PicturePane(QWidget* parent) : QWidget(parent) {
  setObjectName("pctPreview");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PicturePane::Clear() {
  image_ = QImage();
  update();
}

void PicturePane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  if (image_.isNull()) return;
  if (image_.width() <= width() && image_.height() <= height()) {
    painter.drawImage(QPoint(0, 0), image_);
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image_);
  }
}

PreviewWindow::PreviewWindow(std::function<void()> on_cancel, Host* host)
    : on_cancel_(std::move(on_cancel)), host_(host) {
  setObjectName("frmPreview");
  setWindowTitle("Movie Generation Preview");
  status_ = new QLabel("Status:", this);
  status_->setObjectName("lblStatus");
  frame_ = new QLabel("Frame: 1/1", this);
  frame_->setObjectName("lblFrame");
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cmdCancel");
  connect(cancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  bar_ = new QProgressBar(this);
  bar_->setObjectName("prgFrames");
  bar_->setRange(0, 1);
  bar_->setValue(0);
  bar_->setTextVisible(true);
  picture_ = new PicturePane(this);

  // Status on its own line (its texts are long), the counter and Cancel below it, the bar
  // of the frames written below them.
  const int line = fontMetrics().height();
  const QSize button = cancel_->sizeHint();
  header_height_ = kMargin + line + kMargin + std::max(line, button.height()) + kMargin +
                   bar_->sizeHint().height() + kMargin;
  picture_->setGeometry(0, header_height_, kMinimumPictureWidth, kDefaultPictureHeight);
  resize(kMinimumPictureWidth, header_height_ + kDefaultPictureHeight);
  LayOutHeader();
}

PreviewWindow::~PreviewWindow() = default;

double PreviewWindow::TwipsPerPixelX() const { return 1440.0 / std::max(1, logicalDpiX()); }
double PreviewWindow::TwipsPerPixelY() const { return 1440.0 / std::max(1, logicalDpiY()); }

QSize PreviewWindow::PictureAreaFor(int movie_width, int movie_height) {
  if (movie_width <= 0 || movie_height <= 0) return {kMinimumPictureWidth, kDefaultPictureHeight};
  return {std::max(movie_width, kMinimumPictureWidth), movie_height};
}

void PreviewWindow::LayOutHeader() {
  const int line = fontMetrics().height();
  const QSize button = cancel_->sizeHint();
  const int client_width = width();
  status_->setGeometry(kMargin, kMargin, std::max(0, client_width - 2 * kMargin), line);
  const int row2 = kMargin + line + kMargin;
  const int row2_height = std::max(line, button.height());
  cancel_->setGeometry(client_width - kMargin - button.width(), row2, button.width(), button.height());
  frame_->setGeometry(kMargin, row2 + (row2_height - line) / 2,
                      std::max(0, client_width - 3 * kMargin - button.width()), line);
  bar_->setGeometry(kMargin, row2 + row2_height + kMargin, std::max(0, client_width - 2 * kMargin),
                    bar_->sizeHint().height());
}

QString PreviewWindow::TimeLeftText(double seconds) {
  const long total = std::max(0L, std::lround(std::ceil(seconds)));
  QString amount;
  if (total < 60) {
    amount = QString("%1 s").arg(total);
  } else if (total < 3600) {
    amount = total % 60 == 0 ? QString("%1 min").arg(total / 60)
                             : QString("%1 min %2 s").arg(total / 60).arg(total % 60);
  } else {
    const long minutes = (total + 59) / 60;
    amount = minutes % 60 == 0 ? QString("%1 h").arg(minutes / 60)
                               : QString("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
  }
  return "About " + amount + " left";
}

void PreviewWindow::SetFrameProgress(int written, int total) {
  if (total <= 0) return;
  written = std::clamp(written, 0, total);
  const auto now = clock_ ? clock_() : std::chrono::steady_clock::now();
  // The estimate counts from the first count told: the set-up before it is no writing.
  if (!progress_start_ || written < progress_start_frames_) {
    progress_start_ = now;
    progress_start_frames_ = written;
  }
  bar_->setRange(0, total);
  bar_->setValue(written);
  const int done = written - progress_start_frames_;
  const double elapsed = std::chrono::duration<double>(now - *progress_start_).count();
  if (written < total && done > 0 && elapsed > 0) {
    bar_->setFormat("%p% - " + TimeLeftText(elapsed / done * (total - written)));
  } else {
    bar_->setFormat("%p%");
  }
}

QSize PreviewWindow::FitWithin(QSize picture, QSize room) {
  if (picture.isEmpty() || room.isEmpty()) return picture;
  if (picture.width() <= room.width() && picture.height() <= room.height()) return picture;
  const QSize scaled = picture.scaled(room, Qt::KeepAspectRatio);
  return {std::max(1, scaled.width()), std::max(1, scaled.height())};
}

QSize PreviewWindow::ShownSize(int width, int height) const {
  QSize area = screen_area_;
  if (area.isEmpty()) {
    const QScreen* shown_on = screen();
    if (shown_on == nullptr) return {width, height};
    area = shown_on->availableGeometry().size();
  }
  // The window's frame and the labels above the picture take their share of the screen.
  const QSize decoration = frameGeometry().size() - geometry().size();
  const QSize room(area.width() - decoration.width(), area.height() - decoration.height() - header_height_);
  return FitWithin({width, height}, room);
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOutHeader();
}

void PreviewWindow::SetClientSize(int width, int height) {
  resize(std::max(1, width), std::max(1, height));
  LayOutHeader();
}

void PreviewWindow::SetStatus(const std::string& text) {
  status_->setText(QString::fromStdString(text));
  status_->repaint();
}

void PreviewWindow::SetFrameLabel(const std::string& text) {
  frame_->setText(QString::fromStdString(text));
  frame_->repaint();
}

void PreviewWindow::ClearPreview() { picture_->Clear(); }

void PreviewWindow::Show() {
  show();
  raise();
  SetSizeTwips(4680, 4890);
}

void PreviewWindow::HoldStatus(double seconds) {
  if (host_ != nullptr) Delay(*host_, seconds);
}

void PreviewWindow::Refresh() { repaint(); }

void PreviewWindow::SetSizeTwips(int height_twips, int width_twips) {
  // The twips give the outer size; the frame of the window system is not ours to size.
  const QSize decoration = frameGeometry().size() - geometry().size();
  SetClientSize(TwipsToPixels(width_twips, TwipsPerPixelX()) - decoration.width(),
                TwipsToPixels(height_twips, TwipsPerPixelY()) - decoration.height());
}

void PreviewWindow::FitToMovieSize(int movie_width, int movie_height) {
  const QSize shown = movie_width > 0 && movie_height > 0 ? ShownSize(movie_width, movie_height) : QSize();
  const QSize area = PictureAreaFor(shown.width(), shown.height());
  SetClientSize(area.width(), header_height_ + area.height());
  picture_->setGeometry(0, header_height_, area.width(), area.height());
}

void PreviewWindow::ShowFrame(const FrameView& frame) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0 ||
      frame.stride < frame.width * 3) {
    return;
  }
  const QSize shown = ShownSize(frame.width, frame.height);
  if (picture_->size() != shown) picture_->resize(shown);

  // The frame is stored bottom-up: its last row is the top of the picture.
  QImage image(frame.width, frame.height, QImage::Format_BGR888);
  const size_t row_bytes = static_cast<size_t>(frame.width) * 3;
  for (int y = 0; y < frame.height; ++y) {
    const uint8_t* source = frame.pixels + static_cast<size_t>(frame.height - 1 - y) * frame.stride;
    std::memcpy(image.scanLine(y), source, row_bytes);
  }
  picture_->SetImage(std::move(image));

  bool fitted = false;
  if (first_frame_) {
    first_frame_ = false;
    if (width() != shown.width() || height() - header_height_ != shown.height()) {
      int client_width = width();
      if (shown.width() < kMinimumPictureWidth) {
        picture_->move(client_width / 2 - shown.width() / 2, header_height_);
      } else {
        client_width = shown.width();
        picture_->move(0, header_height_);
      }
      SetClientSize(client_width, header_height_ + shown.height());
      fitted = true;
    }
  }

  const auto now = std::chrono::steady_clock::now();
  if (fitted || now - last_paint_ >= kPaintInterval) {
    last_paint_ = now;
    picture_->repaint();
  } else {
    picture_->update();
  }
}

void PreviewWindow::Unload() {
  unloading_ = true;
  close();
}

void PreviewWindow::cmdCancel_Click() {
  ErrorTrap trap("frmPreview", "cmdCancel_Click");
  if (on_cancel_) on_cancel_();
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
  if (unloading_) {
    event->accept();
    return;
  }
  // The close box acts as Cancel; the run shows its final status and closes the window.
  event->ignore();
  cmdCancel_Click();
}

}  // namespace chronoreel
