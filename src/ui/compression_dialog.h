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
// the path's ending can hold, in the order of ListAviEncoders.
std::vector<EncoderInfo> EncodersForOutput(const std::string& output_path);

class CompressionDialog : public QDialog {
  Q_OBJECT
 public:
  CompressionDialog(std::vector<EncoderInfo> encoders, CompressionChoice current,
                    QWidget* parent = nullptr);

  // The choice that the controls describe now.
  CompressionChoice Choice() const;

 private:
  void EncoderChanged(int index);
  void UpdateQualityText();

  std::vector<EncoderInfo> encoders_;
  CompressionChoice current_;
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
