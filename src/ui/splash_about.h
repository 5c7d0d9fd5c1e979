#pragma once
// The splash shown at an interactive start, and the about box.
#include <string>

#include <QIcon>
#include <QWidget>

#include "app/core/host.h"
#include "time/clock.h"

class QLabel;

namespace chronoreel {

// "major.minor.revision".
std::string ProgramVersion();

// The program's icon, drawn at the sizes the window system asks for.
QIcon ProgramIcon();

// frmSplash: the program's picture and version. A click on the picture hides it.
class SplashWindow : public QWidget {
  Q_OBJECT
 public:
  SplashWindow();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* picture_ = nullptr;
};

// modSplash: the splash stays up at least four seconds from ShowSplash to the end of
// CloseSplash, while the window system goes on handling events.
class Splash {
 public:
  explicit Splash(Host& host, NowFunction now = Clock);
  ~Splash();
  Splash(const Splash&) = delete;
  Splash& operator=(const Splash&) = delete;

  void ShowSplash();
  void RedrawSplash();
  void CloseSplash();
  void UnloadSplash();
  SplashWindow* Window() const { return window_; }

 private:
  Host& host_;
  NowFunction now_;
  DateTime start_ = 0;
  SplashWindow* window_ = nullptr;
};

// The system-information program found on the PATH given (hardinfo, gnome-system-monitor
// or kinfocenter, in that order); empty when there is none.
std::string FindSystemInfoProgram(const std::string& path_list);

// frmAbout: name, version, disclaimer, OK and "&System Info...".
class AboutBox : public QWidget {
  Q_OBJECT
 public:
  AboutBox(Host& host, QWidget* main_window);

  void StartSysInfo();

 private:
  Host& host_;
};

}  // namespace chronoreel
