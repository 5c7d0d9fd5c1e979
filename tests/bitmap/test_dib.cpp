#include "bitmap/dib.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace chronoreel {
namespace {

struct SizeCase {
  int32_t width;
  int32_t height;
  bool surface;
  int32_t stride;
};

class DibSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(DibSize, SurfaceAndStrideFollowTheSize) {
  const SizeCase& c = GetParam();
  DIB dib;
  dib.SetWidthHeight(c.width, c.height);
  EXPECT_EQ(dib.Width(), c.width);
  EXPECT_EQ(dib.Height(), c.height);
  EXPECT_EQ(dib.HasSurface(), c.surface);
  EXPECT_EQ(dib.DIBPtr() != nullptr, c.surface);
  EXPECT_EQ(dib.hDC(), dib.DIBPtr());
  EXPECT_EQ(dib.hDIB(), dib.DIBPtr());
  EXPECT_EQ(dib.Stride(), c.stride);
  EXPECT_EQ(dib.Header().biSizeImage, c.surface ? c.width * c.height * 3 : 0);
  if (c.surface) {  // a fresh buffer is zero-filled, padding included
    const uint8_t* p = dib.DIBPtr();
    size_t bytes = static_cast<size_t>(c.stride) * c.height;
    EXPECT_EQ(std::vector<uint8_t>(p, p + bytes), std::vector<uint8_t>(bytes, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DibSize,
    ::testing::ValuesIn(std::vector<SizeCase>{
        {1, 1, true, 4}, {5, 3, true, 16}, {4, 2, true, 12}, {7, 1, true, 24},
        {644, 480, true, 1932}, {0, 5, false, 0}, {5, 0, false, 0}, {-1, 5, false, 0},
        {5, -1, false, 0}, {-4, -4, false, 0}, {10001, 10000, false, 0},
        {100'000'001, 1, false, 0}, {65535, 65535, false, 0}, {46341, 46341, false, 0},
        {INT32_MAX, INT32_MAX, false, 0}, {INT32_MAX, 1, false, 0}}));

// Property writes, one after another, with what each leaves behind.
enum class Op { kWidth, kHeight, kBoth };
struct Step {
  Op op;
  int32_t a;
  int32_t b;
  bool surface;
  int32_t stride;
  bool same_pixels;  // the surface and its contents survive this step
};

class DibSequence : public ::testing::TestWithParam<std::vector<Step>> {};

TEST_P(DibSequence, RebuildsOnlyWhenASizeChangesAndBothAreSet) {
  DIB dib;
  int step_no = 0;
  for (const Step& s : GetParam()) {
    SCOPED_TRACE(step_no++);
    uint8_t* before = dib.DIBPtr();
    if (before != nullptr) before[0] = 0xAB;  // a mark that only a kept surface keeps
    if (s.op == Op::kWidth) dib.SetWidth(s.a);
    if (s.op == Op::kHeight) dib.SetHeight(s.a);
    if (s.op == Op::kBoth) dib.SetWidthHeight(s.a, s.b);
    EXPECT_EQ(dib.HasSurface(), s.surface);
    EXPECT_EQ(dib.Stride(), s.stride);
    if (s.same_pixels) {
      EXPECT_EQ(dib.DIBPtr(), before);
      ASSERT_NE(dib.DIBPtr(), nullptr);
      EXPECT_EQ(dib.DIBPtr()[0], 0xAB);
    } else if (dib.HasSurface()) {
      EXPECT_EQ(dib.DIBPtr()[0], 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DibSequence,
    ::testing::Values(
        std::vector<Step>{{Op::kWidth, 10, 0, false, 0, false},
                          {Op::kHeight, 4, 0, true, 32, false}},
        std::vector<Step>{{Op::kHeight, 4, 0, false, 0, false},
                          {Op::kWidth, 3, 0, true, 12, false},
                          {Op::kWidth, 3, 0, true, 12, true},
                          {Op::kHeight, 4, 0, true, 12, true},
                          {Op::kBoth, 3, 4, true, 12, true},
                          {Op::kWidth, 5, 0, true, 16, false}},
        std::vector<Step>{{Op::kBoth, 10, 4, true, 32, false},
                          {Op::kHeight, 0, 0, false, 0, false},
                          {Op::kWidth, 6, 0, false, 0, false},
                          {Op::kHeight, 2, 0, true, 20, false},
                          {Op::kBoth, 6, 0, false, 0, false},
                          {Op::kBoth, 6, 1, true, 20, false}},
        std::vector<Step>{{Op::kBoth, 20000, 10000, false, 0, false},
                          {Op::kHeight, 5, 0, true, 60000, false},
                          {Op::kHeight, 6000, 0, false, 0, false},
                          {Op::kWidth, 2, 0, true, 8, false}}));

TEST(DibClear, FillsEveryPixelInBgrOrderAndLeavesPaddingAlone) {
  for (uint32_t color : {0x00000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00123456u}) {
    DIB dib;
    dib.SetWidthHeight(5, 3);
    dib.Clear(color);
    for (int y = 0; y < 3; ++y) {
      const uint8_t* row = dib.DIBPtr() + y * dib.Stride();
      for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(row[x * 3], color & 0xFF);
        EXPECT_EQ(row[x * 3 + 1], (color >> 8) & 0xFF);
        EXPECT_EQ(row[x * 3 + 2], (color >> 16) & 0xFF);
      }
      EXPECT_EQ(row[15], 0) << "row " << y;
    }
  }
  DIB none;  // no surface: nothing to fill, nothing to crash on
  none.SetWidth(8);
  none.Clear(0xFFFFFF);
  EXPECT_FALSE(none.HasSurface());
}

}  // namespace
}  // namespace chronoreel
