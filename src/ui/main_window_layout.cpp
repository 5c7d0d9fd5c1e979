// The layout of the main window: its groups, controls, names and first texts.
#include "ui/main_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "engine/settings.h"
#include "ui/main_window_form.h"

namespace chronoreel {

using namespace main_form;

namespace {

// By StampPosition.
constexpr const char* kStampCorners[] = {"Top left", "Top right", "Bottom left", "Bottom right"};

}  // namespace

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
  auto* browse = new QPushButton("Browse…", this);
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
  auto* browse = new QPushButton("Browse…", this);
  browse->setObjectName("cmdBrowseOutputPath");
  connect(browse, &QPushButton::clicked, this, [this] { cmdBrowseOutputPath_Click(); });
  grid->addWidget(txtOutputPath, 2, 0);
  grid->addWidget(browse, 2, 1);
  txtOutputPath->setToolTip("The ending chooses the container: .mp4, .m4v, .mov, .mkv or .webm; "
                            "any other writes AVI.");

  auto* compression = new QPushButton("Compression Options…", this);
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

// The keys of runs over weeks or months: which hours and stills of each day, the movie's
// length, whole days for "Today at" and a location of the setup's own.
QWidget* MainWindow::BuildLongTerm() {
  auto* group = new QGroupBox("Each Day", this);
  group->setObjectName("frmLongTerm");
  auto* grid = new QGridLayout(group);
  const int time_width = fontMetrics().horizontalAdvance("12:00:00 AM") + 16;
  const int number_width = fontMetrics().horizontalAdvance("000000") + 12;
  const auto box = [&](const char* name, int width) {
    QLineEdit* text = NewText(name, "");
    text->setMaximumWidth(width);
    return text;
  };
  const auto row = [&](int index, const char* label_name, const char* caption) {
    grid->addWidget(NewLabel(label_name, caption), index, 0);
    auto* line = new QHBoxLayout;
    grid->addLayout(line, index, 1);
    return line;
  };
  const int gap = fontMetrics().horizontalAdvance("0000");

  QHBoxLayout* hours = row(0, "lblDayHours", "Hours of each day:");
  hours->addWidget(NewOption(optDayHours, "optDayHours", 0, "All hours"));
  hours->addSpacing(gap);
  hours->addWidget(NewOption(optDayHours, "optDayHours", 1, "From"));
  QLineEdit* start = box("txtDayHoursStart", time_width);
  start->setMinimumWidth(time_width);
  hours->addWidget(start);
  hours->addWidget(NewLabel("lblDayHoursTo", "to"));
  QLineEdit* stop = box("txtDayHoursStop", time_width);
  stop->setMinimumWidth(time_width);
  stop->setToolTip("A stop before the start keeps the hours past midnight.");
  hours->addWidget(stop);
  hours->addSpacing(gap);
  hours->addWidget(NewOption(optDayHours, "optDayHours", 2, "Sunrise +/-"));
  hours->addWidget(box("txtDayHoursSunriseRelative", number_width));
  hours->addWidget(NewLabel("lblDayHoursSunset", "to sunset +/-"));
  hours->addWidget(box("txtDayHoursSunsetRelative", number_width));
  hours->addWidget(NewLabel("lblDayHoursUnit", "hours"));
  hours->addStretch();

  QHBoxLayout* stills = row(1, "lblDailyTimes", "Stills at");
  QLineEdit* times = NewText("txtDailyTimes", "");
  times->setPlaceholderText("e.g. 12:00 or 09:00,12:00,15:00");
  times->setMinimumWidth(fontMetrics().horizontalAdvance("e.g. 12:00 or 09:00,12:00,15:00") + 16);
  times->setToolTip("Each day gives the still nearest to each of these times; empty: frames per hour as above.");
  stills->addWidget(times);
  stills->addWidget(NewLabel("lblDailyTolerance", "within"));
  stills->addWidget(box("txtDailyToleranceMinutes", number_width));
  stills->addWidget(NewLabel("lblDailyToleranceUnit", "minutes"));
  stills->addSpacing(gap);
  stills->addWidget(NewLabel("lblSkipDark", "Skip stills darker than"));
  stills->addWidget(box("txtSkipDarkBelow", number_width));
  stills->addWidget(NewLabel("lblSkipBright", "or brighter than"));
  stills->addWidget(box("txtSkipBrightAbove", number_width));
  stills->addWidget(NewLabel("lblSkipUnit", "(0 to 255)"));
  stills->addStretch();

  QHBoxLayout* length = row(2, "lblMovieSeconds", "Movie length");
  length->addWidget(box("txtMovieSeconds", number_width));
  length->addWidget(NewLabel("lblMovieSecondsUnit", "seconds (0: as the frames make it)"));
  length->addSpacing(gap);
  for (const bool first : {true, false}) {
    const char* label = first ? "lblStartTimeTodayDays" : "lblStopTimeTodayDays";
    length->addWidget(NewLabel(label, first ? "Start day" : "Stop day"));
    QLineEdit* days = box(first ? "txtStartTimeTodayDays" : "txtStopTimeTodayDays", number_width);
    days->setToolTip("Whole days added to \"Today at\": -1 is yesterday.");
    length->addWidget(days);
  }
  length->addWidget(NewLabel("lblTodayDaysUnit", "(days, -1 yesterday)"));
  length->addStretch();

  QHBoxLayout* place = row(3, "lblLatitude", "Latitude");
  place->addWidget(box("txtLatitude", number_width * 3 / 2));
  place->addWidget(NewLabel("lblLongitude", "Longitude"));
  place->addWidget(box("txtLongitude", number_width * 3 / 2));
  place->addWidget(NewLabel("lblLocationNote", "(empty: the profile's location)"));
  place->addStretch();
  grid->setColumnStretch(1, 1);
  return group;
}

}  // namespace chronoreel
