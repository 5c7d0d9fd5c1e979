#include "ui/compression_dialog.h"

#include <algorithm>
#include <map>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/container.h"

namespace chronoreel {

namespace {

constexpr int kMaxQuality = 10000;
constexpr int kBytesPerKilobyte = 1024;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

CompressionChoice CurrentCompression(const MovieGen& movie) {
  CompressionChoice choice;
  choice.record.fccType = movie.CompressType();
  choice.record.fccHandler = movie.CompressHandler();
  choice.record.dwKeyFrameEvery = movie.CompressKeyFrameEvery();
  choice.record.dwQuality = movie.CompressQuality();
  choice.record.dwBytesPerSecond = movie.CompressBytesPerSecond();
  choice.record.dwFlags = movie.CompressFlags();
  choice.record.cbFormat = std::max(movie.CompressFormat(), 0);
  choice.record.cbParms = std::max(movie.CompressParms(), 0);
  choice.record.dwInterleaveEvery = movie.CompressInterleaveEvery();
  // Zeros beyond what the blocks hold.
  choice.format.assign(movie.FormatData().begin(), movie.FormatData().end());
  choice.format.resize(choice.record.cbFormat);
  choice.parms.assign(movie.ParmsData().begin(), movie.ParmsData().end());
  choice.parms.resize(choice.record.cbParms);
  return choice;
}

void StoreCompressionChoice(MovieGen& movie, const CompressionChoice& choice) {
  const AviCompressOptions& r = choice.record;
  const int32_t format_size = std::min<int32_t>(r.cbFormat, static_cast<int32_t>(choice.format.size()));
  movie.SetFormatSize(format_size);
  for (int32_t i = 0; i < format_size; ++i) movie.SetFormatBytes(i, choice.format[i]);
  const int32_t parms_size = std::min<int32_t>(r.cbParms, static_cast<int32_t>(choice.parms.size()));
  movie.SetParmsSize(parms_size);
  for (int32_t i = 0; i < parms_size; ++i) movie.SetParmsBytes(i, choice.parms[i]);
  movie.SetCompressFormat(format_size);
  movie.SetCompressParms(parms_size);
  movie.SetCompressBytesPerSecond(r.dwBytesPerSecond);
  movie.SetCompressFlags(r.dwFlags);
  movie.SetCompressInterleaveEvery(r.dwInterleaveEvery);
  movie.SetCompressKeyFrameEvery(r.dwKeyFrameEvery);
  movie.SetCompressQuality(r.dwQuality);
  movie.SetCompressHandler(r.fccHandler);
  movie.SetCompressType(r.fccType);
}

std::vector<EncoderInfo> EncodersForOutput(const std::string& output_path) {
  return ListContainerEncoders(ContainerForPath(output_path));
}

CompressionDialog::CompressionDialog(std::vector<EncoderInfo> encoders, CompressionChoice current,
                                     QWidget* parent)
    : QDialog(parent), encoders_(std::move(encoders)), current_(std::move(current)) {
  setObjectName("dlgCompression");
  setWindowTitle("Video Compression");

  cmbCompressor = new QComboBox(this);
  cmbCompressor->setObjectName("cmbCompressor");
  for (const EncoderInfo& e : encoders_) {
    cmbCompressor->addItem(QString::fromStdString(e.fourcc_text + "  " + e.long_name));
  }
  lblFourcc = new QLabel(this);
  lblFourcc->setObjectName("lblFourcc");

  sldQuality = new QSlider(Qt::Horizontal, this);
  sldQuality->setObjectName("sldQuality");
  sldQuality->setRange(0, kMaxQuality);
  sldQuality->setPageStep(kMaxQuality / 10);
  lblQuality = new QLabel(this);
  lblQuality->setObjectName("lblQuality");
  lblQuality->setMinimumWidth(lblQuality->fontMetrics().horizontalAdvance("00000"));

  chkKeyFrames = new QCheckBox("&Key Frame Every", this);
  chkKeyFrames->setObjectName("chkKeyFrames");
  txtKeyFrameEvery = new QSpinBox(this);
  txtKeyFrameEvery->setObjectName("txtKeyFrameEvery");
  txtKeyFrameEvery->setRange(1, 100000);
  chkDataRate = new QCheckBox("&Data Rate", this);
  chkDataRate->setObjectName("chkDataRate");
  txtDataRate = new QSpinBox(this);
  txtDataRate->setObjectName("txtDataRate");
  txtDataRate->setRange(1, 2000000);

  tblOptions = new QTableWidget(0, 2, this);
  tblOptions->setObjectName("tblOptions");
  tblOptions->setHorizontalHeaderLabels({"Option", "Value"});
  tblOptions->horizontalHeader()->setStretchLastSection(true);
  tblOptions->verticalHeader()->setVisible(false);
  tblOptions->setMinimumHeight(160);

  auto* form = new QFormLayout;
  form->addRow("&Compressor:", cmbCompressor);
  form->addRow("FOURCC:", lblFourcc);
  auto* quality_row = new QHBoxLayout;
  quality_row->addWidget(sldQuality, 1);
  quality_row->addWidget(lblQuality);
  form->addRow("Compression Quality:", quality_row);
  auto* key_row = new QHBoxLayout;
  key_row->addWidget(chkKeyFrames);
  key_row->addWidget(txtKeyFrameEvery);
  key_row->addWidget(new QLabel("frames", this));
  key_row->addStretch();
  form->addRow(key_row);
  auto* rate_row = new QHBoxLayout;
  rate_row->addWidget(chkDataRate);
  rate_row->addWidget(txtDataRate);
  rate_row->addWidget(new QLabel("KB/sec", this));
  rate_row->addStretch();
  form->addRow(rate_row);

  auto* options_box = new QGroupBox("Encoder Options", this);
  auto* options_layout = new QVBoxLayout(options_box);
  options_layout->addWidget(tblOptions);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("cmdOK");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cmdCancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(options_box, 1);
  layout->addWidget(buttons);
  resize(520, 480);

  // The controls open with the stored choice.
  const AviCompressOptions& r = current_.record;
  sldQuality->setValue(std::clamp(r.dwQuality, 0, kMaxQuality));
  chkKeyFrames->setChecked((r.dwFlags & kAviCompressKeyFrames) != 0 && r.dwKeyFrameEvery > 0);
  txtKeyFrameEvery->setValue(std::max(r.dwKeyFrameEvery, 1));
  chkDataRate->setChecked((r.dwFlags & kAviCompressDataRate) != 0);
  txtDataRate->setValue(std::max(r.dwBytesPerSecond / kBytesPerKilobyte, 1));
  connect(chkKeyFrames, &QCheckBox::toggled, txtKeyFrameEvery, &QWidget::setEnabled);
  connect(chkDataRate, &QCheckBox::toggled, txtDataRate, &QWidget::setEnabled);
  txtKeyFrameEvery->setEnabled(chkKeyFrames->isChecked());
  txtDataRate->setEnabled(chkDataRate->isChecked());
  connect(sldQuality, &QSlider::valueChanged, this, [this] { UpdateQualityText(); });
  UpdateQualityText();

  int selected = 0;
  const int32_t stored = IsUncompressedFourcc(r.fccHandler) ? kFourccDib : r.fccHandler;
  for (size_t i = 0; i < encoders_.size(); ++i) {
    const int32_t code = IsUncompressedFourcc(encoders_[i].fourcc) ? kFourccDib : encoders_[i].fourcc;
    if (code == stored) {
      selected = static_cast<int>(i);
      break;
    }
  }
  connect(cmbCompressor, &QComboBox::currentIndexChanged, this, [this](int i) { EncoderChanged(i); });
  cmbCompressor->setCurrentIndex(selected);
  EncoderChanged(selected);
}

void CompressionDialog::UpdateQualityText() {
  lblQuality->setText(QString::number(sldQuality->value()));
}

void CompressionDialog::EncoderChanged(int index) {
  tblOptions->setRowCount(0);
  options_.clear();
  if (index < 0 || index >= static_cast<int>(encoders_.size())) return;
  const EncoderInfo& encoder = encoders_[index];
  lblFourcc->setText(QString::fromStdString(encoder.fourcc_text));
  sldQuality->setEnabled(encoder.supports_quality);
  options_ = ListEncoderOptions(encoder.name);

  // The stored options are shown only for the encoder they were chosen for.
  std::map<std::string, std::string> stored;
  if (encoder.fourcc == current_.record.fccHandler) {
    for (const auto& [key, value] : ParseParameterBlock(current_.parms)) stored[key] = value;
  }
  tblOptions->setRowCount(static_cast<int>(options_.size()));
  for (size_t row = 0; row < options_.size(); ++row) {
    const EncoderOption& option = options_[row];
    auto* name = new QTableWidgetItem(QString::fromStdString(option.name));
    name->setFlags(name->flags() & ~Qt::ItemIsEditable);
    QString tip = QString::fromStdString(option.help);
    if (!option.choices.empty()) {
      QStringList choices;
      for (const auto& c : option.choices) choices << QString::fromStdString(c);
      tip += "\n(" + choices.join(", ") + ")";
    }
    name->setToolTip(tip);
    const auto it = stored.find(option.name);
    auto* value = new QTableWidgetItem(
        QString::fromStdString(it != stored.end() ? it->second : option.default_value));
    value->setToolTip(tip);
    tblOptions->setItem(static_cast<int>(row), 0, name);
    tblOptions->setItem(static_cast<int>(row), 1, value);
  }
  tblOptions->resizeColumnToContents(0);
}

CompressionChoice CompressionDialog::Choice() const {
  CompressionChoice choice;
  AviCompressOptions& r = choice.record;
  r = current_.record;
  const int index = cmbCompressor->currentIndex();
  if (index >= 0 && index < static_cast<int>(encoders_.size())) r.fccHandler = encoders_[index].fourcc;
  r.fccType = kFourccVids;
  r.dwQuality = sldQuality->value();
  r.dwKeyFrameEvery = chkKeyFrames->isChecked() ? txtKeyFrameEvery->value() : 0;
  r.dwBytesPerSecond = txtDataRate->value() * kBytesPerKilobyte;
  r.dwFlags = kAviCompressValid | (r.dwFlags & kAviCompressInterleave);
  if (chkKeyFrames->isChecked()) r.dwFlags |= kAviCompressKeyFrames;
  if (chkDataRate->isChecked()) r.dwFlags |= kAviCompressDataRate;

  // Only the options that differ from the encoder's defaults are kept.
  OptionList changed;
  for (size_t row = 0; row < options_.size(); ++row) {
    const QTableWidgetItem* item = tblOptions->item(static_cast<int>(row), 1);
    const std::string value = item != nullptr ? Trim(item->text().toStdString()) : std::string();
    if (value != options_[row].default_value && !value.empty()) changed.emplace_back(options_[row].name, value);
  }
  choice.parms = MakeParameterBlock(changed);
  choice.format.clear();
  r.cbFormat = 0;
  r.cbParms = static_cast<int32_t>(choice.parms.size());
  return choice;
}

}  // namespace chronoreel
