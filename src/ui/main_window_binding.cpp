// The settings binding: each control that shows a setting writes it, and UpdateSetupControls
// fills the controls from the settings.
#include "ui/main_window.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "app/application.h"
#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "engine/settings.h"
#include "time/date_time.h"
#include "ui/main_window_form.h"

namespace chronoreel {

using namespace main_form;

namespace {

constexpr int kFpsFallbackIndex = 2;  // "24"

// Numbers as the user reads them: the locale's decimal comma where it has one, but no digit
// grouping and no digits of other scripts, so that the text reads back as the same number.
QString NumberText(double value, int digits = 15) {
  QString text = QLocale::c().toString(value, 'g', digits);
  if (QLocale().decimalPoint() == ",") text.replace('.', ',');
  return text;
}

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
    case SettingType::Text: return s.load(m, TrimSpaces(typed));
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

// Sets an edit box's text without leaving the cursor at the start of a long path.
void SetText(QLineEdit* box, const QString& text) {
  if (box->text() != text) box->setText(text);
}

}  // namespace

// The value of a date box's text: a date and time for "absolute"; for "today" only a time
// of day, since a text with a day in it would be cut to the last second of the day.
std::optional<double> main_form::DateBoxValue(int option, const QString& text) {
  std::optional<double> value = ParseDateText(text.toStdString());
  if (option == 2 && value && (*value < 0 || *value >= 1)) value.reset();
  return value;
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

}  // namespace chronoreel
