#pragma once
// Owners of the TurboJPEG and libswscale handles that the composer and the writers hold.
#include <memory>

#include <turbojpeg.h>

extern "C" {
#include <libswscale/swscale.h>
}

namespace chronoreel {

struct TjDeleter {
  void operator()(tjhandle handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct SwsDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsHandle = std::unique_ptr<SwsContext, SwsDeleter>;

}  // namespace chronoreel
