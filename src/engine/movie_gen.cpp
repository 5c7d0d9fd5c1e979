// The settings of MovieGen: every setter compares, stores, clamps and marks the setup as
// changed; the compression record and its two byte blocks.
#include "engine/movie_gen.h"

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/output_lock.h"
#include "time/sun.h"

namespace chronoreel {

namespace {

// The record keeps 32-bit pointer fields; only the low half of an address fits.
int32_t Low32(const void* address) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
}

}  // namespace

MovieGen::MovieGen(ProgramState& state, Sun& sun, Host& host)
    : state_(state), sun_(sun), host_(host), now_(Clock) {
  ErrorTrap trap("MovieGen", "Class_Initialize");
}

MovieGen::~MovieGen() {
  ErrorTrap trap("MovieGen", "Class_Terminate");
  if (progress_) {
    progress_->Unload();
    progress_.reset();
  }
}

// ---- the settings: compare, store, clamp, mark ----

#define CHRONOREEL_SETTING_SETTER(Name, member, Type, range, ...)              \
  void MovieGen::Set##Name(SettingArg<SettingType::Type> value) {              \
    ErrorTrap trap("MovieGen", #Name "_Let");                                  \
    if (SettingAssign<SettingType::Type>(member, value, range)) MarkChanged(); \
  }
CHRONOREEL_SETTINGS(CHRONOREEL_SETTING_SETTER)
#undef CHRONOREEL_SETTING_SETTER

// ---- the compression record: store and mark ----

#define CHRONOREEL_RECORD_SETTER(Name, field, ...) \
  void MovieGen::Set##Name(int32_t v) {             \
    ErrorTrap trap("MovieGen", #Name "_Let");       \
    compress_.field = v;                            \
    MarkChanged();                                  \
  }
CHRONOREEL_RECORD_KEYS(CHRONOREEL_RECORD_SETTER)
#undef CHRONOREEL_RECORD_SETTER

void MovieGen::SetCompressFormatPointer(uintptr_t v) {
  ErrorTrap trap("MovieGen", "CompressFormatPointer_Let");
  compress_.lpFormat = static_cast<int32_t>(static_cast<uint32_t>(v));
  MarkChanged();
}

uintptr_t MovieGen::CompressFormatPointer() const {
  // Derived from the block: growing it may have moved it since the pointer was set.
  return reinterpret_cast<uintptr_t>(format_.data());
}

void MovieGen::SetCompressParmsPointer(uintptr_t v) {
  ErrorTrap trap("MovieGen", "CompressParmsPointer_Let");
  compress_.lpParms = static_cast<int32_t>(static_cast<uint32_t>(v));
  MarkChanged();
}

uintptr_t MovieGen::CompressParmsPointer() const {
  return reinterpret_cast<uintptr_t>(parms_.data());
}

const AviCompressOptions* MovieGen::CompressOptionsPointer() {
  ErrorTrap trap("MovieGen", "CompressOptionsPointer_Get");
  compress_.lpFormat = Low32(format_.data());
  compress_.lpParms = Low32(parms_.data());
  return &compress_;
}

// ---- the byte blocks ----

namespace {

// Grows a block to hold indexes 0..n-1; it never shrinks, even when the size was set
// smaller in between.
void GrowBlock(std::vector<uint8_t>& block, int32_t n) {
  if (n > 0 && static_cast<size_t>(n) > block.size()) block.resize(static_cast<size_t>(n), 0);
}

bool InBlock(const std::vector<uint8_t>& block, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < block.size();
}

}  // namespace

void MovieGen::SetFormatSize(int32_t n) {
  ErrorTrap trap("MovieGen", "FormatSize_Let");
  if (n > format_size_) GrowBlock(format_, n);
  format_size_ = n;
  MarkChanged();
}

void MovieGen::SetParmsSize(int32_t n) {
  ErrorTrap trap("MovieGen", "ParmsSize_Let");
  if (n > parms_size_) GrowBlock(parms_, n);
  parms_size_ = n;
  MarkChanged();
}

void MovieGen::SetFormatBytes(int32_t index, uint8_t value) {
  ErrorTrap trap("MovieGen", "FormatBytes_Let");
  if (!InBlock(format_, index)) throw Fault(9, "Subscript out of range");
  format_[static_cast<size_t>(index)] = value;
  MarkChanged();
}

uint8_t MovieGen::FormatBytes(int32_t index) const {
  ErrorTrap trap("MovieGen", "FormatBytes_Get");
  if (!InBlock(format_, index)) throw Fault(9, "Subscript out of range");
  return format_[static_cast<size_t>(index)];
}

void MovieGen::SetParmsBytes(int32_t index, uint8_t value) {
  ErrorTrap trap("MovieGen", "ParmsBytes_Let");
  if (!InBlock(parms_, index)) throw Fault(9, "Subscript out of range");
  parms_[static_cast<size_t>(index)] = value;
  MarkChanged();
}

uint8_t MovieGen::ParmsBytes(int32_t index) const {
  ErrorTrap trap("MovieGen", "ParmsBytes_Get");
  if (!InBlock(parms_, index)) throw Fault(9, "Subscript out of range");
  return parms_[static_cast<size_t>(index)];
}

// ---- the run's cancel request ----

void MovieGen::SetCancelMovie(bool value) noexcept {
  // Only the run clears the request, at its start.
  if (value) cancel_.store(true, std::memory_order_relaxed);
}

void MovieGen::StopFromOutside() noexcept {
  stopped_.store(true, std::memory_order_relaxed);
  cancel_.store(true, std::memory_order_relaxed);
}

}  // namespace chronoreel
