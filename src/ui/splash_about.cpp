#include "ui/splash_about.h"

#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <thread>

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <unistd.h>

#include "app/core/error_report.h"
#include "ui/window_placement.h"

#ifndef CHRONOREEL_VERSION
#error "CHRONOREEL_VERSION comes from the CMake project version"
#endif

namespace chronoreel {

namespace {

constexpr double kSplashDays = 4.0 / 86400.0;

QPixmap SplashPicture(int width, int height) {
  QPixmap pixmap(width, height);
  QPainter painter(&pixmap);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0.0, QColor(0x1d, 0x2b, 0x53));
  sky.setColorAt(0.6, QColor(0xe0, 0x7a, 0x3c));
  sky.setColorAt(1.0, QColor(0x2a, 0x1a, 0x12));
  painter.fillRect(pixmap.rect(), sky);
  // A strip of film along the bottom.
  const int strip = height / 6;
  painter.fillRect(0, height - strip, width, strip, Qt::black);
  for (int x = 6; x < width; x += 24) {
    painter.fillRect(x, height - strip + 4, 12, 6, QColor(0xdd, 0xdd, 0xdd));
    painter.fillRect(x, height - 10, 12, 6, QColor(0xdd, 0xdd, 0xdd));
  }
  QFont font = painter.font();
  font.setPointSize(28);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, width, height - strip), Qt::AlignCenter, "Chronoreel");
  return pixmap;
}

// A frame of film with the sun rising over a hill: what the program makes of a day.
QPixmap IconPicture(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 64.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x22, 0x22, 0x22));
  painter.drawRoundedRect(QRectF(2 * s, 6 * s, 60 * s, 52 * s), 6 * s, 6 * s);
  QLinearGradient sky(0, 14 * s, 0, 50 * s);
  sky.setColorAt(0.0, QColor(0x1d, 0x2b, 0x53));
  sky.setColorAt(1.0, QColor(0xe0, 0x7a, 0x3c));
  painter.setBrush(sky);
  const QRectF picture(8 * s, 14 * s, 48 * s, 36 * s);
  painter.drawRect(picture);
  painter.save();
  painter.setClipRect(picture);
  painter.setBrush(QColor(0xff, 0xd2, 0x4a));
  painter.drawEllipse(QPointF(32 * s, 44 * s), 11 * s, 11 * s);
  painter.setBrush(QColor(0x2e, 0x5e, 0x2e));
  painter.drawEllipse(QPointF(20 * s, 62 * s), 34 * s, 18 * s);
  painter.restore();
  painter.setBrush(QColor(0xdd, 0xdd, 0xdd));
  for (int i = 0; i < 6; ++i) {
    painter.drawRect(QRectF((7 + 9 * i) * s, 8.5 * s, 5 * s, 3.5 * s));
    painter.drawRect(QRectF((7 + 9 * i) * s, 52 * s, 5 * s, 3.5 * s));
  }
  return pixmap;
}

void CentreOnScreen(QWidget* window) {
  const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  window->move(area.width() / 2 - window->width() / 2, area.height() / 2 - window->height() / 2);
}

bool IsExecutable(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 128}) icon.addPixmap(IconPicture(size));
  return icon;
}

std::string ProgramVersion() {
  const QString version = QCoreApplication::applicationVersion();
  return version.isEmpty() ? std::string(CHRONOREEL_VERSION) : version.toStdString();
}

SplashWindow::SplashWindow() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
  ErrorTrap trap("frmSplash", "Form_Load");
  setObjectName("frmSplash");
  picture_ = new QLabel(this);
  picture_->setObjectName("Picture1");
  picture_->setPixmap(SplashPicture(420, 240));
  picture_->installEventFilter(this);
  auto* version = new QLabel(QString::fromStdString("Version: " + ProgramVersion()), this);
  version->setObjectName("lblVersion");
  version->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 6);
  layout->addWidget(picture_);
  layout->addWidget(version);
  adjustSize();
  CentreOnScreen(this);
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == picture_ && event->type() == QEvent::MouseButtonRelease) {
    ErrorTrap trap("frmSplash", "Picture1_Click");
    hide();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

Splash::Splash(Host& host, NowFunction now) : host_(host), now_(std::move(now)) {}

Splash::~Splash() { delete window_; }

void Splash::ShowSplash() {
  ErrorTrap trap("modSplash", "ShowSplash");
  start_ = now_();
  if (window_ == nullptr) window_ = new SplashWindow;
  window_->show();
  window_->repaint();
  host_.ProcessEvents();
}

void Splash::RedrawSplash() {
  ErrorTrap trap("modSplash", "RedrawSplash");
  if (window_ != nullptr) window_->repaint();
  host_.ProcessEvents();
}

void Splash::CloseSplash() {
  ErrorTrap trap("modSplash", "CloseSplash");
  for (;;) {
    host_.ProcessEvents();
    if (now_() - start_ >= kSplashDays) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // no need to spin
  }
}

void Splash::UnloadSplash() {
  ErrorTrap trap("modSplash", "UnloadSplash");
  delete window_;
  window_ = nullptr;
}

// The information tools of the usual desktops first, then their system monitors.
constexpr const char* kSystemInfoPrograms[] = {
    "hardinfo",    "hardinfo2",          "kinfocenter",         "gnome-system-monitor", "plasma-systemmonitor",
    "ksysguard",   "mate-system-monitor", "xfce4-taskmanager",  "lxtask",
};

std::string FindSystemInfoProgram(const std::string& path_list) {
  for (const char* program : kSystemInfoPrograms) {
    size_t start = 0;
    while (start <= path_list.size()) {
      size_t end = path_list.find(':', start);
      if (end == std::string::npos) end = path_list.size();
      const std::string folder = path_list.substr(start, end - start);
      if (!folder.empty()) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / program;
        if (IsExecutable(candidate)) return candidate.string();
      }
      start = end + 1;
    }
  }
  return {};
}

AboutBox::AboutBox(Host& host, QWidget* main_window) : QWidget(main_window, Qt::Window), host_(host) {
  ErrorTrap trap("frmAbout", "Form_Load");
  setObjectName("frmAbout");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("About Chronoreel");

  auto* icon = new QLabel(this);
  icon->setObjectName("picIcon");
  icon->setPixmap(IconPicture(48));
  auto* image = new QLabel(this);
  image->setObjectName("Image1");
  image->setPixmap(SplashPicture(280, 120));
  auto* title = new QLabel("Chronoreel", this);
  title->setObjectName("lblTitle");
  QFont title_font = title->font();
  title_font.setPointSize(title_font.pointSize() + 6);
  title_font.setBold(true);
  title->setFont(title_font);
  auto* version = new QLabel(QString::fromStdString("Version " + ProgramVersion()), this);
  version->setObjectName("lblVersion");
  auto* description = new QLabel("Time-lapse movies from the stills of a webcam.", this);
  description->setObjectName("lblDescription");
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  auto* disclaimer = new QLabel(
      "Warning: this program is provided as is, without warranty of any kind. It deletes "
      "old still images only when asked to; check the setting before a scheduled run.",
      this);
  disclaimer->setObjectName("lblDisclaimer");
  disclaimer->setWordWrap(true);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("cmdOK");
  ok->setDefault(true);
  auto* sysinfo = new QPushButton("&System Info...", this);
  sysinfo->setObjectName("cmdSysInfo");
  connect(ok, &QPushButton::clicked, this, [this] {
    ErrorTrap click_trap("frmAbout", "cmdOK_Click");
    close();
  });
  connect(sysinfo, &QPushButton::clicked, this, [this] {
    ErrorTrap click_trap("frmAbout", "cmdSysInfo_Click");
    StartSysInfo();
  });

  auto* header = new QHBoxLayout;
  header->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(version);
  texts->addWidget(description);
  texts->addWidget(image);
  header->addLayout(texts, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(disclaimer, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(sysinfo);
  buttons->addStretch();
  bottom->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addWidget(line);
  layout->addLayout(bottom);
  setMinimumWidth(440);
  adjustSize();
  PlaceOver(this, main_window);
}

void AboutBox::StartSysInfo() {
  const char* path = std::getenv("PATH");
  const std::string program = FindSystemInfoProgram(path != nullptr ? path : "");
  if (!program.empty() && QProcess::startDetached(QString::fromStdString(program), {})) return;
  host_.ShowMessage({"System Information Is Unavailable At This Time\n\nNo system information tool was found. "
                     "Install hardinfo or gnome-system-monitor.",
                     "Chronoreel", MessageButtons::Ok, MessageIcon::Information});
}

}  // namespace chronoreel
