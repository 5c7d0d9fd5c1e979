// The settings binding: each control that shows a setting writes it, and UpdateSetupControls
// fills the controls from the settings.
#include "ui/main_window.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include <QAbstractButton>
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
#include "time/clock.h"
#include "time/date_time.h"
#include "ui/field_checks.h"
#include "ui/main_window_form.h"
#include "ui/qt_host.h"

namespace chronoreel {

using namespace main_form;
using field_checks::FieldCheck;

namespace {

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

const char* DatePattern(int option) { return option == 2 ? "HH:MM:SS AM/PM" : "MM/DD/YYYY HH:MM:SS AM/PM"; }

// The controls that show one setting each. Typing into a box first selects the option it
// belongs to (`group`, `option`), as a click would; the click writes its setting first.
struct Binding {
  const char* control;
  const char* property;
  const char* group = nullptr;
  int option = 0;
  bool clock = false;  // a time of day, written and read as the "Today at" boxes are
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
    {"optDayHours", "DayHoursOption"},
    {"txtDayHoursStart", "DayHoursStart", "optDayHours", 1, true},
    {"txtDayHoursStop", "DayHoursStop", "optDayHours", 1, true},
    {"txtDayHoursSunriseRelative", "DayHoursSunriseRelative", "optDayHours", 2},
    {"txtDayHoursSunsetRelative", "DayHoursSunsetRelative", "optDayHours", 2},
    {"txtDailyTimes", "DailyTimes"},
    {"txtDailyToleranceMinutes", "DailyToleranceMinutes"},
    {"txtSkipDarkBelow", "SkipDarkBelow"},
    {"txtSkipBrightAbove", "SkipBrightAbove"},
    {"txtMovieSeconds", "MovieSeconds"},
    {"txtStartTimeTodayDays", "StartTimeTodayDays"},
    {"txtStopTimeTodayDays", "StopTimeTodayDays"},
    {"txtLatitude", "Latitude"},
    {"txtLongitude", "Longitude"},
};

// A box's text into its setting: text without surrounding blanks, numbers in the user's
// form; a setting that can hold "no number" keeps text that is none as such.
void StoreBoxText(MovieGen& m, const SettingInfo& s, const QString& text) {
  const std::string typed = text.toStdString();
  if (s.read == SettingRead::NumberOrAbsent) {
    return s.set_number(m, TryCDblNI(typed).value_or(std::numeric_limits<double>::quiet_NaN()));
  }
  switch (s.type) {
    case SettingType::Text: return s.load(m, TrimSpaces(typed));
    case SettingType::Single:
      return s.set_number(m, TryCDblNI(typed).value_or(std::numeric_limits<double>::quiet_NaN()));
    case SettingType::Real: return s.set_number(m, Str2Dbl(typed));
    default: return s.set_number(m, Str2Lng(typed));
  }
}

QString BoxText(const MovieGen& m, const SettingInfo& s, bool clock = false) {
  if (clock) return QString::fromStdString(FormatDateTime(s.number(m), DatePattern(2)));
  switch (s.type) {
    case SettingType::Text: return QString::fromStdString(s.text(m));
    case SettingType::Real: return std::isnan(s.number(m)) ? QString() : NumberText(s.number(m));
    // A single-precision value: seven digits say all it holds; no number shows as none.
    case SettingType::Single: return std::isnan(s.number(m)) ? QString() : NumberText(s.number(m), 7);
    default: return QString::number(static_cast<int32_t>(s.number(m)));
  }
}

// A time of day box's text that is no time gives the time last shown or finished there, not
// one that the first part of the text happened to spell ("12:00:00" of "12:00:00 XM").
constexpr const char* kBaselineProperty = "chronoreelBaseline";

// Sets an edit box's text without leaving the cursor at the start of a long path.
void SetText(QLineEdit* box, const QString& text) {
  if (box->text() != text) box->setText(text);
}

}  // namespace

// The value of a date box's text: a date and time for "absolute"; for "today" only a time
// of day, since a text with a day in it would be cut to the last second of the day.
std::optional<double> main_form::DateBoxValue(int option, const QString& text) {
  using field_checks::Kind;
  return field_checks::DateValue(option == 2 ? Kind::TimeOfDay : Kind::Date, text.toStdString());
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
      ConnectText(box, procedure, [this, &b, &s, selects, box](const QString& text) {
        if (selects) selects->button(b.option)->setChecked(true);
        if (!b.clock) return StoreBoxText(app_.movie, s, text);
        const auto value = DateBoxValue(2, text);
        s.set_number(app_.movie, value ? *value : box->property(kBaselineProperty).toDouble());
      });
      if (!b.clock) continue;
      box->setPlaceholderText(DatePattern(2));
      connect(box, &QLineEdit::editingFinished, this, [box] {
        if (const auto value = DateBoxValue(2, box->text())) box->setProperty(kBaselineProperty, *value);
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
  // After the bindings, so that a box is checked against the value its text just gave.
  for (const FieldCheck& check : field_checks::MainWindowFields()) {
    QLineEdit* box = findChild<QLineEdit*>(check.box);
    connect(box, &QLineEdit::textChanged, this, [this, box, &check] { CheckField(box, check); });
  }
  for (const bool start : {true, false}) {
    const auto& texts = start ? start_texts_ : stop_texts_;
    for (const int option : {2, 3}) texts[option]->setPlaceholderText(DatePattern(option));
    OptionClick(start ? "optStartTime_Click" : "optStopTime_Click", start ? optStartTime : optStopTime,
                [this, start](int option) {
                  if (!updating_ && (option == 2 || option == 3)) FillUnsetDate(start, option);
                });
  }
}

// A date never set would mean 30 December 1899: choosing its option starts it at today
// 00:00 instead, as if typed.
void MainWindow::FillUnsetDate(bool start, int option) {
  QLineEdit* box = (start ? start_texts_ : stop_texts_)[option];
  if (TimeSetting(start, option).number(app_.movie) != 0 || !box->text().isEmpty()) return;
  const double today = option == 2 ? 0 : std::floor(Clock());
  box->setText(QString::fromStdString(FormatDateTime(today, DatePattern(option))));
  DateBaseline(start, option) = today;
}

void MainWindow::CheckField(QLineEdit* box, const FieldCheck& check) {
  bool valid = field_checks::IsValid(check, box->text().toStdString());
  // An empty date box with no date set shows its form as a hint: nothing to mark.
  using field_checks::Kind;
  if ((check.kind == Kind::Date || check.kind == Kind::TimeOfDay) && box->text().trimmed().isEmpty()) {
    valid = FindSetting(check.setting).number(app_.movie) == 0;
  }
  field_checks::ShowMark(box, check, !valid);
}

// The marked boxes whose values a run would use, with those values: the user decides.
bool MainWindow::ConfirmMarkedBoxes() {
  std::string lines;
  for (const FieldCheck& check : field_checks::MainWindowFields()) {
    const QLineEdit* box = findChild<QLineEdit*>(check.box);
    if (!field_checks::IsMarked(box) || !box->isEnabled()) continue;
    if (check.used_when != nullptr) {
      const auto* option = findChild<QAbstractButton*>(check.used_when);
      if (option != nullptr && !option->isChecked()) continue;
      const auto* other = findChild<QLineEdit*>(check.used_when);
      if (other != nullptr && other->text().trimmed().isEmpty()) continue;
    }
    const SettingInfo& s = FindSetting(check.setting);
    if (check.kind == field_checks::Kind::ClockTimes) {
      lines += std::string("\n") + check.caption + ": \"" + box->text().left(40).toStdString() +
               "\" would be " + field_checks::ClockTimesText(s.text(app_.movie));
      continue;
    }
    const double value = s.number(app_.movie);
    std::string used;
    if (check.kind == field_checks::Kind::Date || check.kind == field_checks::Kind::TimeOfDay) {
      used = FormatDateTime(value, DatePattern(check.kind == field_checks::Kind::TimeOfDay ? 2 : 3));
    } else if (std::isnan(value)) {
      used = check.if_none != nullptr ? check.if_none : "no number, so no still would be deleted";
    } else {
      used = BoxText(app_.movie, s).toStdString();
    }
    lines += std::string("\n") + check.caption + ": \"" + box->text().left(40).toStdString() + "\" would be " + used;
  }
  if (lines.empty()) return true;
  const MessageBoxRequest question{
      "These boxes hold text that is not a valid value:\n" + lines + "\n\nMake the movie with these values?",
      "Make Movie", MessageButtons::YesNo, MessageIcon::Exclamation};
  return host_.ShowMessage(question) == MessageAnswer::Yes;
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
      SetText(box, BoxText(m, s, b.clock));
      if (b.clock) box->setProperty(kBaselineProperty, s.number(m));
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
      // A date never set shows the hint of its form; midnight "Today at" only while chosen.
      const int chosen = start ? m.StartTimeOption() : m.StopTimeOption();
      const bool unset = value == 0 && (option == 3 || chosen != 2);
      SetText((start ? start_texts_ : stop_texts_)[option],
              unset ? QString() : QString::fromStdString(FormatDateTime(value, DatePattern(option))));
    }
  }
  const int interval = std::clamp(m.ImageIntervalOption(), 0, 1);
  optImageInterval->button(interval)->setChecked(true);
  optImageInterval_Click(interval);

  cmbFPS->clear();
  for (const char* fps : kFpsList) cmbFPS->addItem(fps);
  int fps_index = cmbFPS->findText(QString::number(m.MovieFPS()));
  cmbFPS->setCurrentIndex(fps_index >= 0 ? fps_index : cmbFPS->findText(kFpsFallback));
  updating_ = false;
  // Texts that did not change kept their marks; the values behind them may have.
  for (const FieldCheck& check : field_checks::MainWindowFields()) CheckField(findChild<QLineEdit*>(check.box), check);
}

}  // namespace chronoreel
