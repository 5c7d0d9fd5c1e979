#pragma once
// frmMain: edits the settings of the one MovieGen object and starts a run. The window keeps
// no settings of its own: edits go straight into the settings, and the settings come back
// into the controls only through UpdateSetupControls.
#include <array>
#include <functional>
#include <string>

#include <QMainWindow>
#include <QPointer>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;

namespace chronoreel {

namespace field_checks {
struct FieldCheck;
}
class AboutBox;
class Application;
class QtHost;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(Application& app, QtHost& host);
  ~MainWindow() override;

  void UpdateSetupControls();
  void UpdateLastFilesMenu();
  void EnableSaveCommands();
  // "Chronoreel - file", with the mark of unsaved edits while SetupChanged holds.
  void ShowDocumentTitle(const std::string& title);

  // Where the manual lies: the HTML manual when installed, else the README; empty when
  // neither can be found.
  static std::string ManualPath();

  // The size at which every group shows without scrolling.
  QSize sizeHint() const override;

  // The open about box (nullptr when closed).
  AboutBox* About() const;

  // The command handlers, public so that start-up and the screenshots can run them.
  void cmdMakeMovie_Click();
  // The dry run of "Make Movie" in a window: frames, length, deletions, command.
  void cmdPreviewSelection_Click();
  void cmdBrowseImageDirectory_Click();
  void cmdBrowseOutputPath_Click();
  void cmdShowCompressionOptions_Click();
  void mnuLocation_Click();
  void mnuAbout_Click();
  void OpenManual();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct TimeRow;
  void BuildMenus();
  QWidget* BuildInput();
  QWidget* BuildTimeFilter();
  QGroupBox* BuildTimeGroup(bool start);
  QWidget* BuildOutput();
  QWidget* BuildMovieSize();
  QWidget* BuildTimeStamps();
  QWidget* BuildImageInterval();
  QWidget* BuildDateStamp();
  QWidget* BuildLongTerm();

  QLineEdit* NewText(const QString& name, const char* initial);
  QCheckBox* NewCheck(const char* name, const char* caption);
  QLabel* NewLabel(const char* name, const QString& caption);
  QRadioButton* NewOption(QButtonGroup*& group, const char* array, int index, const char* caption);
  void ConnectText(QLineEdit* box, std::string procedure, std::function<void(const QString&)> handler);
  // Connects the controls that show one setting each to their settings.
  void Bind();

  // Handlers that write settings.
  void optUseTimeFilter_Click(int index);
  void optImageInterval_Click(int index);
  void DateText_Change(bool start, int option, const QString& text);
  // The value a date box's setting keeps while its text is no date: the value shown by the
  // last UpdateSetupControls or the last date the user finished entering there.
  double& DateBaseline(bool start, int option);
  void FillUnsetDate(bool start, int option);
  // Marks a number or date box whose text is no valid value; "Make Movie" asks about those.
  void CheckField(QLineEdit* box, const field_checks::FieldCheck& check);
  bool ConfirmMarkedBoxes();
  void OptionClick(std::string procedure, QButtonGroup* group, std::function<void(int)> handler);
  // Before a run that deletes stills, once a session: asks, with the count the dry run finds.
  bool ConfirmDeletionOnce();

  Application& app_;
  QtHost& host_;
  bool updating_ = false;
  bool running_ = false;
  bool shut_down_ = false;
  bool deletion_confirmed_ = false;
  double date_baselines_[2][2] = {};  // [start, stop][today, absolute]

  QLineEdit* txtImageDirectory = nullptr;
  QButtonGroup* optUseTimeFilter = nullptr;
  QButtonGroup* optStartTime = nullptr;
  QButtonGroup* optStopTime = nullptr;
  QButtonGroup* optMovieSize = nullptr;
  QButtonGroup* optTimeStamp = nullptr;
  QButtonGroup* optImageInterval = nullptr;
  QButtonGroup* optDayHours = nullptr;
  std::array<QLineEdit*, 6> start_texts_{};  // by option index; 0 has none
  std::array<QLineEdit*, 6> stop_texts_{};
  QLineEdit* txtOutputPath = nullptr;
  QComboBox* cmbFPS = nullptr;
  QLineEdit* txtDuplicateCount = nullptr;
  QLabel* lblDuplicateCount = nullptr;
  QCheckBox* chkMovieDirection = nullptr;
  QPushButton* cmdMakeMovie = nullptr;
  QScrollArea* groups_ = nullptr;  // everything but the commands at the bottom
  QList<QWidget*> time_filter_widgets_;  // enabled only with "Use Start to Stop Time:"

  QAction* mnuSave = nullptr;
  QAction* mnuSaveAs = nullptr;
  QAction* mnuSepFiles = nullptr;
  std::array<QAction*, 4> mnuFiles{};

  QPointer<AboutBox> about_;
};

}  // namespace chronoreel
