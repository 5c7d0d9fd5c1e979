#pragma once
// frmLocation: the location for sunrise and sunset in degrees, minutes and hemisphere.
// There is no cancel: every edit is in force at once.
#include <QWidget>

#include "app/core/program_state.h"

class QComboBox;
class QLineEdit;

namespace chronoreel {

class Sun;

class LocationDialog : public QWidget {
  Q_OBJECT
 public:
  LocationDialog(Location& location, Sun& sun, QWidget* parent = nullptr);

  // True from the opening until the dialog is about to close.
  bool IsOpen() const { return open_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();
  void UpdateCoordinates();

  Location& location_;
  Sun& sun_;
  bool loading_ = false;
  bool open_ = true;
  QLineEdit* txtLatitudeDegrees = nullptr;
  QComboBox* cmbLatitude = nullptr;
  QLineEdit* txtLatitudeMinutes = nullptr;
  QLineEdit* txtLongitudeDegrees = nullptr;
  QComboBox* cmbLongitude = nullptr;
  QLineEdit* txtLongitudeMinutes = nullptr;
};

}  // namespace chronoreel
