#include "ui/main_window.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "engine/codecs.h"
#include "engine/settings.h"
#include "time/date_time.h"
#include "ui/compression_dialog.h"
#include "ui/location_dialog.h"
#include "ui/qt_host.h"
#include "ui/splash_about.h"

namespace chronoreel {

namespace {

constexpr const char* kFpsList[] = {"60", "30", "24", "20", "15", "12", "10", "6", "5", "3", "2", "1"};
constexpr int kFpsFallbackIndex = 2;  // "24"
// By StampPosition.
constexpr const char* kStampCorners[] = {"Top left", "Top right", "Bottom left", "Bottom right"};

// Numbers as the user reads them: the locale's decimal comma where it has one, but no digit
// grouping and no digits of other scripts, so that the text reads back as the same number.
QString NumberText(double value, int digits = 15) {
  QString text = QLocale::c().toString(value, 'g', digits);
  if (QLocale().decimalPoint() == ",") text.replace('.', ',');
  return text;
}

std::string TrimBlanks(const QString& text) {
  std::string s = text.toStdString();
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The rows of the start and stop groups, by option index: the box txtStart<stem> shows the
// setting Start<stem> (and Stop likewise). 2 and 3 hold dates, the others hours.
struct TimeBox {
  int option;
  const char* stem;
  const char* caption;
  const char* initial;
  const char* label_suffix;  // lblStartTimeN / lblStopTimeN
  const char* label;
};

constexpr TimeBox kTimeBoxes[] = {
    {1, "TimeRelative", "Now, minus", "24.0", "3", "hours"},
    {2, "TimeToday", "Today at", "6:00:00 AM", "1", "(HH:MM:SS AM/PM)"},
    {3, "TimeAbsolute", "", "12/31/2002 11:22:33 PM", "2", "(MM/DD/YYYY HH:MM:SS AM/PM)"},
    {4, "TimeSunriseRelative", "Sunrise +/-", "24.0", "4", "hours"},
    {5, "TimeSunsetRelative", "Sunset +/-", "24.0", "5", "hours"},
};

const SettingInfo& TimeSetting(bool start, int option) {
  return FindSetting(std::string(start ? "Start" : "Stop") + kTimeBoxes[option - 1].stem);
}

// The controls that show one setting each. Typing into a box first selects the option it
// belongs to (`group`, `option`), as a click would; the click writes its setting first.
struct Binding {
  const char* control;
  const char* property;
  const char* group = nullptr;
  int option = 0;
};

const Binding kBindings[] = {
    {"txtImageDirectory", "StillDirectory"},
    {"txtImageFilter", "ImageFilter"},
    {"chkIncludeSubfolders", "IncludeSubfolders"},
    {"chkDeleteOlderImages", "DeleteOldImages"},
    {"txtDeleteOlderImagesHours", "DeleteOldImagesHours"},
    {"optStartTime", "StartTimeOption"},
    {"optStopTime", "StopTimeOption"},
    {"txtStartTimeRelative", "StartTimeRelative", "optStartTime", 1},
    {"txtStartTimeSunriseRelative", "StartTimeSunriseRelative", "optStartTime", 4},
    {"txtStartTimeSunsetRelative", "StartTimeSunsetRelative", "optStartTime", 5},
    {"txtStopTimeRelative", "StopTimeRelative", "optStopTime", 1},
    {"txtStopTimeSunriseRelative", "StopTimeSunriseRelative", "optStopTime", 4},
    {"txtStopTimeSunsetRelative", "StopTimeSunsetRelative", "optStopTime", 5},
    {"txtImageInterval", "ImagesPerHour", "optImageInterval", 1},
    {"txtDuplicateCount", "DuplicateCount"},
    {"optTimeStamp", "TimeStampOption"},
    {"txtStampText", "StampText"},
    {"cboStampPosition", "StampPosition"},
    {"txtStampSize", "StampSize"},
    {"txtDeflickerFrames", "DeflickerFrames"},
    {"txtOutputPath", "OutputAVIPath"},
    {"optMovieSize", "MovieSizeOption"},
    {"txtMovieWidth", "MovieSizeWidth", "optMovieSize", 1},
    {"txtMovieHeight", "MovieSizeHeight", "optMovieSize", 1},
    {"txtPostGenerationShell", "PostGenerationShell"},
};

// A box's text into its setting: text without surrounding blanks, numbers in the user's
// form; a setting that can hold "no number" keeps text that is none as such.
void StoreBoxText(MovieGen& m, const SettingInfo& s, const QString& text) {
  const std::string typed = text.toStdString();
  switch (s.type) {
    case SettingType::Text: return s.load(m, TrimBlanks(text));
    case SettingType::Single:
      return s.set_number(m, TryCDblNI(typed).value_or(std::numeric_limits<double>::quiet_NaN()));
    case SettingType::Real: return s.set_number(m, Str2Dbl(typed));
    default: return s.set_number(m, Str2Lng(typed));
  }
}

QString BoxText(const MovieGen& m, const SettingInfo& s) {
  switch (s.type) {
    case SettingType::Text: return QString::fromStdString(s.text(m));
    // A single-precision value: seven digits say all it holds.
    case SettingType::Single: return NumberText(s.number(m), 7);
    case SettingType::Real: return NumberText(s.number(m));
    default: return QString::number(static_cast<int32_t>(s.number(m)));
  }
}

// The value of a date box's text: a date and time for "absolute"; for "today" only a time
// of day, since a text with a day in it would be cut to the last second of the day.
std::optional<double> DateBoxValue(int option, const QString& text) {
  std::optional<double> value = ParseDateText(text.toStdString());
  if (option == 2 && value && (*value < 0 || *value >= 1)) value.reset();
  return value;
}

// Sets an edit box's text without leaving the cursor at the start of a long path.
void SetText(QLineEdit* box, const QString& text) {
  if (box->text() != text) box->setText(text);
}

}  // namespace

MainWindow::MainWindow(Application& app, QtHost& host) : app_(app), host_(host) {
  setObjectName("frmMain");
  setWindowTitle("Chronoreel");
  BuildMenus();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(BuildInput());
  layout->addWidget(BuildTimeFilter());

  auto* lower = new QHBoxLayout;
  lower->addWidget(BuildOutput(), 1);
  auto* right = new QVBoxLayout;
  right->addWidget(BuildMovieSize());
  right->addWidget(BuildTimeStamps());
  right->addWidget(BuildImageInterval());
  right->addStretch();
  lower->addLayout(right, 1);
  layout->addLayout(lower);

  auto* bottom = new QHBoxLayout;
  chkMovieDirection = new QCheckBox("Reverse Frame Order", central);
  chkMovieDirection->setObjectName("chkMovieDirection");
  connect(chkMovieDirection, &QCheckBox::toggled, this, [this](bool checked) {
    ErrorTrap trap("frmMain", "chkMovieDirection_Click");
    if (!updating_) app_.movie.SetMovieDirection(checked ? -1 : 1);
  });
  cmdMakeMovie = new QPushButton("&Make Movie", central);
  cmdMakeMovie->setObjectName("cmdMakeMovie");
  connect(cmdMakeMovie, &QPushButton::clicked, this, [this] { cmdMakeMovie_Click(); });
  auto* quit = new QPushButton("&Quit", central);
  quit->setObjectName("cmdQuit");
  connect(quit, &QPushButton::clicked, this, [this] {
    ErrorTrap trap("frmMain", "cmdQuit_Click");
    close();
  });
  bottom->addWidget(chkMovieDirection);
  bottom->addStretch();
  bottom->addWidget(cmdMakeMovie);
  bottom->addWidget(quit);
  layout->addLayout(bottom);
  setCentralWidget(central);
  Bind();
  updating_ = true;  // the enabled states only: nothing is loaded yet
  optUseTimeFilter_Click(0);
  optImageInterval_Click(0);
  updating_ = false;
}

MainWindow::~MainWindow() = default;

AboutBox* MainWindow::About() const { return about_.data(); }

QLineEdit* MainWindow::NewText(const QString& name, const char* initial) {
  auto* box = new QLineEdit(initial, this);
  box->setObjectName(name);
  return box;
}

QCheckBox* MainWindow::NewCheck(const char* name, const char* caption) {
  auto* check = new QCheckBox(caption, this);
  check->setObjectName(name);
  return check;
}

QLabel* MainWindow::NewLabel(const char* name, const QString& caption) {
  auto* label = new QLabel(caption, this);
  if (name != nullptr) label->setObjectName(name);
  return label;
}

QRadioButton* MainWindow::NewOption(QButtonGroup*& group, const char* array, int index, const char* caption) {
  if (group == nullptr) {
    group = new QButtonGroup(this);
    group->setObjectName(array);
  }
  auto* option = new QRadioButton(caption, this);
  option->setObjectName(QString("%1_%2").arg(array).arg(index));
  group->addButton(option, index);
  return option;
}

void MainWindow::ConnectText(QLineEdit* box, std::string procedure,
                             std::function<void(const QString&)> handler) {
  connect(box, &QLineEdit::textChanged, this, [this, procedure, handler](const QString& text) {
    ErrorTrap trap("frmMain", procedure.c_str());
    if (!updating_) handler(text);
  });
}

// An option's click handler runs whenever it becomes selected, also from code.
void MainWindow::OptionClick(std::string procedure, QButtonGroup* group, std::function<void(int)> handler) {
  connect(group, &QButtonGroup::idToggled, this, [procedure, handler](int id, bool checked) {
    if (!checked) return;
    ErrorTrap trap("frmMain", procedure.c_str());
    handler(id);
  });
}

// Each control of kBindings writes its setting, unless the window is filling the controls.
void MainWindow::Bind() {
  for (const Binding& b : kBindings) {
    const SettingInfo& s = FindSetting(b.property);
    const QString name = b.control;
    const std::string procedure = b.control + std::string(name.startsWith("txt") ? "_Change" : "_Click");
    if (auto* box = findChild<QLineEdit*>(name)) {
      QButtonGroup* selects = b.group ? findChild<QButtonGroup*>(b.group) : nullptr;
      ConnectText(box, procedure, [this, &s, selects, option = b.option](const QString& text) {
        if (selects) selects->button(option)->setChecked(true);
        StoreBoxText(app_.movie, s, text);
      });
    } else if (auto* check = findChild<QCheckBox*>(name)) {
      connect(check, &QCheckBox::toggled, this, [this, &s, procedure](bool checked) {
        ErrorTrap trap("frmMain", procedure.c_str());
        if (!updating_) s.set_number(app_.movie, checked);
      });
    } else if (auto* list = findChild<QComboBox*>(name)) {
      connect(list, &QComboBox::activated, this, [this, &s, procedure](int index) {
        ErrorTrap trap("frmMain", procedure.c_str());
        if (!updating_) s.set_number(app_.movie, index);
      });
    } else {
      OptionClick(procedure, findChild<QButtonGroup*>(name), [this, &s](int i) {
        if (!updating_) s.set_number(app_.movie, i);
      });
    }
  }
}

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, const char* name, const char* caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
  };
  auto separator = [](QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    return action;
  };
  auto command = [this](QAction* action, const char* procedure, std::function<void()> body) {
    connect(action, &QAction::triggered, this, [procedure, body] {
      ErrorTrap trap("frmMain", procedure);
      body();
    });
  };

  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("mnuFile");
  command(add(file, "mnuNewSetup", "&New Setup"), "mnuNewSetup_Click", [this] { app_.docs.NewFile(); });
  command(add(file, "mnuOpen", "&Open Setup"), "mnuOpen_Click", [this] { app_.docs.OpenFile(); });
  mnuSave = add(file, "mnuSave", "&Save Setup");
  command(mnuSave, "mnuSave_Click", [this] { app_.docs.SaveFile(); });
  mnuSave->setEnabled(false);
  mnuSaveAs = add(file, "mnuSaveAs", "Save &As Setup");
  command(mnuSaveAs, "mnuSaveAs_Click", [this] { app_.docs.SaveAsFile(); });
  mnuSepFiles = separator(file, "mnuSepFiles");
  mnuSepFiles->setVisible(false);
  for (int i = 0; i < 4; ++i) {
    mnuFiles[i] = file->addAction(QString());
    mnuFiles[i]->setObjectName(QString("mnuFiles_%1").arg(i));
    mnuFiles[i]->setVisible(false);
    command(mnuFiles[i], "mnuFiles_Click", [this, i] { app_.docs.OpenRecentFile(i); });
  }
  separator(file, "mnuSep2");
  command(add(file, "mnuQuit", "&Quit"), "mnuQuit_Click", [this] { close(); });

  QMenu* settings = menuBar()->addMenu("&Settings");
  settings->setObjectName("mnuSettings");
  connect(add(settings, "mnuLocation", "&Location"), &QAction::triggered, this, [this] { mnuLocation_Click(); });

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("mnuHelp");
  command(add(help, "mnuOnlineHelp", "&Online Help"), "mnuOnlineHelp_Click", [this] { OpenManual(); });
  separator(help, "mnuSep7");
  command(add(help, "mnuOnlineUpdates", "Online &Updates"), "mnuOnlineUpdates_Click", [this] { OpenManual(); });
  separator(help, "mnuSep8");
  command(add(help, "mnuWebPage", "&Chronoreel Web Page"), "mnuWebPage_Click", [this] { OpenManual(); });
  separator(help, "mnuSep10");
  connect(add(help, "mnuAbout", "&About"), &QAction::triggered, this, [this] { mnuAbout_Click(); });
}

QWidget* MainWindow::BuildInput() {
  auto* box = new QWidget(this);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  QLabel* heading = NewLabel("lblInput", "Input:");
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  grid->addWidget(heading, 0, 0, 1, 4);

  txtImageDirectory = NewText("txtImageDirectory", "");
  auto* browse = new QPushButton("Browse", this);
  browse->setObjectName("cmdBrowseImageDirectory");
  connect(browse, &QPushButton::clicked, this, [this] { cmdBrowseImageDirectory_Click(); });
  grid->addWidget(NewLabel("lblImageDirectory", "Still Image Directory:"), 1, 0);
  grid->addWidget(txtImageDirectory, 1, 1, 1, 2);
  grid->addWidget(browse, 1, 3);

  grid->addWidget(NewLabel("lblImageFilter", "File Filter (typ. *.jpg):"), 2, 0);
  grid->addWidget(NewText("txtImageFilter", "*.jpg"), 2, 1, 1, 2);
  auto* subfolders = NewCheck("chkIncludeSubfolders", "Include subfolders");
  subfolders->setToolTip("Also the stills in every folder below, such as dated folders (2026/12/08).");
  grid->addWidget(subfolders, 2, 3);

  // The original form's text, shown until the first UpdateSetupControls: not the setting's default.
  QLineEdit* hours = NewText("txtDeleteOlderImagesHours", "72");
  hours->setMaximumWidth(hours->fontMetrics().horizontalAdvance("0000000000"));
  auto* delete_row = new QHBoxLayout;
  delete_row->addWidget(NewCheck("chkDeleteOlderImages", "Delete Images Older Than"));
  delete_row->addWidget(hours);
  delete_row->addWidget(NewLabel("lblDeleteHours", "Hours"));
  delete_row->addStretch();
  grid->addLayout(delete_row, 3, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  return box;
}

QGroupBox* MainWindow::BuildTimeGroup(bool start) {
  auto* group = new QGroupBox(start ? "Start Time" : "Stop Time", this);
  group->setObjectName(start ? "frmTimeFilterStart" : "frmTimeFilterStop");
  time_filter_widgets_ << group;
  QButtonGroup*& options = start ? optStartTime : optStopTime;
  const char* array = start ? "optStartTime" : "optStopTime";
  auto* grid = new QGridLayout(group);
  time_filter_widgets_ << NewOption(options, array, 0, "Now");
  grid->addWidget(options->button(0), 0, 0, 1, 3);
  const int date_width = fontMetrics().horizontalAdvance("12/31/2002 11:22:33 PM") + 16;
  for (const TimeBox& row : kTimeBoxes) {
    QRadioButton* option = NewOption(options, array, row.option, row.caption);
    QLineEdit* box = NewText(QString(start ? "txtStart" : "txtStop") + row.stem, row.initial);
    box->setMinimumWidth(row.option == 3 ? date_width : date_width / 2);
    const QString label_name = QString(start ? "lblStartTime" : "lblStopTime") + row.label_suffix;
    QLabel* label = NewLabel(nullptr, row.label);
    label->setObjectName(label_name);
    grid->addWidget(option, row.option, 0);
    grid->addWidget(box, row.option, 1);
    grid->addWidget(label, row.option, 2);
    time_filter_widgets_ << option << box << label;
    (start ? start_texts_ : stop_texts_)[row.option] = box;
    const int index = row.option;
    if (index != 2 && index != 3) continue;  // hours: bound as the other number boxes
    ConnectText(box, box->objectName().toStdString() + "_Change",
                [this, start, index](const QString& text) { DateText_Change(start, index, text); });
    // A date that the user finished entering is the value later edits fall back to.
    connect(box, &QLineEdit::editingFinished, this, [this, start, index, box] {
      if (const auto value = DateBoxValue(index, box->text())) DateBaseline(start, index) = *value;
    });
  }
  grid->setColumnStretch(2, 1);
  return group;
}

QWidget* MainWindow::BuildTimeFilter() {
  auto* group = new QGroupBox("Time Filter", this);
  group->setObjectName("fraTimeFilter");
  auto* grid = new QGridLayout(group);
  grid->addWidget(NewOption(optUseTimeFilter, "optUseTimeFilter", 0, "Ignore File Time"), 0, 0, 1, 2);
  grid->addWidget(NewOption(optUseTimeFilter, "optUseTimeFilter", 1, "Use Start to Stop Time:"), 1, 0, 1, 2);
  QLabel* start_label = NewLabel("lblTimeFilterStart", "Start:");
  QLabel* stop_label = NewLabel("lblTimeFilterStop", "Stop:");
  time_filter_widgets_ << start_label << stop_label;
  grid->addWidget(start_label, 2, 0);
  grid->addWidget(stop_label, 2, 1);
  grid->addWidget(BuildTimeGroup(true), 3, 0);
  grid->addWidget(BuildTimeGroup(false), 3, 1);
  OptionClick("optUseTimeFilter_Click", optUseTimeFilter, [this](int i) { optUseTimeFilter_Click(i); });
  return group;
}

QWidget* MainWindow::BuildOutput() {
  auto* box = new QWidget(this);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  QLabel* heading = NewLabel("lblOutput", "Output:");
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  grid->addWidget(heading, 0, 0, 1, 2);

  QLabel* path_label = NewLabel("lblOutputPath", "Output Movie Path (.avi, .mp4, .mov, .mkv or .webm):");
  grid->addWidget(path_label, 1, 0, 1, 2);
  txtOutputPath = NewText("txtOutputPath", "");
  auto* browse = new QPushButton("Browse", this);
  browse->setObjectName("cmdBrowseOutputPath");
  connect(browse, &QPushButton::clicked, this, [this] { cmdBrowseOutputPath_Click(); });
  grid->addWidget(txtOutputPath, 2, 0);
  grid->addWidget(browse, 2, 1);
  txtOutputPath->setToolTip("The ending chooses the container: .mp4, .m4v, .mov, .mkv or .webm; "
                            "any other writes AVI.");

  auto* compression = new QPushButton("Compression Options", this);
  compression->setObjectName("cmdShowCompressionOptions");
  connect(compression, &QPushButton::clicked, this, [this] { cmdShowCompressionOptions_Click(); });
  grid->addWidget(compression, 3, 0, 1, 2, Qt::AlignLeft);

  grid->addWidget(NewLabel("lblPostGenerationShell", "Post-Generation Shell (see manual for tags):"), 4, 0, 1, 2);
  grid->addWidget(NewText("txtPostGenerationShell", ""), 5, 0, 1, 2);

  auto* fps_row = new QHBoxLayout;
  fps_row->addWidget(NewLabel("lblFPS", "Frames per second:"));
  cmbFPS = new QComboBox(this);
  cmbFPS->setObjectName("cmbFPS");
  for (const char* fps : kFpsList) cmbFPS->addItem(fps);
  connect(cmbFPS, &QComboBox::activated, this, [this](int index) {
    ErrorTrap trap("frmMain", "cmbFPS_Click");
    if (!updating_) app_.movie.SetMovieFPS(Str2Lng(cmbFPS->itemText(index).toStdString()));
  });
  fps_row->addWidget(cmbFPS);
  fps_row->addSpacing(fontMetrics().horizontalAdvance("0000"));
  fps_row->addWidget(NewLabel("lblDeflickerFrames", "Deflicker over"));
  QLineEdit* deflicker = NewText("txtDeflickerFrames", "0");
  deflicker->setMaximumWidth(fontMetrics().horizontalAdvance("000000") + 12);
  deflicker->setToolTip(QString("Evens out the brightness over this many frames (%1 to %2); 0 is off.")
                            .arg(kDeflickerWindows.lo)
                            .arg(kDeflickerWindows.hi));
  fps_row->addWidget(deflicker);
  fps_row->addWidget(NewLabel("lblDeflickerUnit", "frames (0 = off)"));
  fps_row->addStretch();
  grid->addLayout(fps_row, 6, 0, 1, 2);
  grid->addWidget(BuildDateStamp(), 7, 0, 1, 2);
  grid->setRowStretch(8, 1);
  grid->setColumnStretch(0, 1);
  return box;
}

QWidget* MainWindow::BuildMovieSize() {
  auto* group = new QGroupBox("Movie Size", this);
  group->setObjectName("fraMovieSize");
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(NewOption(optMovieSize, "optMovieSize", 0, "Based on first image"));
  auto* row = new QHBoxLayout;
  row->addWidget(NewOption(optMovieSize, "optMovieSize", 1, ""));
  QLineEdit* width = NewText("txtMovieWidth", "320");
  QLineEdit* height = NewText("txtMovieHeight", "240");
  const int digits = fontMetrics().horizontalAdvance("000000") + 12;
  width->setMaximumWidth(digits);
  height->setMaximumWidth(digits);
  row->addWidget(width);
  row->addWidget(NewLabel("lblMovieSizeX", "x"));
  row->addWidget(height);
  row->addWidget(NewLabel("lblMovieSizeWH", "W x H"));
  row->addStretch();
  layout->addLayout(row);
  QLabel* note = NewLabel("lblMovieSizeNote",
                          "Width must be a multiple of 4.  It will be rounded up at generation if necessary.");
  note->setWordWrap(true);
  layout->addWidget(note);
  return group;
}

QWidget* MainWindow::BuildTimeStamps() {
  auto* group = new QGroupBox("Time Stamps", this);
  group->setObjectName("fraTimeStamps");
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(NewOption(optTimeStamp, "optTimeStamp", 0, "Use the file's last modified date"));
  layout->addWidget(NewOption(optTimeStamp, "optTimeStamp", 1, "Use YYMMDDHHMMSSdd naming"));
  layout->addWidget(NewOption(optTimeStamp, "optTimeStamp", 2, "Use the capture time in the picture (EXIF)"));
  return group;
}

QWidget* MainWindow::BuildImageInterval() {
  auto* group = new QGroupBox("Image Interval", this);
  group->setObjectName("fraImageInterval");
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(NewOption(optImageInterval, "optImageInterval", 0, "Use all images"));
  auto* per_hour = new QHBoxLayout;
  per_hour->addWidget(NewOption(optImageInterval, "optImageInterval", 1, ""));
  QLineEdit* interval = NewText("txtImageInterval", "60");
  interval->setMaximumWidth(fontMetrics().horizontalAdvance("00000000") + 12);
  per_hour->addWidget(interval);
  per_hour->addWidget(NewLabel("lblImagesPerHour", "images per hour"));
  per_hour->addStretch();
  layout->addLayout(per_hour);
  auto* repeats = new QHBoxLayout;
  lblDuplicateCount = NewLabel("lblDuplicateCount", "Max repeats per image:");
  txtDuplicateCount = NewText("txtDuplicateCount", "2");
  txtDuplicateCount->setMaximumWidth(fontMetrics().horizontalAdvance("00000000") + 12);
  repeats->addWidget(lblDuplicateCount);
  repeats->addWidget(txtDuplicateCount);
  repeats->addStretch();
  layout->addLayout(repeats);
  OptionClick("optImageInterval_Click", optImageInterval, [this](int i) { optImageInterval_Click(i); });
  return group;
}

QWidget* MainWindow::BuildDateStamp() {
  auto* group = new QGroupBox("Date stamp", this);
  group->setObjectName("fraDateStamp");
  auto* grid = new QGridLayout(group);
  grid->addWidget(NewLabel("lblStampText", "Text (e.g. %Y-%m-%d %H:%M; empty for none):"), 0, 0, 1, 5);
  QLineEdit* text = NewText("txtStampText", "");
  text->setToolTip("The tags of the post-generation command and the still's own time in "
                   "strftime fields: %Y %m %d %H %M %S, %b, %A ...");
  grid->addWidget(text, 1, 0, 1, 5);

  grid->addWidget(NewLabel("lblStampPosition", "Corner:"), 2, 0);
  auto* corner = new QComboBox(this);
  corner->setObjectName("cboStampPosition");
  for (const char* name : kStampCorners) corner->addItem(name);
  grid->addWidget(corner, 2, 1);
  grid->addWidget(NewLabel("lblStampSize", "Height:"), 2, 2, Qt::AlignRight);
  QLineEdit* size = NewText("txtStampSize", "5");
  size->setMaximumWidth(fontMetrics().horizontalAdvance("000000") + 12);
  grid->addWidget(size, 2, 3);
  const QString heights = QString("% of the movie (%1 to %2)").arg(kStampHeights.lo).arg(kStampHeights.hi);
  grid->addWidget(NewLabel("lblStampSizeUnit", heights), 2, 4);
  grid->setColumnStretch(4, 1);
  return group;
}

void MainWindow::optUseTimeFilter_Click(int index) {
  const bool enabled = index == 1;
  for (QWidget* widget : time_filter_widgets_) widget->setEnabled(enabled);
  if (!updating_) app_.movie.SetTimeOption(index);
}

void MainWindow::optImageInterval_Click(int index) {
  const bool enabled = index == 1;
  lblDuplicateCount->setEnabled(enabled);
  txtDuplicateCount->setEnabled(enabled);
  if (!updating_) app_.movie.SetImageIntervalOption(index);
}

void MainWindow::DateText_Change(bool start, int option, const QString& text) {
  (start ? optStartTime : optStopTime)->button(option)->setChecked(true);
  // A text that is no date leaves the setting as it was before the edit, not at a date
  // that the first part of the text happened to spell ("1/2/20" on the way to "1/2/2025").
  const auto value = DateBoxValue(option, text);
  TimeSetting(start, option).set_number(app_.movie, value ? *value : DateBaseline(start, option));
}

double& MainWindow::DateBaseline(bool start, int option) {
  return date_baselines_[start ? 0 : 1][option == 2 ? 0 : 1];
}

void MainWindow::UpdateSetupControls() {
  ErrorTrap trap("frmMain", "UpdateSetupControls");
  const MovieGen& m = app_.movie;
  cmdMakeMovie->setEnabled(true);
  updating_ = true;
  for (const Binding& b : kBindings) {
    const SettingInfo& s = FindSetting(b.property);
    const QString name = b.control;
    if (auto* box = findChild<QLineEdit*>(name)) {
      SetText(box, BoxText(m, s));
    } else if (auto* check = findChild<QCheckBox*>(name)) {
      check->setChecked(s.number(m) != 0);
    } else if (auto* list = findChild<QComboBox*>(name)) {
      list->setCurrentIndex(std::clamp(static_cast<int>(s.number(m)), 0, list->count() - 1));
    } else if (QAbstractButton* option = findChild<QButtonGroup*>(name)->button(static_cast<int>(s.number(m)))) {
      option->setChecked(true);
    }
  }
  chkMovieDirection->setChecked(m.MovieDirection() != 1);

  const int time_option = std::clamp(m.TimeOption(), 0, 1);
  optUseTimeFilter->button(time_option)->setChecked(true);
  optUseTimeFilter_Click(time_option);  // the enabled states, also when already selected
  for (const bool start : {true, false}) {
    for (const int option : {2, 3}) {
      const double value = TimeSetting(start, option).number(m);
      DateBaseline(start, option) = value;
      const char* pattern = option == 2 ? "HH:MM:SS AM/PM" : "MM/DD/YYYY HH:MM:SS AM/PM";
      SetText((start ? start_texts_ : stop_texts_)[option], QString::fromStdString(FormatDateTime(value, pattern)));
    }
  }
  const int interval = std::clamp(m.ImageIntervalOption(), 0, 1);
  optImageInterval->button(interval)->setChecked(true);
  optImageInterval_Click(interval);

  cmbFPS->clear();
  int fps_index = kFpsFallbackIndex;
  for (int i = 0; i < static_cast<int>(std::size(kFpsList)); ++i) {
    cmbFPS->addItem(kFpsList[i]);
    if (Str2Lng(kFpsList[i]) == m.MovieFPS()) fps_index = i;
  }
  cmbFPS->setCurrentIndex(fps_index);
  updating_ = false;
}

void MainWindow::UpdateLastFilesMenu() {
  const auto& files = app_.state.LastFiles;
  for (int i = 0; i < 4; ++i) {
    const bool used = !files[i].empty();
    mnuFiles[i]->setVisible(used);
    // The full path, with no accelerator taken from an "&" in it.
    mnuFiles[i]->setText(QString::fromStdString(files[i]).replace("&", "&&"));
  }
  mnuSepFiles->setVisible(!files[0].empty());
}

void MainWindow::EnableSaveCommands() {
  mnuSave->setEnabled(true);
  mnuSaveAs->setEnabled(true);
}

void MainWindow::cmdMakeMovie_Click() {
  ErrorTrap trap("frmMain", "cmdMakeMovie_Click");
  running_ = true;
  setEnabled(false);
  app_.movie.MakeMovie(
      {.show_progress = app_.state.cmd.ShowProgress, .unattended = app_.state.cmd.AutomatedRun});
  setEnabled(true);
  running_ = false;
}

void MainWindow::cmdBrowseImageDirectory_Click() {
  ErrorTrap trap("frmMain", "cmdBrowseImageDirectory_Click");
  FileChoice choice;
  choice.title = "Still Image Directory Selection";
  choice.initial = txtImageDirectory->text().toStdString();
  choice.kind = FileChoice::Kind::Directory;
  const auto chosen = host_.ChooseFile(choice);
  if (!chosen || chosen->empty()) return;
  // A folder is taken as it is; a file stands for the folder that holds it.
  std::error_code error;
  std::filesystem::path path(*chosen);
  std::string folder = std::filesystem::is_directory(path, error) ? path.string() : path.parent_path().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (Lower(TrimBlanks(QString::fromStdString(folder))) != Lower(TrimBlanks(txtImageDirectory->text()))) {
    txtImageDirectory->setText(QString::fromStdString(folder));
  }
}

void MainWindow::cmdBrowseOutputPath_Click() {
  ErrorTrap trap("frmMain", "cmdBrowseOutputPath_Click");
  FileChoice choice;
  choice.title = "Output AVI File Selection";
  choice.filter = "Movies (*.avi *.mp4 *.m4v *.mov *.mkv *.webm);;AVI (*.avi)";
  choice.default_suffix = "avi";
  choice.initial = txtOutputPath->text().toStdString();
  choice.kind = FileChoice::Kind::Save;
  const auto chosen = host_.ChooseFile(choice);
  if (chosen && !chosen->empty()) txtOutputPath->setText(QString::fromStdString(*chosen));
}

void MainWindow::cmdShowCompressionOptions_Click() {
  ErrorTrap trap("frmMain", "cmdShowCompressionOptions_Click");
  // Only what the container of the current output path can hold is offered.
  CompressionDialog dialog(EncodersForOutput(app_.movie.OutputAVIPath()), CurrentCompression(app_.movie),
                           this);
  if (dialog.exec() == QDialog::Accepted) StoreCompressionChoice(app_.movie, dialog.Choice());
}

void MainWindow::mnuLocation_Click() {
  ErrorTrap trap("frmMain", "mnuLocation_Click");
  setEnabled(false);
  {
    // Not a child of this window: it must stay enabled while this one is not.
    LocationDialog dialog(app_.state.location, app_.sun);
    dialog.show();
    while (dialog.IsOpen()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  setEnabled(true);
  host_.BringMainWindowToFront();
}

void MainWindow::mnuAbout_Click() {
  ErrorTrap trap("frmMain", "mnuAbout_Click");
  if (about_ == nullptr) about_ = new AboutBox(host_, this);
  about_->show();
  about_->raise();
}

std::string MainWindow::ManualPath() {
  const std::filesystem::path exe_dir = QCoreApplication::applicationDirPath().toStdString();
  const std::filesystem::path candidates[] = {
      exe_dir / "../share/doc/chronoreel/manual.html", exe_dir / "docs/manual.html",
      exe_dir / "../docs/manual.html",                 exe_dir / "../share/doc/chronoreel/README.md",
      exe_dir / "README.md",                           exe_dir / "../README.md",
  };
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      return std::filesystem::weakly_canonical(candidate, error).string();
    }
  }
  return {};
}

void MainWindow::OpenManual() {
  const std::string path = ManualPath();
  if (path.empty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)))) {
    host_.ShowMessage({"The user manual could not be opened.", "Chronoreel", MessageButtons::Ok,
                       MessageIcon::Exclamation});
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  ErrorTrap trap("frmMain", "Form_QueryUnload");
  // A run holds the settings and the progress window: the window system's close request
  // has to wait for it (the window is disabled, but the frame's close box is not ours).
  if (running_) {
    event->ignore();
    return;
  }
  if (!shut_down_ && !app_.Shutdown()) {
    event->ignore();
    return;
  }
  shut_down_ = true;
  event->accept();
}

}  // namespace chronoreel
