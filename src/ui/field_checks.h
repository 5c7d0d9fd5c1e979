#pragma once
// What each number and date box takes. A box whose text is none of it is marked at once
// (a red frame, a tooltip saying what it takes); the text still goes into its setting by
// the usual conversions, so "Make Movie" names the marked boxes before a run uses them.
#include <optional>
#include <span>
#include <string>
#include <string_view>

class QLineEdit;

namespace chronoreel::field_checks {

enum class Kind {
  Number,      // any number from lo to hi
  Whole,       // a whole number from lo to hi
  OffOrWhole,  // 0 (off) or a whole number from lo to hi
  TimeOfDay,   // a time of day alone
  Date,        // a date with or without a time
  NumberOrEmpty,  // nothing (see if_none) or any number from lo to hi
  ClockTimes,     // nothing or clock times such as 09:00,12:00
};

struct FieldCheck {
  const char* box;        // the object name of the text box
  const char* caption;    // how the question at "Make Movie" names it
  const char* setting;    // the setting it shows (nullptr in the location dialog)
  const char* used_when;  // a button that must be checked, or a box that must hold text, for
                          // the value to count; nullptr: it always counts
  Kind kind;
  double lo;
  double hi;
  const char* what;     // "a number of hours"
  const char* example;  // "24.0"
  const char* if_none = nullptr;  // what an empty box means: "the profile's location"
};

// The boxes of the main window and of the location dialog.
std::span<const FieldCheck> MainWindowFields();
std::span<const FieldCheck> LocationFields();

// The value of a date box's text: a date and time for Kind::Date; for Kind::TimeOfDay only
// a time of day, since a text with a day in it would be cut to the last second of the day.
std::optional<double> DateValue(Kind kind, std::string_view text);

bool IsValid(const FieldCheck& check, std::string_view text);

// The clock times a run takes from such a text, as "09:00, 12:00"; "none" for none.
std::string ClockTimesText(std::string_view text);

// What the box takes, as its tooltip says it: "a whole number from 1 to 7680, e.g. 640".
std::string Hint(const FieldCheck& check);

// Marks or unmarks a box; the box's own tooltip comes back when it is unmarked.
void ShowMark(QLineEdit* box, const FieldCheck& check, bool marked);
bool IsMarked(const QLineEdit* box);

}  // namespace chronoreel::field_checks
