#include "engine/frame_pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/jpeg_maker.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

// What a still of the list is.
struct Still {
  int width = 0, height = 0;  // 0: a file that is no JPEG
  uint32_t top = 0, bottom = 0;
  bool truncated_header = false;  // a JPEG cut inside its header: no size from it
};

struct PipelineCase {
  const char* name;
  int32_t movie_width, movie_height;  // 0 x 0: from the first still
  std::vector<Still> stills;
};

void PrintTo(const PipelineCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> WriteStills(const TempDir& dir, const std::vector<Still>& stills) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < stills.size(); ++i) {
    const Still& s = stills[i];
    const std::string path = dir.File("still" + std::to_string(i) + ".jpg");
    if (s.width == 0) {
      WriteBytes(path, {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    } else {
      std::vector<uint8_t> bytes = MakeSplitJpeg(s.width, s.height, s.top, s.bottom);
      if (s.truncated_header) bytes.resize(20);
      WriteBytes(path, bytes);
    }
    paths.push_back(path);
  }
  return paths;
}

bool SamePixels(const DIB& a, const DIB& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* pa = a.DIBPtr() + static_cast<size_t>(y) * a.Stride();
    const uint8_t* pb = b.DIBPtr() + static_cast<size_t>(y) * b.Stride();
    if (std::memcmp(pa, pb, static_cast<size_t>(a.Width()) * 3) != 0) return false;
  }
  return true;
}

const Still kRed{40, 30, 0xff0000, 0x00ff00};
const Still kBlue{64, 48, 0x0000ff, 0xffffff};
const Still kBig{96, 72, 0x808000, 0x008080};
// Slow enough to decode that the other workers are waiting for it when it fixes the size.
const Still kLarge{1024, 768, 0x204060, 0xc0a080};
const Still kJunk{};
const Still kCut{40, 30, 0xff0000, 0x00ff00, true};

const PipelineCase kCases[] = {
    {"custom_size", 32, 24, {kRed, kBlue, kJunk, kBig, kRed, kJunk, kBlue, kBig, kRed}},
    {"size_from_first_readable_header", 0, 0, {kJunk, kCut, kJunk, kLarge, kRed, kBig, kJunk, kRed}},
    {"size_from_first_still", 0, 0, {kLarge, kRed, kBlue, kRed, kBig, kBlue, kRed, kBig, kRed, kBlue}},
    {"nothing_decodes", 0, 0, {kJunk, kJunk, kCut, kJunk}},
    {"one_still", 48, 36, {kBlue}},
};

class FramePipelineTest
    : public ::testing::TestWithParam<std::tuple<PipelineCase, int>> {};

// Whatever the number of workers, each frame is the one a lone composer makes of the same
// stills in the same order, and the movie size is fixed by the same still.
TEST_P(FramePipelineTest, FramesMatchALoneComposerInOrder) {
  const auto& [c, workers] = GetParam();
  TempDir dir("pipeline");
  const std::vector<std::string> paths = WriteStills(dir, c.stills);

  FrameComposer reference;
  ASSERT_TRUE(reference.Init());
  int32_t ref_width = c.movie_width, ref_height = c.movie_height;
  DIB ref_frame, ref_decode;

  FramePipeline pipeline(paths, c.movie_width, c.movie_height, workers);
  ASSERT_TRUE(pipeline.Start());
  for (size_t k = 0; k < paths.size(); ++k) {
    SCOPED_TRACE(k);
    const bool composed = reference.Compose(paths[k], ref_width, ref_height, ref_frame, ref_decode);
    const DIB* frame = pipeline.Take(k);
    ASSERT_EQ(frame != nullptr, composed);
    if (frame) {
      EXPECT_TRUE(SamePixels(*frame, ref_frame));
    }
    pipeline.Release(k);
    if (composed) {
      EXPECT_EQ(pipeline.MovieWidth(), ref_width);
      EXPECT_EQ(pipeline.MovieHeight(), ref_height);
    }
  }
  EXPECT_EQ(pipeline.MovieWidth(), ref_width);
  EXPECT_EQ(pipeline.MovieHeight(), ref_height);
}

INSTANTIATE_TEST_SUITE_P(Table, FramePipelineTest,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(0, 1, 2, 4)),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + "_workers" +
                                  std::to_string(std::get<1>(p.param));
                         });

// An aborted run leaves most stills untaken: the workers stop, nothing hangs or leaks.
TEST(FramePipelineStopTest, EndsWithFramesStillAhead) {
  TempDir dir("pipeline-stop");
  std::vector<Still> stills(40, kBig);
  const std::vector<std::string> paths = WriteStills(dir, stills);
  for (int workers : {1, 2, 4}) {
    SCOPED_TRACE(workers);
    FramePipeline pipeline(paths, 32, 24, workers);
    ASSERT_TRUE(pipeline.Start());
    ASSERT_NE(pipeline.Take(0), nullptr);
    // The frame taken but never given back, and no other taken at all.
  }
  FramePipeline never_started(paths, 32, 24, 2);
}

TEST(FramePipelineStopTest, TakeBeyondTheListGivesNoFrame) {
  TempDir dir("pipeline-end");
  const std::vector<std::string> paths = WriteStills(dir, {kRed});
  FramePipeline pipeline(paths, 0, 0, 2);
  ASSERT_TRUE(pipeline.Start());
  ASSERT_NE(pipeline.Take(0), nullptr);
  pipeline.Release(0);
  EXPECT_EQ(pipeline.Take(1), nullptr);
  EXPECT_EQ(pipeline.MovieWidth(), 40);
  EXPECT_EQ(pipeline.MovieHeight(), 30);
}

}  // namespace
}  // namespace chronoreel
