#include "ui/compression_dialog.h"

#include <algorithm>
#include <map>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFont>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/container.h"

namespace chronoreel {

namespace {

constexpr int kBytesPerKilobyte = 1024;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string EncoderLine(const std::vector<uint8_t>& parms) {
  std::string name;
  for (const auto& [key, value] : ParseParameterBlock(parms))
    if (key == "encoder") name = value;
  return name;
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
                                     const std::string& muxer, QWidget* parent)
    : QDialog(parent), encoders_(std::move(encoders)), current_(std::move(current)) {
  setObjectName("dlgCompression");
  setWindowTitle("Video Compression");

  // Each row that names an encoder carries its index in encoders_; the separator and the
  // "More encoders" header carry none and cannot be chosen.
  cmbCompressor = new QComboBox(this);
  cmbCompressor->setObjectName("cmbCompressor");
  const bool grouped = std::any_of(encoders_.begin(), encoders_.end(),
                                   [](const EncoderInfo& e) { return e.group == EncoderGroup::Today; });
  bool more_shown = false;
  for (size_t i = 0; i < encoders_.size(); ++i) {
    const EncoderInfo& e = encoders_[i];
    if (grouped && e.group == EncoderGroup::More && !more_shown) {
      cmbCompressor->insertSeparator(cmbCompressor->count());
      cmbCompressor->addItem("More encoders");
      auto* model = qobject_cast<QStandardItemModel*>(cmbCompressor->model());
      if (QStandardItem* header = model != nullptr ? model->item(cmbCompressor->count() - 1) : nullptr) {
        header->setFlags(Qt::NoItemFlags);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
      }
      more_shown = true;
    }
    cmbCompressor->addItem(QString::fromStdString(e.fourcc_text + "  " + e.long_name), static_cast<int>(i));
  }
  lblFourcc = new QLabel(this);
  lblFourcc->setObjectName("lblFourcc");

  sldQuality = new QSlider(Qt::Horizontal, this);
  sldQuality->setObjectName("sldQuality");
  sldQuality->setRange(0, kQualityPositions);
  sldQuality->setPageStep(kQualityPositions / 10);
  // Ticks at 0 and at the default: the mark to come back to.
  sldQuality->setTickPosition(QSlider::TicksBelow);
  sldQuality->setTickInterval(kDefaultQualityPosition);
  sldQuality->setToolTip("The same position gives about the same picture with every encoder.\n"
                         "The mark is the default: the picture of x264's own default.");
  lblQuality = new QLabel(this);
  lblQuality->setObjectName("lblQuality");
  lblQuality->setFixedWidth(lblQuality->fontMetrics().horizontalAdvance("100 (default)") + 4);

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
  quality_row->setSpacing(6);
  quality_row->addWidget(sldQuality, 1);
  quality_row->addWidget(lblQuality);
  auto* ends_row = new QHBoxLayout;
  auto* smaller = new QLabel("smaller file", this);
  smaller->setObjectName("lblSmallerFile");
  auto* better = new QLabel("better picture", this);
  better->setObjectName("lblBetterPicture");
  ends_row->addWidget(smaller);
  ends_row->addStretch(1);
  ends_row->addWidget(better);
  ends_row->addSpacing(lblQuality->width() + quality_row->spacing());  // under the slider's end
  auto* quality_box = new QVBoxLayout;
  quality_box->setSpacing(0);
  quality_box->addLayout(quality_row);
  quality_box->addLayout(ends_row);
  form->addRow("Compression Quality:", quality_box);
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

  // The controls open with the stored choice. An encoder the container cannot hold opens
  // as the one the run writes with instead.
  const AviCompressOptions& r = current_.record;
  stored_encoder_ = EncoderNameForFourcc(r.fccHandler, EncoderLine(current_.parms));
  auto row_of = [this](const std::string& name) {
    const auto it = std::find_if(encoders_.begin(), encoders_.end(),
                                 [&name](const EncoderInfo& e) { return e.name == name; });
    return it == encoders_.end() ? -1 : cmbCompressor->findData(static_cast<int>(it - encoders_.begin()));
  };
  int selected = row_of(stored_encoder_);
  if (selected < 0) selected = row_of(DefaultEncoderForContainer(muxer));
  if (selected < 0) selected = encoders_.empty() ? -1 : cmbCompressor->findData(0);
  // A quality chosen for an encoder without one says nothing, and a replaced encoder runs
  // at its default (as the run takes it): the default position.
  const bool replaced = row_of(stored_encoder_) < 0;
  stored_position_ = replaced || QualityScaleOf(stored_encoder_) == QualityScale::None
                         ? kDefaultQualityPosition
                         : PositionForQuality(stored_encoder_, r.dwQuality);
  sldQuality->setValue(stored_position_);
  chkKeyFrames->setChecked((r.dwFlags & kAviCompressKeyFrames) != 0 && r.dwKeyFrameEvery > 0);
  txtKeyFrameEvery->setValue(std::max(r.dwKeyFrameEvery, 1));
  chkDataRate->setChecked((r.dwFlags & kAviCompressDataRate) != 0);
  txtDataRate->setValue(std::max(r.dwBytesPerSecond / kBytesPerKilobyte, 1));
  connect(chkKeyFrames, &QCheckBox::toggled, txtKeyFrameEvery, &QWidget::setEnabled);
  connect(chkDataRate, &QCheckBox::toggled, txtDataRate, &QWidget::setEnabled);
  txtKeyFrameEvery->setEnabled(chkKeyFrames->isChecked());
  txtDataRate->setEnabled(chkDataRate->isChecked());
  if (IsAviContainer(muxer)) {
    const QString every_frame = "Every frame of an AVI movie is a key frame.";
    for (QWidget* w : {static_cast<QWidget*>(chkKeyFrames), static_cast<QWidget*>(txtKeyFrameEvery)}) {
      w->setEnabled(false);
      w->setToolTip(every_frame);
    }
  }
  connect(sldQuality, &QSlider::valueChanged, this, [this] { UpdateQualityText(); });
  UpdateQualityText();

  connect(cmbCompressor, &QComboBox::currentIndexChanged, this, [this](int i) { EncoderChanged(i); });
  cmbCompressor->setCurrentIndex(selected);
  EncoderChanged(selected);
}

const EncoderInfo* CompressionDialog::SelectedEncoder() const {
  const QVariant index = cmbCompressor->currentData();
  if (!index.isValid()) return nullptr;
  const int i = index.toInt();
  return i >= 0 && i < static_cast<int>(encoders_.size()) ? &encoders_[static_cast<size_t>(i)] : nullptr;
}

void CompressionDialog::UpdateQualityText() {
  const int position = sldQuality->value();
  lblQuality->setText(position == kDefaultQualityPosition ? QString("%1 (default)").arg(position)
                                                          : QString::number(position));
}

void CompressionDialog::EncoderChanged(int /*row*/) {
  tblOptions->setRowCount(0);
  options_.clear();
  const EncoderInfo* selected = SelectedEncoder();
  if (selected == nullptr) return;
  const EncoderInfo& encoder = *selected;
  lblFourcc->setText(QString::fromStdString(encoder.fourcc_text));
  sldQuality->setEnabled(encoder.supports_quality);
  options_ = ListEncoderOptions(encoder.name);

  // The stored options are shown only for the encoder they were chosen for.
  std::map<std::string, std::string> stored;
  if (encoder.name == stored_encoder_) {
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
  const EncoderInfo* encoder = SelectedEncoder();
  if (encoder != nullptr) r.fccHandler = encoder->fourcc;
  const std::string name = encoder != nullptr ? encoder->name : stored_encoder_;
  r.fccType = kFourccVids;
  // The stored quality stays as it was unless the slider or the encoder changed: a setup
  // file keeps making the same movie.
  if (name != stored_encoder_ || sldQuality->value() != stored_position_)
    r.dwQuality = QualityForPosition(name, sldQuality->value());
  r.dwKeyFrameEvery = chkKeyFrames->isChecked() ? txtKeyFrameEvery->value() : 0;
  r.dwBytesPerSecond = txtDataRate->value() * kBytesPerKilobyte;
  r.dwFlags = kAviCompressValid | (r.dwFlags & kAviCompressInterleave);
  if (chkKeyFrames->isChecked()) r.dwFlags |= kAviCompressKeyFrames;
  if (chkDataRate->isChecked()) r.dwFlags |= kAviCompressDataRate;

  // An encoder the code alone would not pick is named; then only the options that differ
  // from the encoder's defaults are kept.
  OptionList changed;
  if (encoder != nullptr && EncoderNameForFourcc(encoder->fourcc) != encoder->name)
    changed.emplace_back("encoder", encoder->name);
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
