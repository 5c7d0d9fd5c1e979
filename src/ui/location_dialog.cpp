#include "ui/location_dialog.h"

#include <cmath>

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "time/sun.h"
#include "ui/field_checks.h"

namespace chronoreel {

LocationDialog::LocationDialog(Location& location, Sun& sun, QWidget* parent)
    : QWidget(parent, Qt::Window), location_(location), sun_(sun) {
  setObjectName("frmLocation");
  setWindowTitle("Location");

  auto* heading = new QLabel("Location Information for Sunrise/Sunset:", this);
  auto* grid = new QGridLayout;
  auto make_row = [&](int row, const char* caption, QLineEdit*& degrees, QComboBox*& hemisphere,
                      QLineEdit*& minutes, const char* degrees_name, const char* list_name,
                      const char* minutes_name) {
    auto* label = new QLabel(caption, this);
    degrees = new QLineEdit(this);
    degrees->setObjectName(degrees_name);
    label->setBuddy(degrees);
    hemisphere = new QComboBox(this);
    hemisphere->setObjectName(list_name);
    minutes = new QLineEdit(this);
    minutes->setObjectName(minutes_name);
    const int digits = degrees->fontMetrics().horizontalAdvance("0000000");
    degrees->setMinimumWidth(digits);
    minutes->setMinimumWidth(digits + digits / 2);
    grid->addWidget(label, row, 0);
    grid->addWidget(degrees, row, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("\u00B0"), this), row, 2);
    grid->addWidget(hemisphere, row, 3);
    grid->addWidget(minutes, row, 4);
    grid->addWidget(new QLabel("'", this), row, 5);
  };
  make_row(0, "&Latitude:", txtLatitudeDegrees, cmbLatitude, txtLatitudeMinutes,
           "txtLatitudeDegrees", "cmbLatitude", "txtLatitudeMinutes");
  make_row(1, "L&ongitude:", txtLongitudeDegrees, cmbLongitude, txtLongitudeMinutes,
           "txtLongitudeDegrees", "cmbLongitude", "txtLongitudeMinutes");
  auto* ok = new QPushButton("&OK", this);
  ok->setObjectName("cmdExit");
  ok->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addLayout(grid);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  layout->addLayout(buttons);
  setTabOrder(txtLatitudeDegrees, cmbLatitude);
  setTabOrder(cmbLatitude, txtLatitudeMinutes);
  setTabOrder(txtLatitudeMinutes, txtLongitudeDegrees);
  setTabOrder(txtLongitudeDegrees, cmbLongitude);
  setTabOrder(cmbLongitude, txtLongitudeMinutes);
  setTabOrder(txtLongitudeMinutes, ok);

  Form_Load();

  for (QLineEdit* box : {txtLatitudeDegrees, txtLatitudeMinutes, txtLongitudeDegrees, txtLongitudeMinutes}) {
    connect(box, &QLineEdit::textChanged, this, [this] { UpdateCoordinates(); });
  }
  // The location still takes what is typed; a box that holds no size of its kind is marked.
  for (const field_checks::FieldCheck& check : field_checks::LocationFields()) {
    QLineEdit* box = findChild<QLineEdit*>(check.box);
    const auto mark = [box, &check] {
      field_checks::ShowMark(box, check, !field_checks::IsValid(check, box->text().toStdString()));
    };
    connect(box, &QLineEdit::textChanged, this, mark);
    mark();
  }
  for (QComboBox* list : {cmbLatitude, cmbLongitude}) {
    connect(list, &QComboBox::currentIndexChanged, this, [this] { UpdateCoordinates(); });
  }
  connect(ok, &QPushButton::clicked, this, [this] {
    ErrorTrap trap("frmLocation", "cmdExit_Click");
    close();
  });
  // Esc leaves as OK does: every edit is already in force, there is nothing to undo.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void LocationDialog::Form_Load() {
  ErrorTrap trap("frmLocation", "Form_Load");
  loading_ = true;
  cmbLatitude->clear();
  cmbLatitude->addItems({"N", "S"});
  cmbLongitude->clear();
  cmbLongitude->addItems({"W", "E"});
  cmbLongitude->setCurrentIndex(location_.longitude > 0 ? 1 : 0);
  cmbLatitude->setCurrentIndex(location_.latitude >= 0 ? 0 : 1);
  auto fill = [](double value, QLineEdit* degrees, QLineEdit* minutes) {
    const double a = std::fabs(value);
    degrees->setText(QString::number(std::floor(a), 'f', 0));
    // A plain number ("30", "7.5") that reads back as typed; a ten-thousandth of a minute
    // is about 20 cm on the ground.
    minutes->setText(QString::fromStdString(FormatI(FP(a) * 60, "0.####")));
  };
  fill(location_.latitude, txtLatitudeDegrees, txtLatitudeMinutes);
  fill(location_.longitude, txtLongitudeDegrees, txtLongitudeMinutes);
  loading_ = false;
}

void LocationDialog::UpdateCoordinates() {
  ErrorTrap trap("frmLocation", "UpdateCoordinates");
  if (loading_) return;
  auto value = [](QLineEdit* degrees, QLineEdit* minutes, bool positive) {
    const double d = Str2DblNI(degrees->text().toStdString());
    const double m = Str2DblNI(minutes->text().toStdString());
    return positive ? d + m / 60 : -d - m / 60;
  };
  location_.latitude = value(txtLatitudeDegrees, txtLatitudeMinutes, cmbLatitude->currentIndex() == 0);
  location_.longitude = value(txtLongitudeDegrees, txtLongitudeMinutes, cmbLongitude->currentIndex() == 1);
  sun_.Invalidate();
}

void LocationDialog::closeEvent(QCloseEvent* event) {
  ErrorTrap trap("frmLocation", "Form_QueryUnload");
  open_ = false;
  event->accept();
}

}  // namespace chronoreel
