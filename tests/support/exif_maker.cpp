#include "exif_maker.h"

#include <libexif/exif-data.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace chronoreel {

namespace {

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

void AddAscii(ExifData* data, ExifTag tag, const std::string& text) {
  ExifMem* mem = exif_mem_new_default();
  ExifEntry* entry = exif_entry_new_mem(mem);
  const auto size = static_cast<unsigned int>(text.size() + 1);
  entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, size));
  if (entry->data == nullptr) throw std::runtime_error("exif_mem_alloc failed");
  std::memcpy(entry->data, text.c_str(), size);
  entry->size = size;
  entry->components = size;
  entry->format = EXIF_FORMAT_ASCII;
  entry->tag = tag;
  exif_content_add_entry(data->ifd[EXIF_IFD_EXIF], entry);
  exif_entry_unref(entry);
  exif_mem_unref(mem);
}

}  // namespace

void AddExifCaptureTime(std::vector<uint8_t>& jpeg, const std::string& date_time_original,
                        const std::string& subseconds, bool after_jfif) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) throw std::runtime_error("not a JPEG");
  std::unique_ptr<ExifData, ExifDataRelease> data(exif_data_new());
  if (!data) throw std::runtime_error("exif_data_new failed");
  exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
  AddAscii(data.get(), EXIF_TAG_DATE_TIME_ORIGINAL, date_time_original);
  if (!subseconds.empty()) AddAscii(data.get(), EXIF_TAG_SUB_SEC_TIME_ORIGINAL, subseconds);

  unsigned char* block = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data.get(), &block, &size);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(block, &std::free);
  if (block == nullptr || size == 0 || size > 65533) throw std::runtime_error("exif_data_save_data failed");

  std::vector<uint8_t> segment = {0xFF, 0xE1, static_cast<uint8_t>((size + 2) >> 8),
                                  static_cast<uint8_t>((size + 2) & 0xFF)};
  segment.insert(segment.end(), block, block + size);
  size_t at = 2;
  if (after_jfif) {
    if (jpeg.size() < 6 || jpeg[2] != 0xFF || jpeg[3] != 0xE0) throw std::runtime_error("no JFIF segment");
    at = 4 + ((static_cast<size_t>(jpeg[4]) << 8) | jpeg[5]);
    if (at > jpeg.size()) throw std::runtime_error("bad JFIF segment");
  }
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), segment.begin(), segment.end());
}

}  // namespace chronoreel
