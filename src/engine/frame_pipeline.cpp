#include "engine/frame_pipeline.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace chronoreel {

namespace {

// Each worker may run one frame ahead of the others and the caller holds one: enough
// slots that no worker waits for a slot while the caller is busy with its frame.
constexpr size_t kSpareSlots = 2;

enum class SlotState { kFree, kComposing, kReady };

struct Slot {
  DIB frame;
  FramePlanes planes;
  SlotState state = SlotState::kFree;
  size_t index = 0;
  bool composed = false;
};

struct Worker {
  FrameComposer composer;
  DIB decode;
  std::thread thread;
};

}  // namespace

struct FramePipeline::Impl {
  std::span<const std::string> stills;
  ComposeTuning tuning;
  bool keep_planes = false;
  bool even_height = false;
  PlanesConverter converter;  // the caller's, for MakeSurface
  size_t slot_count = 1;
  std::unique_ptr<Slot[]> slots;
  std::vector<std::unique_ptr<Worker>> workers;
  int worker_count = 0;

  std::mutex mutex;
  std::condition_variable work_ready;   // a worker may take the next still
  std::condition_variable frame_ready;  // the caller's frame may be done
  size_t next_still = 0;
  int32_t width = 0, height = 0;  // 0: not fixed yet
  bool sizing = false;  // a still that may fix the size is being composed
  bool stopping = false;
  std::exception_ptr failure;  // an unexpected error in a worker, raised in the caller

  // Composing on the calling thread, without workers.
  FrameComposer own_composer;
  DIB own_decode;

  Slot& SlotFor(size_t k) { return slots[k % slot_count]; }

  // Until a still has fixed the movie size, stills are composed one at a time in order, so
  // the first still whose header reads is the one that fixes it.
  bool CanTake() {
    return next_still < stills.size() && SlotFor(next_still).state == SlotState::kFree &&
           (width != 0 || !sizing);
  }

  void Run(Worker& worker) {
    std::unique_lock lock(mutex);
    for (;;) {
      work_ready.wait(lock, [&] { return stopping || CanTake(); });
      if (stopping) return;
      const size_t k = next_still++;
      Slot& slot = SlotFor(k);
      slot.state = SlotState::kComposing;
      slot.index = k;
      int32_t w = width, h = height;
      const bool fixes_size = w == 0;
      if (fixes_size) sizing = true;
      lock.unlock();
      bool composed = false;
      try {
        composed = worker.composer.Compose(stills[k], w, h, slot.frame, worker.decode,
                                           keep_planes ? &slot.planes : nullptr);
      } catch (...) {
        lock.lock();
        if (!failure) failure = std::current_exception();
        stopping = true;
        frame_ready.notify_all();
        work_ready.notify_all();
        return;
      }
      lock.lock();
      if (fixes_size) {
        sizing = false;
        if (width == 0 && w != 0) {
          width = w;
          height = h;
        }
      }
      slot.composed = composed;
      slot.state = SlotState::kReady;
      frame_ready.notify_all();
      work_ready.notify_all();
    }
  }

  void Stop() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    work_ready.notify_all();
    for (auto& worker : workers) {
      if (worker->thread.joinable()) worker->thread.join();
    }
  }
};

FramePipeline::FramePipeline(std::span<const std::string> stills, int32_t movie_width,
                             int32_t movie_height, int workers, const ComposeTuning& tuning)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.stills = stills;
  d.tuning = tuning;
  d.width = movie_width;
  d.height = movie_width == 0 ? 0 : movie_height;
  d.worker_count = std::max(workers, 0);
  d.slot_count = d.worker_count == 0 ? 1 : static_cast<size_t>(d.worker_count) + kSpareSlots;
  d.slots = std::make_unique<Slot[]>(d.slot_count);
}

FramePipeline::~FramePipeline() { impl_->Stop(); }

bool FramePipeline::Start() {
  Impl& d = *impl_;
  if (d.worker_count == 0) {
    d.own_composer.SetTuning(d.tuning);
    d.own_composer.SetEvenHeight(d.even_height);
    return d.own_composer.Init();
  }
  for (int i = 0; i < d.worker_count; ++i) {
    auto worker = std::make_unique<Worker>();
    worker->composer.SetTuning(d.tuning);
    worker->composer.SetEvenHeight(d.even_height);
    if (!worker->composer.Init()) return false;
    d.workers.push_back(std::move(worker));
  }
  for (auto& worker : d.workers) {
    Worker* w = worker.get();
    w->thread = std::thread([&d, w] { d.Run(*w); });
  }
  return true;
}

DIB* FramePipeline::Take(size_t k) {
  Impl& d = *impl_;
  if (k >= d.stills.size()) return nullptr;
  if (d.worker_count == 0) {
    Slot& slot = d.slots[0];
    int32_t w = d.width, h = d.height;
    slot.composed = d.own_composer.Compose(d.stills[k], w, h, slot.frame, d.own_decode,
                                           d.keep_planes ? &slot.planes : nullptr);
    if (d.width == 0 && w != 0) {
      d.width = w;
      d.height = h;
    }
    return slot.composed ? &slot.frame : nullptr;
  }
  std::unique_lock lock(d.mutex);
  Slot& slot = d.SlotFor(k);
  d.frame_ready.wait(lock, [&] {
    return d.failure || (slot.state == SlotState::kReady && slot.index == k);
  });
  if (d.failure) std::rethrow_exception(d.failure);
  return slot.composed ? &slot.frame : nullptr;
}

void FramePipeline::Release(size_t k) {
  Impl& d = *impl_;
  if (d.worker_count == 0) return;
  {
    std::lock_guard lock(d.mutex);
    Slot& slot = d.SlotFor(k);
    if (slot.index != k || slot.state != SlotState::kReady) return;
    slot.state = SlotState::kFree;
  }
  d.work_ready.notify_all();
}

void FramePipeline::EvenHeight(bool even) { impl_->even_height = even; }

void FramePipeline::KeepPlanes(bool keep) {
  // For measuring: CHRONOREEL_KEEP_PLANES=0 makes every frame in BGR.
  const char* text = std::getenv("CHRONOREEL_KEEP_PLANES");
  impl_->keep_planes = keep && !(text && std::string_view(text) == "0");
}

// The slot of frame k is the caller's between Take and Release: no lock needed.
const FramePlanes* FramePipeline::Planes(size_t k) {
  Impl& d = *impl_;
  const Slot& slot = d.worker_count == 0 ? d.slots[0] : d.SlotFor(k);
  return slot.composed && slot.planes.filled ? &slot.planes : nullptr;
}

bool FramePipeline::MakeSurface(size_t k) {
  Impl& d = *impl_;
  Slot& slot = d.worker_count == 0 ? d.slots[0] : d.SlotFor(k);
  if (!slot.composed || !slot.planes.filled) return slot.composed;
  return d.converter.Convert(slot.planes, slot.frame);
}

int32_t FramePipeline::MovieWidth() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->width;
}

int32_t FramePipeline::MovieHeight() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->height;
}

int FramePipeline::DefaultWorkers() {
  // For measuring: CHRONOREEL_COMPOSE_WORKERS=0 composes on the run's own thread.
  if (const char* text = std::getenv("CHRONOREEL_COMPOSE_WORKERS"); text && *text) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (*end == '\0' && n >= 0 && n <= 64) return static_cast<int>(n);
  }
  int cores = 0;
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
#endif
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  // The run's own thread mostly waits on the encoder, whose threads do the work; a
  // composer per core keeps both cores decoding when encoding is cheap.
  return std::clamp(cores, 1, 8);
}

}  // namespace chronoreel
