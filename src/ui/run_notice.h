#pragma once
// RunNotice: the bar at the top of the main window that says how the last run ended: the
// movie with its frames, length and size and the buttons to open it or its folder, or why
// no movie was made, with the lines the run wrote to its log. It stays until closed or
// until the next run.
#include <functional>
#include <string>
#include <vector>

#include <QFrame>
#include <QString>

#include "engine/movie_gen.h"

class QLabel;
class QMainWindow;
class QPushButton;
class QUrl;

namespace chronoreel {

// What the notice of a run tells.
struct RunOutcome {
  MovieGen::RunEnd end = MovieGen::RunEnd::NothingToMake;
  std::string movie_path;
  int frames = 0;
  double fps = 0;
  std::vector<std::string> log;  // the run's log lines, in order

  static RunOutcome Of(const MovieGen& movie, std::vector<std::string> log);
};

class RunNotice : public QFrame {
  Q_OBJECT
 public:
  using UrlOpener = std::function<bool(const QUrl&)>;

  explicit RunNotice(QWidget* parent);

  // The window's notice, made and placed above its controls the first time.
  static RunNotice* Of(QMainWindow* window);
  // Hides the window's notice, if it has one.
  static void HideIn(QMainWindow* window);

  void ShowOutcome(const RunOutcome& outcome);
  // A notice of no run: the headline and no buttons for a movie.
  void ShowMessage(const QString& headline);

  // "movie.avi: 120 frames, 4.8 s, 3.2 MB"; an early end says why.
  static QString Headline(const RunOutcome& outcome);

  // Open and Show in Folder go through here (the desktop's handler by default).
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }
  QString Text() const;

 private:
  void OpenUrl(const QString& local_path);

  QLabel* headline_ = nullptr;
  QLabel* details_ = nullptr;
  QPushButton* open_ = nullptr;
  QPushButton* folder_ = nullptr;
  QString movie_;
  UrlOpener opener_;
};

}  // namespace chronoreel
