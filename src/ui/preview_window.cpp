#include "ui/preview_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
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
  if (!image_.isNull()) painter.drawImage(QPoint(0, 0), image_);
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
  picture_ = new PicturePane(this);

  // Status on its own line (its texts are long), the counter and Cancel below it.
  const int line = fontMetrics().height();
  const QSize button = cancel_->sizeHint();
  header_height_ = kMargin + line + kMargin + std::max(line, button.height()) + kMargin;
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
  const QSize area = PictureAreaFor(movie_width, movie_height);
  SetClientSize(area.width(), header_height_ + area.height());
  picture_->setGeometry(0, header_height_, area.width(), area.height());
}

void PreviewWindow::ShowFrame(const FrameView& frame) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0 ||
      frame.stride < frame.width * 3) {
    return;
  }
  if (picture_->width() != frame.width || picture_->height() != frame.height) {
    picture_->resize(frame.width, frame.height);
  }

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
    if (width() != frame.width || height() - header_height_ != frame.height) {
      int client_width = width();
      if (frame.width < kMinimumPictureWidth) {
        picture_->move(client_width / 2 - frame.width / 2, header_height_);
      } else {
        client_width = frame.width;
        picture_->move(0, header_height_);
      }
      SetClientSize(client_width, header_height_ + frame.height);
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
