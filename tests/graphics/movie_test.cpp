// Movie recording byte for byte, the header reader on our files and on
// broken ones, and the small helpers of playback.
#include "graphics/movie/avwrite.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/movie/ffmov.h"
#include "graphics/movie/movie.h"
#include "graphics/movie/riff.h"

namespace fs = std::filesystem;

namespace {

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
std::string cc(const std::vector<uint8_t>& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

std::vector<uint8_t> slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class Movie : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = (fs::temp_directory_path() / ("mov" + std::to_string(getpid()))).string();
    fs::create_directories(dir);
    // A failure another test left untold.
    std::string n;
    int c, e;
    avwfail(&n, &c, &e);
    avwdrops();
  }
  void TearDown() override {
    avwclos();
    fs::remove_all(dir);
  }
  // A 3 x 2 frame whose pixel (x, y) is base + y * 16 + x, top row first.
  static std::vector<uint8_t> frame(uint32_t base) {
    std::vector<uint8_t> f(3 * 2 * 4);
    for (uint32_t y = 0; y < 2; y++)
      for (uint32_t x = 0; x < 3; x++) {
        const uint32_t v = base + y * 16 + x;
        std::memcpy(&f[(y * 3 + x) * 4], &v, 4);
      }
    return f;
  }
};

TEST_F(Movie, RecordingLayoutByteForByte) {
  const std::string name = dir + "/a.avi";
  ASSERT_EQ(avwopen(name.c_str(), 3, 2, 30, 32, 0), 0);  // scale 0 counts as 1
  const auto f1 = frame(0x100), f2 = frame(0x200);
  EXPECT_EQ(avwrite(f1.data(), f1.size(), 1, 0), 0);  // index 0, written
  EXPECT_EQ(avwrite(f1.data(), f1.size(), 1, 0), 0);  // index 1, the same: empty
  EXPECT_EQ(avwrite(f2.data(), f2.size(), 1, 4), 0);  // index 3; index 2 empty
  EXPECT_EQ(avwrite(f1.data(), f1.size(), 1, 2), 0);  // index 1 again: f1, a chunk more
  EXPECT_EQ(avwrite(f1.data(), f1.size() - 1, 1, 0), -1);  // short of a frame
  // The last frame written (f1) again at index 5; 2 and 3 keep theirs.
  EXPECT_EQ(avwopen(nullptr, 6, 0, 0, 0, 0), 0);
  const auto b = slurp(name);
  const uint32_t len = 6, written = 4, fb = 24;
  ASSERT_EQ(b.size(), 232 + 24 * len + 8 + written * fb);
  EXPECT_EQ(cc(b, 0), "RIFF");
  EXPECT_EQ(u32(b, 4), b.size() - 8);
  EXPECT_EQ(cc(b, 8), "AVI ");
  EXPECT_EQ(cc(b, 12), "LIST");
  EXPECT_EQ(u32(b, 16), 192u);
  EXPECT_EQ(cc(b, 20), "hdrl");
  EXPECT_EQ(cc(b, 24), "avih");
  EXPECT_EQ(u32(b, 28), 56u);
  EXPECT_EQ(u32(b, 32), 33333u);  // microseconds a frame at 30 a second
  EXPECT_EQ(u32(b, 44), 0x30u);   // has an index, to be read by it (index 1 again)
  EXPECT_EQ(u32(b, 48), len);     // total frames
  EXPECT_EQ(u32(b, 56), 1u);      // streams
  EXPECT_EQ(u32(b, 60), fb);      // suggested buffer
  EXPECT_EQ(u32(b, 64), 3u);
  EXPECT_EQ(u32(b, 68), 2u);
  EXPECT_EQ(cc(b, 88), "LIST");
  EXPECT_EQ(u32(b, 92), 116u);
  EXPECT_EQ(cc(b, 96), "strl");
  EXPECT_EQ(cc(b, 100), "strh");
  EXPECT_EQ(u32(b, 104), 56u);
  EXPECT_EQ(cc(b, 108), "vids");
  EXPECT_EQ(u32(b, 112), 0u);     // handler
  EXPECT_EQ(u32(b, 128), 1u);     // scale
  EXPECT_EQ(u32(b, 132), 30u);    // rate
  EXPECT_EQ(u32(b, 140), len);    // length
  EXPECT_EQ(u32(b, 144), fb);
  EXPECT_EQ(cc(b, 164), "strf");
  EXPECT_EQ(u32(b, 168), 40u);
  EXPECT_EQ(u32(b, 172), 40u);
  EXPECT_EQ(u32(b, 176), 3u);
  EXPECT_EQ(u32(b, 180), 2u);     // positive: rows bottom-up
  EXPECT_EQ(b[186] | b[187] << 8, 32);
  EXPECT_EQ(u32(b, 192), 0u);     // biSizeImage
  EXPECT_EQ(cc(b, 212), "LIST");
  EXPECT_EQ(cc(b, 220), "movi");
  // The chunks in the file's order: indices 0 (f1), 1 and 2 (empty), 3
  // (f2), 1 again (f1), 4 (empty), 5 (f1).
  const uint32_t sizes[7] = {fb, 0, 0, fb, fb, 0, fb};
  size_t at = 224;
  std::vector<size_t> offs;
  for (uint32_t s : sizes) {
    EXPECT_EQ(cc(b, at), "00db");
    EXPECT_EQ(u32(b, at + 4), s);
    offs.push_back(at);
    at += 8 + s;
  }
  EXPECT_EQ(u32(b, 216), at - 220);  // the movi list's size
  // The first frame bottom-up: the file's first row is the frame's last.
  EXPECT_EQ(u32(b, 232), 0x110u);
  EXPECT_EQ(u32(b, 232 + 12), 0x100u);
  EXPECT_EQ(u32(b, offs[3] + 8), 0x210u);
  EXPECT_EQ(u32(b, offs[4] + 8), 0x110u);  // f1 at index 1
  EXPECT_EQ(u32(b, offs[6] + 8), 0x110u);  // the last frame written, again
  // The index: one entry per index at its latest chunk, offsets from the
  // 'movi' fourcc, key-frame flag on data.
  const int chunkof[6] = {0, 4, 2, 3, 5, 6};
  EXPECT_EQ(cc(b, at), "idx1");
  EXPECT_EQ(u32(b, at + 4), 16 * len);
  for (uint32_t i = 0; i < len; i++) {
    const size_t e = at + 8 + 16 * i;
    const int k = chunkof[i];
    EXPECT_EQ(cc(b, e), "00db");
    EXPECT_EQ(u32(b, e + 4), sizes[k] ? 0x10u : 0u);
    EXPECT_EQ(u32(b, e + 8), offs[k] - 220);
    EXPECT_EQ(u32(b, e + 12), sizes[k]);
  }
  EXPECT_EQ(at + 8 + 16 * len, b.size());
}

TEST_F(Movie, OpenFailuresReopenAndFinish) {
  EXPECT_EQ(avwopen((dir + "/none/x.avi").c_str(), 3, 2, 10, 32, 1), -1);
  std::string name;
  int code = 0, err = 0;
  ASSERT_TRUE(avwfail(&name, &code, &err));
  EXPECT_EQ(code, 66);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(avwopen((dir + "/x.avi").c_str(), 0, 2, 10, 32, 1), -2);
  EXPECT_FALSE(avwisopen());
  EXPECT_FALSE(fs::exists(dir + "/x.avi"));
  // A second recording closes the first: its index and lengths written, no
  // frame written again.
  const auto f = frame(7);
  ASSERT_EQ(avwopen((dir + "/a.avi").c_str(), 3, 2, 10, 32, 2), 0);
  EXPECT_EQ(avwframe(), 24);
  avwrite(f.data(), f.size(), 1, 0);
  // Until it is closed the file does not exist under its name.
  EXPECT_FALSE(fs::exists(dir + "/a.avi"));
  ASSERT_EQ(avwopen((dir + "/b.avi").c_str(), 3, 2, 10, 32, 1), 0);
  const auto a = slurp(dir + "/a.avi");
  ASSERT_EQ(a.size(), 232u + 24 + 24);
  EXPECT_EQ(u32(a, 128), 2u);  // scale
  EXPECT_EQ(u32(a, 32), 200000u);
  // Finishing without a frame number writes the buffer at the next index.
  avwrite(f.data(), f.size(), 1, 0);
  avwopen(nullptr, 0, 0, 0, 0, 0);
  EXPECT_FALSE(avwisopen());
  const auto b = slurp(dir + "/b.avi");
  EXPECT_EQ(b.size(), 232u + 24 * 2 + 2 * 24);
  // Nothing is open: frames are refused.
  EXPECT_EQ(avwrite(f.data(), f.size(), 1, 0), -1);
}

TEST_F(Movie, RefusalsAndDroppedFramesAreKeptToBeTold) {
  std::string name;
  int code = 0, err = 0;
  // Refused at the opening, each with its cause, and no file made.
  EXPECT_EQ(avwopen((dir + "/w.avi").c_str(), 3, 0, 10, 32, 1), -2);
  ASSERT_TRUE(avwfail(&name, &code, &err));
  EXPECT_EQ(name, dir + "/w.avi");
  EXPECT_EQ(code, 66);
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(avwopen((dir + "/g.avi").c_str(), 32768, 16384, 10, 32, 1), -2);  // 2 GB
  ASSERT_TRUE(avwfail(&name, &code, &err));
  EXPECT_EQ(err, EFBIG);
  // A name with no rate while nothing is open; without a name, nothing.
  EXPECT_EQ(avwopen((dir + "/r.avi").c_str(), 3, 2, 0, 32, 1), 0);
  ASSERT_TRUE(avwfail(&name, &code, &err));
  EXPECT_EQ(name, dir + "/r.avi");
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(avwopen(nullptr, 3, 2, 0, 32, 1), 0);
  EXPECT_FALSE(avwfail(&name, &code, &err));
  for (const auto& e : fs::directory_iterator(dir)) ADD_FAILURE() << "written: " << e.path();

  // A frame a byte short is dropped and counted; the open recording's
  // count is told and starts afresh, the rest is told after the close.
  const auto f = frame(1);
  ASSERT_EQ(avwopen((dir + "/d.avi").c_str(), 3, 2, 10, 32, 1), 0);
  EXPECT_EQ(avwrite(f.data(), f.size() - 1, 1, 0), -1);
  EXPECT_EQ(avwrite(f.data(), 8, 1, 0, 1, 2), -1);
  EXPECT_EQ(avwdrops(), std::vector<std::string>{dir + "/d.avi: 2 frames of 23 bytes dropped: smaller than the "
                                                       "recording's 3 x 2"});
  EXPECT_EQ(avwrite(f.data(), f.size(), 1, 0), 0);
  EXPECT_EQ(avwrite(f.data(), 8, 1, 0, 1, 2), -1);
  avwopen(nullptr, 0, 0, 0, 0, 0);
  EXPECT_EQ(avwdrops(), std::vector<std::string>{dir + "/d.avi: 1 frame of 1 x 2 dropped: smaller than the "
                                                       "recording's 3 x 2"});
  EXPECT_TRUE(avwdrops().empty());
  // Dropped frames are no failure: the frames that fit are kept.
  EXPECT_FALSE(avwfail(&name, &code, &err));
  EXPECT_EQ(slurp(dir + "/d.avi").size(), 232u + 24 * 2 + 2 * 24);
}

TEST_F(Movie, AFailedWriteStopsTheRecordingAndLeavesNoFile) {
  // Files may not grow past 2 KB: the frames of a 16 x 16 recording fail.
  struct rlimit keep {};
  getrlimit(RLIMIT_FSIZE, &keep);
  void (*old)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = keep;
  lim.rlim_cur = 2048;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  std::vector<uint8_t> f(16 * 16 * 4, 1);
  ASSERT_EQ(avwopen((dir + "/big.avi").c_str(), 16, 16, 10, 32, 1), 0);
  int failed = 0;
  for (int i = 0; i < 8; i++) {
    f[0] = static_cast<uint8_t>(i);
    if (avwrite(f.data(), f.size(), 1, 0) != 0) failed++;
  }
  const int closed = avwclos();
  setrlimit(RLIMIT_FSIZE, &keep);
  signal(SIGXFSZ, old);
  EXPECT_GT(failed, 0);
  EXPECT_EQ(closed, -1);
  EXPECT_FALSE(avwisopen());
  // The failure is kept to be told once: its name, error 69 and its cause.
  std::string name;
  int code = 0, err = 0;
  ASSERT_TRUE(avwfail(&name, &code, &err));
  EXPECT_EQ(name, dir + "/big.avi");
  EXPECT_EQ(code, 69);
  EXPECT_EQ(err, EFBIG);
  EXPECT_FALSE(avwfail(&name, &code, &err));
  EXPECT_FALSE(fs::exists(dir + "/big.avi"));
  for (const auto& e : fs::directory_iterator(dir)) ADD_FAILURE() << "left behind: " << e.path();
}

TEST_F(Movie, HeaderReaderOnOurFilesAndBrokenOnes) {
  const std::string name = dir + "/a.avi";
  ASSERT_EQ(avwopen(name.c_str(), 3, 2, 25, 32, 1), 0);
  const auto f = frame(1);
  avwrite(f.data(), f.size(), 1, 0);
  avwrite(f.data(), f.size(), 1, 0);
  avwrite(f.data(), f.size(), 1, 5);
  avwclos();
  AviInfo info;
  ASSERT_EQ(aviread(name, &info), 0);
  ASSERT_EQ(info.strm.size(), 1u);
  const AviStrm& s = info.strm[0];
  EXPECT_EQ(s.type, fourcc("vids"));
  EXPECT_EQ(s.length, 5u);
  EXPECT_EQ((std::vector<uint32_t>{24, 0, 0, 0, 0}), s.chunks);
  // Sample 1 to 4 are empty: the next full sample after 0 is none.
  EXPECT_EQ(nextfull(s, 0), 0);
  EXPECT_EQ(nextfull(s, 1), -1);
  EXPECT_EQ(smp2ms(s, 5), 200);
  EXPECT_EQ(ms2smp(s, 199), 4);
  EXPECT_EQ(ms2smp(s, 200), 5);
  // Cut short and with sizes past the end: read as far as it goes, no more.
  auto b = slurp(name);
  for (size_t cut : {size_t(100), size_t(11), size_t(230)}) {
    std::ofstream(dir + "/c.avi", std::ios::binary).write(reinterpret_cast<const char*>(b.data()), cut);
    AviInfo c;
    aviread(dir + "/c.avi", &c);
    EXPECT_LE(c.strm.size(), 1u);
  }
  b[16] = b[17] = b[18] = b[19] = 0xFF;  // the hdrl list claims 4 GB
  b[104] = 0xFF;                          // and strh more than it holds
  std::ofstream(dir + "/d.avi", std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  AviInfo d;
  EXPECT_EQ(aviread(dir + "/d.avi", &d), 0);
  EXPECT_EQ(aviread(dir + "/none.avi", &d), -1);
}

TEST_F(Movie, WhatTheFileHoldsBoundsTheHeaders) {
  const std::string name = dir + "/a.avi";
  ASSERT_EQ(avwopen(name.c_str(), 3, 2, 25, 32, 1), 0);
  const auto f = frame(1), g = frame(2);
  avwrite(f.data(), f.size(), 1, 0);
  avwrite(g.data(), g.size(), 1, 0);
  avwclos();
  auto b = slurp(name);
  ASSERT_EQ(b.size(), 232u + 2 * 24 + 2 * 24);
  // The headers claim 0xFFFFFFFF frames and the index is gone (the RIFF
  // size cut before it): the frames are those the movie list holds.
  for (size_t at : {size_t(48), size_t(140)}) b[at] = b[at + 1] = b[at + 2] = b[at + 3] = 0xFF;
  const uint32_t riff = static_cast<uint32_t>(b.size() - 8 - 8 - 32);
  for (int i = 0; i < 4; i++) b[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  std::ofstream(dir + "/n.avi", std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  AviInfo n;
  ASSERT_EQ(aviread(dir + "/n.avi", &n), 0);
  const AviStrm& s = n.strm[0];
  EXPECT_EQ(s.length, 0xFFFFFFFFu);
  EXPECT_EQ((std::vector<uint32_t>{24, 24}), s.chunks);
  EXPECT_EQ(strmlen(s), 2);
  EXPECT_EQ(nextfull(s, 1), 1);
  EXPECT_EQ(nextfull(s, 2), -1);
  EXPECT_TRUE(rawhas(s, 1));
  // A chunk of another size than the frame's is not the frame; nor is one
  // that runs past the file's end (the file one byte short of it).
  AviStrm t = s;
  t.chunks[1] = 28;
  EXPECT_FALSE(rawhas(t, 1));
  t.chunks[1] = 24;
  t.fsize = t.base + t.offs[1] + 8 + 24;
  EXPECT_TRUE(rawhas(t, 1));
  t.fsize--;
  EXPECT_FALSE(rawhas(t, 1));
  EXPECT_TRUE(rawhas(t, 0));
}

TEST_F(Movie, UncompressedFramesReadStraightIntoPlace) {
  const std::string name = dir + "/r.avi";
  ASSERT_EQ(avwopen(name.c_str(), 3, 2, 10, 32, 1), 0);
  auto f1 = frame(0xAB000100), f2 = frame(0xCD000200);  // a fourth byte set
  for (const auto* f : {&f1, &f1, &f2}) avwrite(f->data(), f->size(), 1, 0);  // sample 1: an empty chunk
  avwclos();
  auto b = slurp(name);
  b[224 + 8 + 24 + 8 + 1] = '1';  // the third chunk is "01db": not the stream's
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  AviInfo info;
  ASSERT_EQ(aviread(name, &info), 0);
  const int fd = open(name.c_str(), O_RDONLY);
  // Rows top first, 4 pixels apart: the fourth byte dropped, the fourth
  // pixel of each row left alone; the latest frame with data.
  std::vector<uint32_t> px(8, 7);
  EXPECT_EQ(rawfrm(fd, info.strm[0], 0, 1, px.data(), 4), 0);
  EXPECT_EQ(px, (std::vector<uint32_t>{0x100, 0x101, 0x102, 7, 0x110, 0x111, 0x112, 7}));
  EXPECT_EQ(rawfrm(fd, info.strm[0], 0, 2, px.data(), 4), -1);
  close(fd);
}

// ffmpeg's own decoding of a movie's frames, as packed RGB24.
std::vector<uint8_t> ffrgb(const std::string& name) {
  std::vector<uint8_t> out;
  if (std::FILE* p = popen(("ffmpeg -nostdin -v error -i " + name + " -f rawvideo -pix_fmt rgb24 -").c_str(), "r")) {
    uint8_t b[4096];
    for (size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) out.insert(out.end(), b, b + n);
    pclose(p);
  }
  return out;
}

// Frames decoded through FFmpeg are ffmpeg's own RGB decoding of them,
// within 2 a channel, at every size: odd widths and heights take their
// chroma from the rows and columns ffmpeg takes it from, and nothing past
// a row's width is written.
TEST_F(Movie, DecodedFramesAreFfmpegsOwn) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  const char* const kinds[][2] = {{"mpeg4", "yuv420p"},  {"mjpeg", "yuvj420p"}, {"mjpeg", "yuvj422p"},
                                  {"ffv1", "yuv422p"},   {"ffv1", "yuv444p"},   {"ffv1", "yuv420p"}};
  const int sizes[][2] = {{17, 13}, {16, 13}, {17, 12}, {16, 12}, {33, 7}, {9, 31}};
  for (const auto& k : kinds)
    for (const auto& sz : sizes) {
      const int w = sz[0], h = sz[1];
      const std::string name = dir + "/" + k[0] + k[1] + std::to_string(w) + "x" + std::to_string(h) + ".avi";
      // testsrc2 itself keeps to even sizes: cut from its RGB frames.
      const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=64x64:rate=10:duration=0.3,"
                               "format=rgb24,crop=" + std::to_string(w) + ":" + std::to_string(h) +
                               ":5:7 -c:v " + k[0] + " -pix_fmt " + k[1] + " " + name;
      ASSERT_EQ(std::system(make.c_str()), 0) << make;
      const std::vector<uint8_t> want = ffrgb(name);
      const size_t fbytes = size_t(w) * h * 3;
      ASSERT_EQ(want.size(), 3 * fbytes) << name;
      AviInfo info;
      ASSERT_EQ(aviread(name, &info), 0);
      FfVideo* v = ffvopen(name.c_str(), 0, firstsmp(info.strm[0]));
      ASSERT_NE(v, nullptr) << name;
      int worst = 0;
      for (int f = 0; f < 3; f++) {
        // Rows of the frame's own width, then rows with room after them,
        // which stays as it was.
        const int stride = f == 0 ? w : w + 3;
        std::vector<uint32_t> px(size_t(stride) * h, 0xDEADBEEFu);
        ASSERT_EQ(ffvframe(v, f, px.data(), w, h, stride), 0) << name << " frame " << f;
        for (int y = 0; y < h; y++)
          for (int x = 0; x < stride; x++) {
            const uint32_t p = px[size_t(y) * stride + x];
            if (x >= w) {
              EXPECT_EQ(p, 0xDEADBEEFu) << name << " row " << y << " written past its width";
              continue;
            }
            for (int c = 0; c < 3; c++) {
              const int got = int(p >> (16 - 8 * c) & 0xFF), ref = want[size_t(f) * fbytes + (size_t(y) * w + x) * 3 + size_t(c)];
              worst = std::max(worst, std::abs(got - ref));
            }
          }
      }
      ffvclose(v);
      EXPECT_LE(worst, 2) << name;
    }
}

// Movies whose frames the decoder reorders (B-frames), in AVI, which gives
// no presentation times: each sample shows ffmpeg's frame of that number,
// the last ones too, in order and after a jump back or ahead; a movie all
// of whose frames come out at the end alike.
TEST_F(Movie, ReorderedFramesInDisplayOrder) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  const struct {
    const char* codec;
    const char* opts;
    int n;
  } kinds[] = {{"libx264", "-bf 3 -g 8", 20}, {"mpeg4", "-bf 2 -g 7", 20}, {"libx264", "-bf 2", 20}, {"libx264", "-bf 3", 2}};
  const int w = 32, h = 24;
  int made = 0;
  for (const auto& kd : kinds) {
    const char* const k[2] = {kd.codec, kd.opts};
    const int n = kd.n;
    const std::string name = dir + "/" + k[0] + std::to_string(made) + ".avi";
    const std::string make = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=32x24:rate=10 -frames:v ") +
                             std::to_string(n) + " -c:v " + k[0] + " " + k[1] + " -pix_fmt yuv420p " + name;
    if (std::system(make.c_str()) != 0) continue;  // no such encoder here
    made++;
    const std::vector<uint8_t> want = ffrgb(name);
    const size_t fbytes = size_t(w) * h * 3;
    ASSERT_EQ(want.size(), n * fbytes) << name;
    AviInfo info;
    ASSERT_EQ(aviread(name, &info), 0);
    FfVideo* v = ffvopen(name.c_str(), 0, firstsmp(info.strm[0]));
    ASSERT_NE(v, nullptr) << name;
    std::vector<uint32_t> px(size_t(w) * h);
    std::vector<int> order;
    for (int f = 0; f < n; f++) order.push_back(f);
    for (int f : {15, 3, 10, 19, 0, 18})
      if (f < n) order.push_back(f);
    for (int f : order) {
      ASSERT_EQ(ffvframe(v, f, px.data(), w, h), 0) << name << " frame " << f;
      int worst = 0;
      for (size_t i = 0; i < px.size(); i++)
        for (int c = 0; c < 3; c++) {
          const int got = int(px[i] >> (16 - 8 * c) & 0xFF), ref = want[size_t(f) * fbytes + i * 3 + size_t(c)];
          worst = std::max(worst, std::abs(got - ref));
        }
      EXPECT_LE(worst, 2) << name << " frame " << f;
    }
    ffvclose(v);
  }
  if (made == 0) GTEST_SKIP() << "no encoder of reordered frames";
}

TEST(MovieHelpers, Muldv) {
  EXPECT_EQ(muldv(10, 3, 4), 8u);          // 7.5 rounds up
  EXPECT_EQ(muldv(0xFFFFFFFFu, 2, 4), 0x7FFFFFFFu + 1u);  // the product needs 64 bits
  EXPECT_EQ(muldv(5, 5, 0), 0u);
}

}  // namespace
