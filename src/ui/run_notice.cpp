#include "ui/run_notice.h"

#include <filesystem>
#include <system_error>

#include <QBoxLayout>
#include <QDesktopServices>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QUrl>

namespace chronoreel {

namespace {

// More lines than this would push the window's controls out of sight.
constexpr size_t kShownLogLines = 8;

QString FileName(const std::string& path) {
  return QString::fromStdString(std::filesystem::path(path).filename().string());
}

QString Megabytes(uintmax_t bytes) {
  const double mb = static_cast<double>(bytes) / 1e6;
  return QString::number(mb, 'f', mb < 1 ? 2 : 1) + " MB";
}

}  // namespace

RunOutcome RunOutcome::Of(const MovieGen& movie, std::vector<std::string> log) {
  RunOutcome outcome;
  outcome.end = movie.LastRunEnd();
  outcome.movie_path = movie.OutputAVIPath();
  outcome.frames = movie.LastRunFrames();
  outcome.fps = movie.MovieFPS();
  outcome.log = std::move(log);
  return outcome;
}

RunNotice::RunNotice(QWidget* parent) : QFrame(parent) {
  setObjectName("RunNotice");
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  headline_ = new QLabel(this);
  headline_->setObjectName("lblRunNotice");
  headline_->setWordWrap(true);
  headline_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_ = new QLabel(this);
  details_->setObjectName("lblRunNoticeLog");
  details_->setWordWrap(true);
  details_->setTextFormat(Qt::PlainText);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  open_ = new QPushButton("Open", this);
  open_->setObjectName("cmdNoticeOpen");
  folder_ = new QPushButton("Show in Folder", this);
  folder_->setObjectName("cmdNoticeShowFolder");
  auto* close = new QPushButton("Close", this);
  close->setObjectName("cmdNoticeClose");
  connect(open_, &QPushButton::clicked, this, [this] { OpenUrl(movie_); });
  connect(folder_, &QPushButton::clicked, this, [this] {
    OpenUrl(QString::fromStdString(std::filesystem::path(movie_.toStdString()).parent_path().string()));
  });
  connect(close, &QPushButton::clicked, this, &QWidget::hide);

  auto* texts = new QVBoxLayout;
  texts->addWidget(headline_);
  texts->addWidget(details_);
  auto* row = new QHBoxLayout(this);
  row->addLayout(texts, 1);
  row->addWidget(open_, 0, Qt::AlignTop);
  row->addWidget(folder_, 0, Qt::AlignTop);
  row->addWidget(close, 0, Qt::AlignTop);
  hide();
}

RunNotice* RunNotice::Of(QMainWindow* window) {
  if (auto* notice = window->findChild<RunNotice*>("RunNotice")) return notice;
  QWidget* central = window->centralWidget();
  auto* box = central != nullptr ? qobject_cast<QBoxLayout*>(central->layout()) : nullptr;
  if (box != nullptr) {
    auto* notice = new RunNotice(central);
    box->insertWidget(0, notice);
    return notice;
  }
  // A central widget without a box layout: the notice and it share a new one.
  auto* holder = new QWidget(window);
  auto* column = new QVBoxLayout(holder);
  column->setContentsMargins(0, 0, 0, 0);
  auto* notice = new RunNotice(holder);
  column->addWidget(notice);
  if (central != nullptr) column->addWidget(window->takeCentralWidget(), 1);
  window->setCentralWidget(holder);
  return notice;
}

void RunNotice::HideIn(QMainWindow* window) {
  if (auto* notice = window->findChild<RunNotice*>("RunNotice")) notice->hide();
}

QString RunNotice::Headline(const RunOutcome& outcome) {
  using End = MovieGen::RunEnd;
  const QString name = FileName(outcome.movie_path);
  switch (outcome.end) {
    case End::Written:
    case End::CommandFailed: {
      QString text = "The movie " + name + " is ready: " + QString::number(outcome.frames) + " frames";
      if (outcome.fps > 0) text += ", " + QString::number(outcome.frames / outcome.fps, 'f', 1) + " s";
      std::error_code error;
      const uintmax_t bytes = std::filesystem::file_size(outcome.movie_path, error);
      if (!error) text += ", " + Megabytes(bytes);
      text += ".";
      if (outcome.end == End::CommandFailed) text += " The command afterwards failed.";
      return text;
    }
    case End::NothingToMake: return "No movie was made.";
    case End::WriteFailed: return "The movie " + name + " could not be written.";
    case End::Busy: return "No movie was made: another run is writing " + name + ".";
    case End::Stopped: return "The run was cancelled.";
  }
  return {};
}

void RunNotice::ShowOutcome(const RunOutcome& outcome) {
  headline_->setText(Headline(outcome));
  QStringList lines;
  for (size_t i = 0; i < outcome.log.size() && i < kShownLogLines; ++i) {
    lines << QString::fromStdString(outcome.log[i]);
  }
  if (outcome.log.size() > kShownLogLines) {
    lines << QString("... and %1 more lines on standard error").arg(outcome.log.size() - kShownLogLines);
  }
  details_->setText(lines.join('\n'));
  details_->setVisible(!lines.isEmpty());
  const bool movie = outcome.end == MovieGen::RunEnd::Written || outcome.end == MovieGen::RunEnd::CommandFailed;
  // A relative path is taken from the working directory now, not when a button is pressed.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(outcome.movie_path, error);
  movie_ = QString::fromStdString(error ? outcome.movie_path : absolute.string());
  open_->setVisible(movie);
  folder_->setVisible(movie);
  show();
}

void RunNotice::ShowMessage(const QString& headline) {
  headline_->setText(headline);
  details_->clear();
  details_->hide();
  open_->hide();
  folder_->hide();
  movie_.clear();
  show();
}

QString RunNotice::Text() const {
  return details_->text().isEmpty() ? headline_->text() : headline_->text() + '\n' + details_->text();
}

void RunNotice::OpenUrl(const QString& local_path) {
  const QUrl url = QUrl::fromLocalFile(local_path);
  const bool opened = opener_ ? opener_(url) : QDesktopServices::openUrl(url);
  if (!opened) {
    details_->setText(details_->text() + (details_->text().isEmpty() ? "" : "\n") +
                      "The desktop has no program to open " + local_path + ".");
    details_->show();
  }
}

}  // namespace chronoreel
