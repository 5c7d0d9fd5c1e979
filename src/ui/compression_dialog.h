#pragma once
// The compression options: the encoders of the linked FFmpeg that the movie's container
// takes, the quality, key-frame and data-rate choices and the encoder's own options. The
// choice is the compression record with its two byte blocks; encoder options travel in the
// parameter block as "key=value" lines.
#include <cstdint>
#include <string>
#include <vector>

#include <QDialog>

#include "engine/codecs.h"
#include "engine/movie_gen.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QTableWidget;

namespace chronoreel {

struct CompressionChoice {
  AviCompressOptions record;
  std::vector<uint8_t> format;  // cbFormat bytes
  std::vector<uint8_t> parms;   // cbParms bytes
};

constexpr int32_t kFourccVids = 0x73646976;          // "vids"
constexpr int32_t kAviCompressValid = 8;             // AVICOMPRESSF_VALID
constexpr int32_t kAviCompressInterleave = 1;        // AVICOMPRESSF_INTERLEAVE

// The stored choice. A block is read only as far as it holds bytes (a setup file can give
// a size larger than its block); what lies beyond reads as 0.
CompressionChoice CurrentCompression(const MovieGen& movie);

// Stores a choice: the format block, the parameter block, then the record's values.
void StoreCompressionChoice(MovieGen& movie, const CompressionChoice& choice);

// The encoders offered for a movie at this path: those whose output the container chosen by
// the path's ending can hold, today's first (ListContainerEncoders).
std::vector<EncoderInfo> EncodersForOutput(const std::string& output_path);

// The list shows today's encoders, then "More encoders". The quality slider runs over the
// quality scale's positions (smaller file .. better picture) and keeps its position when
// another encoder is chosen; OK stores that encoder's dwQuality for it. A stored encoder
// the container cannot hold opens as the container's default (the one the run takes).
class CompressionDialog : public QDialog {
  Q_OBJECT
 public:
  // muxer as ContainerForPath names it.
  CompressionDialog(std::vector<EncoderInfo> encoders, CompressionChoice current,
                    const std::string& muxer = "avi", QWidget* parent = nullptr);

  // The choice that the controls describe now.
  CompressionChoice Choice() const;

 private:
  void EncoderChanged(int index);
  void UpdateQualityText();
  // The encoder of the list's current row; nullptr on a row that names none.
  const EncoderInfo* SelectedEncoder() const;

  std::vector<EncoderInfo> encoders_;
  CompressionChoice current_;
  std::string stored_encoder_;  // the encoder the stored choice names
  int stored_position_ = kDefaultQualityPosition;  // the slider as it opened
  std::vector<EncoderOption> options_;
  QComboBox* cmbCompressor = nullptr;
  QLabel* lblFourcc = nullptr;
  QSlider* sldQuality = nullptr;
  QLabel* lblQuality = nullptr;
  QCheckBox* chkKeyFrames = nullptr;
  QSpinBox* txtKeyFrameEvery = nullptr;
  QCheckBox* chkDataRate = nullptr;
  QSpinBox* txtDataRate = nullptr;
  QTableWidget* tblOptions = nullptr;
};

}  // namespace chronoreel
