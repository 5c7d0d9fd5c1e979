// A setup file of the original program, without any of the newer keys, makes the movie it
// always made: the composed stills themselves, in their order, uncompressed in AVI, at the
// size and rate the file names. Nothing is stamped, evened out or put in another container.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "time/sun.h"

#include "bitmap/dib.h"
#include "engine/frame_composer.h"
#include "setup/documents.h"
#include "setup/ini.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"

extern "C" {
#include <libavutil/log.h>
}

namespace chronoreel {
namespace {

const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

constexpr int kStills = 6;

std::string StillName(int still) {
  char name[32];
  std::snprintf(name, sizeof name, "0612070%d0000.jpg", still);  // 07:00, 08:00, ...
  return name;
}

// The frame FrameComposer makes of a still, top row first like a decoded movie frame.
std::vector<uint8_t> ComposedTopDown(const std::string& path, int32_t width, int32_t height) {
  FrameComposer composer;
  DIB frame, decode;
  if (!composer.Init() || !composer.Compose(path, width, height, frame, decode)) return {};
  std::vector<uint8_t> rows;
  for (int y = frame.Height() - 1; y >= 0; --y) {
    const uint8_t* row = frame.DIBPtr() + static_cast<ptrdiff_t>(y) * frame.Stride();
    rows.insert(rows.end(), row, row + static_cast<ptrdiff_t>(frame.Width()) * 3);
  }
  return rows;
}

// The objects a setup document lives among, wired as start-up wires them.
struct World {
  ProgramState state;
  Sun sun{state.location};
  FakeHost host;
  MovieGen movie{state, sun, host};
  INI ini;
  Documents docs{state, movie, ini, host, sun};
};

TEST(OriginalSetupFile, MakesTheMovieItAlwaysMade) {
  TempDir stills("orig-stills");
  TempDir out("orig-out");
  for (int i = 0; i < kStills; ++i) {
    const auto top = static_cast<uint32_t>(0x102030 + i * 0x221100);
    WriteSplitJpeg(stills.File(StillName(i)), 120, 90, top, 0xF0E0D0 - top);
  }
  const std::string setup = out.File("webcam.tls");
  // As the original program wrote it: CRLF lines, a backwards movie at a custom size.
  const std::string text = "[General]\r\n"
                    "StillDirectory=" + stills.Str() + "\r\n"
                    "ImageFilter=*.jpg\r\n"
                    "TimeStampOption=1\r\n"
                    "TimeOption=0\r\n"
                    "Direction=-1\r\n"
                    "MovieFPS=15\r\n"
                    "MovieSizeOption=1\r\n"
                    "MovieSizeWidth=62\r\n"
                    "MovieSizeHeight=47\r\n"
                    "OutputAVIPath=" + out.File("webcam.avi") + "\r\n"
                    "PostGenerationShell=\r\n"
                    "[Compress]\r\n"
                    "Handler=541215044\r\n"
                    "Quality=0\r\n";
  WriteBytes(setup, std::vector<uint8_t>(text.begin(), text.end()));
  World w;
  w.state.CurrentFile = setup;
  w.docs.LoadFile();
  EXPECT_TRUE(w.movie.StampText().empty());
  EXPECT_EQ(w.movie.DeflickerFrames(), 0);
  EXPECT_FALSE(w.movie.IncludeSubfolders());
  w.movie.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 23, 0, 0); });
  w.movie.MakeMovie({.show_progress = false, .unattended = true});
  ASSERT_TRUE(w.movie.LastRunCompleted());

  const std::string movie_path = out.File("webcam.avi");
  const std::vector<uint8_t> bytes = ReadBytes(movie_path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  const test::ProbedMovie movie = test::ProbeMovie(movie_path);
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.codec_name, "rawvideo");
  EXPECT_EQ(movie.width, 64);  // the width rounds up to a multiple of 4
  EXPECT_EQ(movie.height, 47);
  EXPECT_EQ(movie.rate_num, 15);
  EXPECT_EQ(movie.rate_den, 1);
  ASSERT_EQ(movie.FrameCount(), kStills);

  const std::vector<test::DecodedFrame> frames = test::DecodeAllFrames(movie_path);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kStills));
  for (int k = 0; k < kStills; ++k) {
    const std::string still = stills.File(StillName(kStills - 1 - k));  // backwards
    EXPECT_EQ(frames[static_cast<size_t>(k)].bgr, ComposedTopDown(still, 64, 47))
        << "frame " << k << " is not " << still;
  }
}

}  // namespace
}  // namespace chronoreel
