// The container a movie goes into, by the output path's ending, and which encoders fit it.
#include <gtest/gtest.h>

#include <string>

#include "engine/container.h"

namespace chronoreel {
namespace {

TEST(ContainerTest, TheEndingChoosesTheContainer) {
  const struct {
    const char* path;
    const char* muxer;
  } cases[] = {
      {"/srv/www/garden.avi", "avi"}, {"garden.AVI", "avi"},     {"/srv/garden.mp4", "mp4"},
      {"/srv/garden.M4V", "mp4"},     {"/x/roof.mov", "mov"},    {"/x/roof.MKV", "matroska"},
      {"/x/roof.webm", "webm"},       {"c:\\mymovie.avi", "avi"}, {"/x/roof", "avi"},
      {"/x/roof.mp4.bak", "avi"},     {"/x.mp4/roof", "avi"},     {"/x/roof.", "avi"},
      {"", "avi"},                    {".mkv", "matroska"},
  };
  for (const auto& c : cases) EXPECT_EQ(ContainerForPath(c.path), c.muxer) << c.path;
}

TEST(ContainerTest, EncodersFitTheirContainers) {
  const struct {
    const char* encoder;
    const char* muxer;
    bool fits;
  } cases[] = {
      {"mpeg4", "mp4", true},      {"mpeg4", "matroska", true}, {"mjpeg", "mov", true},
      {"rawvideo", "mp4", false},  {"mpeg4", "webm", false},    {"no-such-encoder", "mp4", false},
      {"mpeg4", "no-such-muxer", false}, {"rawvideo", "matroska", false}, {"rawvideo", "mov", true},
      {"rawvideo", "avi", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncoderFitsContainer(c.encoder, c.muxer), c.fits) << c.encoder << " in " << c.muxer;
  }
}

}  // namespace
}  // namespace chronoreel
