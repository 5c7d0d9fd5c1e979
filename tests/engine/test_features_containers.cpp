// Containers chosen by the output's ending, through whole runs: each movie is read back with
// FFmpeg's own demuxers and decoders, frame for frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/movie_writer.h"
#include "engine/codecs.h"
#include "engine/container.h"
#include "engine/hardware_encoders.h"
#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "time/sun.h"

extern "C" {
#include <libavutil/log.h>
}

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

constexpr int kStills = 7;
constexpr int kWidth = 96;
constexpr int kHeight = 63;  // odd: a 4:2:0 stream rounds it up

// Each still is split: its own grey on top, another one below, so that a picture upside down
// or of the wrong still shows.
int GreyOf(int still) { return 40 + still * 30; }
int BottomGreyOf(int still) { return GreyOf((still + 3) % kStills); }

std::string StillName(int still) {
  char name[32];
  std::snprintf(name, sizeof name, "0612070800%02d.jpg", still * 5);
  return name;
}

// What a file's first bytes say it is.
std::string Signature(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 12));
  if (head.size() >= 12 && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "AVI ") == 0)
    return "avi";
  if (head.size() >= 8 && head.compare(4, 4, "ftyp") == 0) return "iso";
  if (head.size() >= 4 && head.compare(0, 4, "\x1A\x45\xDF\xA3") == 0) return "ebml";
  return "?";
}

// True when the movie's index ("moov") comes before its frames ("mdat").
bool IndexFirst(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  const size_t moov = text.find("moov");
  const size_t mdat = text.find("mdat");
  return moov != std::string::npos && mdat != std::string::npos && moov < mdat;
}

class ContainerRun {
 public:
  explicit ContainerRun(bool window)
      : run_{.show_progress = window, .unattended = !window},
        sun_(state_.location),
        gen_(state_, sun_, host_) {
    for (int i = 0; i < kStills; ++i)
      WriteSplitJpeg(stills_.File(StillName(i)), kWidth, kHeight,
                     static_cast<uint32_t>(GreyOf(i) * 0x010101),
                     static_cast<uint32_t>(BottomGreyOf(i) * 0x010101));
    gen_.SetStillDirectory(stills_.Str());
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetCompressQuality(9000);
    gen_.SetCompressFlags(0);
    gen_.SetMovieFPS(12);
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }

  std::string Make(const std::string& name, const char* fourcc) {
    gen_.SetCompressHandler(FourccFromText(fourcc));
    gen_.SetOutputAVIPath(out_.File(name));
    gen_.MakeMovie(run_);
    return out_.File(name);
  }

  const TempDir& Out() const { return out_; }
  MovieGen& Gen() { return gen_; }
  FakeHost& Host() { return host_; }

 private:
  TempDir stills_{"cont-stills"};
  TempDir out_{"cont-out"};
  RunOptions run_;
  ProgramState state_;
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

bool HasEncoderFor(const char* fourcc) {
  return IsUncompressedFourcc(FourccFromText(fourcc)) ||
         !EncoderNameForFourcc(FourccFromText(fourcc)).empty();
}

struct WrittenCase {
  const char* file;
  const char* fourcc;
  const char* signature;  // of the file written
  const char* codec;      // as FFmpeg reads it back
  int height;             // stored height
  const char* pix_fmt;    // "" when any will do
  bool index_first;
  const char* note = "";  // the one line the run logs when another encoder is used
};

void PrintTo(const WrittenCase& c, std::ostream* os) { *os << c.file << " " << c.fourcc; }

class ContainerWrittenTest : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(ContainerWrittenTest, PlaysBackEveryFrameInOrder) {
  const WrittenCase& c = GetParam();
  if (!HasEncoderFor(c.fourcc)) GTEST_SKIP() << "no encoder for " << c.fourcc;
  ContainerRun run(false);
  const std::string path = run.Make(c.file, c.fourcc);
  ASSERT_TRUE(run.Gen().LastRunCompleted());
  // Only the movie is left: the temporary file took its name.
  EXPECT_EQ(Entries(run.Out().Path()), std::vector<std::string>{c.file});
  EXPECT_EQ(Signature(path), c.signature);

  const test::ProbedMovie movie = test::ProbeMovie(path);
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.codec_name, c.codec);
  EXPECT_EQ(movie.width, kWidth);
  EXPECT_EQ(movie.height, c.height);
  EXPECT_EQ(movie.FrameCount(), kStills);
  if (*c.pix_fmt) {
    EXPECT_EQ(movie.pixel_format, c.pix_fmt);
  }
  if (c.index_first) {
    EXPECT_TRUE(IndexFirst(path));
  }
  if (movie.codec_name == "hevc") {
    EXPECT_EQ(movie.codec_tag, 0x31637668u) << "hvc1, which browsers that play H.265 ask for";
  }
  const auto& notes = run.Host().notes;
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                          [](const std::string& n) { return n.find("instead") != std::string::npos; }),
            *c.note ? 1 : 0);
  if (*c.note) {
    EXPECT_NE(std::find(notes.begin(), notes.end(), c.note), notes.end()) << c.note;
  }

  const std::vector<test::DecodedFrame> frames = test::DecodeAllFrames(path);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kStills));
  for (int k = 0; k < kStills; ++k) {
    const test::DecodedFrame& f = frames[static_cast<size_t>(k)];
    double top[3], bottom[3], last_row[3];
    f.MeanColour(0, 2, f.width, kHeight / 2 - 6, top);
    f.MeanColour(0, kHeight / 2 + 6, f.width, kHeight - 2, bottom);
    f.MeanColour(0, f.height - 1, f.width, f.height, last_row);
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_NEAR(top[ch], GreyOf(k), 8) << "frame " << k;
      EXPECT_NEAR(bottom[ch], BottomGreyOf(k), 8) << "frame " << k;
      // A row added for 4:2:0 is stretched picture, not black.
      EXPECT_NEAR(last_row[ch], BottomGreyOf(k), 8) << "frame " << k << ", last row";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ContainerWrittenTest,
    ::testing::Values(WrittenCase{"movie.mp4", "H264", "iso", "h264", 64, "yuv420p", true},
                      WrittenCase{"movie.MOV", "H264", "iso", "h264", 64, "yuv420p", true},
                      WrittenCase{"movie.mp4", "HEVC", "iso", "hevc", 64, "yuv420p", true},
                      WrittenCase{"movie.m4v", "FMP4", "iso", "mpeg4", 64, "yuv420p", true},
                      WrittenCase{"movie.mp4", "MJPG", "iso", "mjpeg", 63, "", true},
                      WrittenCase{"movie.mkv", "MJPG", "ebml", "mjpeg", 63, "", false},
                      WrittenCase{"movie.mkv", "H264", "ebml", "h264", 64, "yuv420p", false},
                      WrittenCase{"movie.mkv", "FFV1", "ebml", "ffv1", 63, "", false},
                      WrittenCase{"movie.mov", "DIB ", "iso", "rawvideo", 63, "", true},
                      WrittenCase{"movie.webm", "VP80", "ebml", "vp8", 64, "yuv420p", false},
                      // What the container cannot hold gives way to its default encoder.
                      WrittenCase{"movie.mp4", "DIB ", "iso", "h264", 64, "yuv420p", true,
                                  "the mp4 container cannot hold rawvideo: H.264 (libx264) is used instead"},
                      WrittenCase{"movie.mkv", "DIB ", "ebml", "h264", 64, "yuv420p", false,
                                  "the matroska container cannot hold rawvideo: H.264 (libx264) is used "
                                  "instead"},
                      WrittenCase{"movie.webm", "MJPG", "ebml", "vp9", 64, "yuv420p", false,
                                  "the webm container cannot hold mjpeg: VP9 (libvpx-vp9) is used instead"},
                      WrittenCase{"movie.webm", "H264", "ebml", "vp9", 64, "yuv420p", false,
                                  "the webm container cannot hold libx264: VP9 (libvpx-vp9) is used instead"},
                      // Any other ending is AVI, as it always was.
                      WrittenCase{"movie.avi", "H264", "avi", "h264", 64, "yuv420p", false},
                      WrittenCase{"movie.mp4.bak", "MJPG", "avi", "mjpeg", 63, "", false},
                      WrittenCase{"movie", "DIB ", "avi", "rawvideo", 63, "", false}));

TEST(ContainerWriterTest, AMovieWithoutFramesIsAnEmptyAviOrNothing) {
  // An AVI can say "no frames"; the other containers cannot be written empty, and a file
  // in the wrong format under their name would be worse than the earlier movie.
  const struct {
    const char* file;
    bool written;
  } cases[] = {{"empty.avi", true}, {"empty.mp4", false}, {"empty.mkv", false}, {"empty.webm", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir("cont-empty");
    const std::string path = dir.File(c.file);
    WriteBytes(path, {'o', 'l', 'd'});
    MovieWriter writer;
    ASSERT_TRUE(writer.Open(path)) << writer.Error();
    EXPECT_EQ(writer.Finish(), c.written) << writer.Error();
    EXPECT_EQ(Signature(path), c.written ? "avi" : "?");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{c.file});
  }
}

TEST(ContainerEncodersTest, EachListedEncoderFitsAndAviListsThemAll) {
  const std::vector<EncoderInfo> avi = ListAviEncoders();
  EXPECT_EQ(ListContainerEncoders("avi").size(), avi.size() + ListHardwareEncoders("avi").size());
  for (const char* muxer : {"mp4", "mov", "matroska", "webm"}) {
    const std::vector<EncoderInfo> list = ListContainerEncoders(muxer);
    EXPECT_LT(list.size(), avi.size()) << muxer;
    for (const EncoderInfo& e : list) EXPECT_TRUE(EncoderFitsContainer(e.name, muxer)) << e.name;
  }
  const auto named = [](const std::vector<EncoderInfo>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const EncoderInfo& e) { return e.name == name; });
  };
  EXPECT_FALSE(named(ListContainerEncoders("mp4"), "rawvideo"));
  EXPECT_TRUE(named(ListContainerEncoders("mp4"), "mjpeg"));
}

}  // namespace
}  // namespace chronoreel
