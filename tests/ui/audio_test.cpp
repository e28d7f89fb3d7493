// WAVE headers and the parser; the audio layer's output file, its pacing by
// the clock object, its completion messages and its input file. SDL's audio
// is kept out (an audio driver that does not exist), so the doubles alone
// carry the sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/interp.h"
#include "tests/support/threads.h"
#include "ui/events.h"
#include "ui/platform/audio.h"
#include "ui/platform/clock.h"
#include "ui/platform/wave.h"

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v);
  put16(b, v >> 16);
}
void tag(std::vector<uint8_t>& b, const char* t) {
  for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(t[i]));
}
void append(std::vector<uint8_t>& b, const std::vector<uint8_t>& more) {
  for (uint8_t c : more) b.push_back(c);
}

// A WAVE file: fmt fields, extra chunks before the data, the data bytes
// and the size the data chunk claims (-1: its real size).
std::vector<uint8_t> wave(uint16_t ftag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits,
                          const std::vector<uint8_t>& data, int64_t claim = -1,
                          const std::vector<uint8_t>& extra = {}, uint32_t fmtsize = 16) {
  std::vector<uint8_t> b;
  tag(b, "RIFF");
  put32(b, 0);
  tag(b, "WAVE");
  tag(b, "fmt ");
  put32(b, fmtsize);
  put16(b, ftag);
  put16(b, ch);
  put32(b, rate);
  put32(b, rate * align);
  put16(b, align);
  put16(b, bits);
  for (uint32_t i = 16; i < fmtsize; i++) b.push_back(0);
  append(b, extra);
  tag(b, "data");
  put32(b, claim < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(claim));
  append(b, data);
  return b;
}

TEST(Wave, HeaderBytes) {
  uint8_t h[WAVHDR];
  wavhdr(h, wavpcm(44100), 88200);
  const uint8_t want[WAVHDR] = {'R', 'I', 'F', 'F', 0xAC, 0x58, 0x01, 0x00, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16,   0,    0,    0,    1,   0,   1,   0,
                                0x44, 0xAC, 0, 0, 0x88, 0x58, 0x01, 0x00, 2,   0,   16,  0,
                                'd', 'a', 't', 'a', 0x88, 0x58, 0x01, 0x00};
  EXPECT_EQ(std::memcmp(h, want, WAVHDR), 0);
  // Stereo: four bytes a frame.
  const WavFmt s = wavpcm(8000, 2);
  EXPECT_EQ(s.align, 4);
  EXPECT_EQ(s.bytesps, 32000u);
}

TEST(Wave, ParseChunksAndBounds) {
  const std::vector<uint8_t> d = {1, 2, 3, 4, 5, 6, 7, 8};
  WavData w;
  // A plain file.
  auto f = wave(1, 1, 8000, 2, 16, d);
  ASSERT_EQ(wavparse(f.data(), f.size(), &w), 0);
  EXPECT_EQ(w.offset, 44u);
  EXPECT_EQ(w.bytes, 8u);
  EXPECT_EQ(w.fmt.rate, 8000u);
  // A chunk of odd size before the data is padded to an even length.
  std::vector<uint8_t> list;
  tag(list, "LIST");
  put32(list, 3);
  append(list, {'a', 'b', 'c', 0});
  f = wave(1, 1, 8000, 2, 16, d, -1, list);
  ASSERT_EQ(wavparse(f.data(), f.size(), &w), 0);
  EXPECT_EQ(w.offset, 44u + 12u);
  // A data chunk that claims more than the file holds keeps its whole
  // frames: 7 bytes of 2-byte frames are 6.
  f = wave(1, 1, 8000, 2, 16, {1, 2, 3, 4, 5, 6, 7}, 1000);
  ASSERT_EQ(wavparse(f.data(), f.size(), &w), 0);
  EXPECT_EQ(w.bytes, 6u);
  // An alignment below one frame is taken as one frame.
  f = wave(1, 2, 8000, 1, 16, d);
  ASSERT_EQ(wavparse(f.data(), f.size(), &w), 0);
  EXPECT_EQ(w.fmt.align, 4);
  // The extensible form names its format in its sub-format.
  std::vector<uint8_t> ext = {22, 0, 24, 0, 4, 0, 0, 0, 3, 0};
  f = wave(0xFFFE, 1, 8000, 4, 32, d, -1, {}, 40);
  std::memcpy(f.data() + 20 + 16, ext.data(), ext.size());
  ASSERT_EQ(wavparse(f.data(), f.size(), &w), 0);
  EXPECT_EQ(w.fmt.tag, 3);

  // Refused: not RIFF/WAVE, a short fmt chunk, no fmt before data, no
  // channels, bits not whole bytes, a fmt chunk past the end, too short.
  f = wave(1, 1, 8000, 2, 16, d);
  f[3] = 'X';
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 8000, 2, 16, d);
  f[11] = 'X';
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 8000, 2, 16, d);
  f[16] = 15;
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 8000, 2, 16, d);
  std::memcpy(f.data() + 12, "junk", 4);
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 0, 8000, 2, 16, d);
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 0, 2, 16, d);
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 8000, 2, 12, d);
  EXPECT_EQ(wavparse(f.data(), f.size(), &w), -1);
  f = wave(1, 1, 8000, 2, 16, d);
  EXPECT_EQ(wavparse(f.data(), 30, &w), -1);
  EXPECT_EQ(wavparse(f.data(), 11, &w), -1);
  EXPECT_EQ(wavparse(nullptr, 100, &w), -1);
}

TEST(Wave, Playable) {
  WavFmt f = wavpcm(8000);
  EXPECT_TRUE(wavplayable(f));
  for (uint16_t bits : {8, 24, 32}) {
    f.bits = bits;
    EXPECT_TRUE(wavplayable(f)) << bits;
  }
  f.bits = 12;
  EXPECT_FALSE(wavplayable(f));
  f = wavpcm(8000, 8);
  EXPECT_TRUE(wavplayable(f));
  f.channels = 9;
  EXPECT_FALSE(wavplayable(f));
  f.channels = 0;
  EXPECT_FALSE(wavplayable(f));
  f = wavpcm(8000);
  f.tag = 3;
  EXPECT_FALSE(wavplayable(f));  // float of 16 bits
  f.bits = 32;
  EXPECT_TRUE(wavplayable(f));
  f.tag = 2;  // ADPCM
  EXPECT_FALSE(wavplayable(f));
}

class Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "none-such", 1);
    unsetenv("PELIX_AUDIO_IN");
    unsetenv("PELIX_AUDIO_TRACE");
    setenv("PELIX_AUDIO_OUT", (dir_.path + "/out.wav").c_str(), 1);
    audreset();
    clock_set_virtual(true);
    clrmsgs();
  }
  void TearDown() override {
    audnotify(0);
    audreset();
    unsetenv("PELIX_AUDIO_OUT");
    unsetenv("PELIX_AUDIO_IN");
    unsetenv("PELIX_AUDIO_TRACE");
    clrmsgs();
    clock_set_virtual(false);
  }
  ScratchDir dir_{"/tmp/pelix-audio-"};
};

TEST_F(Audio, OutputFileKeepsFirstHeaderAndEveryBuffer) {
  const WavFmt a = wavpcm(8000);
  ASSERT_EQ(audout(a), 0);
  const uint8_t s1[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(audqueue(s1, 6), 0);
  // A partial frame is not queued.
  const uint8_t s2[3] = {7, 8, 9};
  ASSERT_EQ(audqueue(s2, 3), 0);
  // A second format goes on in the same file, unconverted.
  WavFmt b = wavpcm(22050);
  b.bits = 8;
  b.align = 1;
  b.bytesps = 22050;
  ASSERT_EQ(audout(b), 0);
  const uint8_t s3[3] = {0x80, 0x81, 0x82};
  ASSERT_EQ(audqueue(s3, 3), 0);
  const std::string f = slurp(dir_.path + "/out.wav");
  ASSERT_EQ(f.size(), 44u + 11u);
  uint8_t h[WAVHDR];
  wavhdr(h, a, 11);
  EXPECT_EQ(std::memcmp(f.data(), h, WAVHDR), 0);
  EXPECT_EQ(f.substr(44), std::string("\1\2\3\4\5\6\7\x08\x80\x81\x82", 11));
  // An unplayable format opens nothing.
  b.bits = 12;
  EXPECT_EQ(audout(b), -1);
  EXPECT_EQ(audqueue(s3, 3), -1);
}

TEST_F(Audio, NoDeviceNoFileIsNoOutput) {
  unsetenv("PELIX_AUDIO_OUT");
  audreset();
  EXPECT_EQ(audout(wavpcm(8000)), -1);
  const uint8_t s[2] = {0, 0};
  EXPECT_EQ(audqueue(s, 2), -1);
}

TEST_F(Audio, PacedByTheClockWithCompletionMessages) {
  ASSERT_EQ(audout(wavpcm(1000)), 0);  // 2 bytes a frame, 1 ms a frame
  std::vector<uint8_t> buf(200);     // 100 ms
  audnotify(77);
  const uint64_t t0 = clock_ns();
  ASSERT_EQ(audqueue(buf.data(), 200, 1), 0);
  ASSERT_EQ(audqueue(buf.data(), 100, 2), 0);  // starts when the first ends
  EXPECT_EQ(audend() - t0, 150000000u);
  EXPECT_TRUE(audbusy());
  EXPECT_EQ(audpump(), 0);
  clock_sleep_ns(100000000 - 1);  // one nanosecond before the first ends
  EXPECT_EQ(audpump(), 0);
  clock_sleep_ns(1);
  EXPECT_EQ(audpump(), 1);
  Msg m;
  ASSERT_TRUE(peekmsg(&m, MM_WOM_OPEN, MM_WOM_DONE, 1));
  EXPECT_EQ(m.message, static_cast<uint32_t>(MM_WOM_DONE));
  EXPECT_EQ(m.lParam, 1u);
  // A stop ends the second now: its message comes at the next pump, and
  // nothing plays any more.
  audstop();
  EXPECT_FALSE(audbusy());
  EXPECT_EQ(audpump(), 1);
  ASSERT_TRUE(peekmsg(&m, MM_WOM_OPEN, MM_WOM_DONE, 1));
  EXPECT_EQ(m.lParam, 2u);
  // A buffer queued after a pause starts when it is queued.
  clock_sleep_ns(500000000);
  const uint64_t t1 = clock_ns();
  ASSERT_EQ(audqueue(buf.data(), 20, 3), 0);
  EXPECT_EQ(audend(), t1 + 10000000u);
  audclose();
  // Closing reports the buffer that was dropped, then the close.
  ASSERT_TRUE(peekmsg(&m, MM_WOM_OPEN, MM_WOM_DONE, 1));
  EXPECT_EQ(m.message, static_cast<uint32_t>(MM_WOM_DONE));
  ASSERT_TRUE(peekmsg(&m, MM_WOM_OPEN, MM_WOM_DONE, 1));
  EXPECT_EQ(m.message, static_cast<uint32_t>(MM_WOM_CLOSE));
  EXPECT_EQ(m.hwnd, 77);
}

TEST_F(Audio, TheDeviceHoldsNoMoreThanTheClockHasAhead) {
  // SDL's dummy device plays in real time while the virtual clock runs
  // ahead: 60 s of CD sound queued in 16 KB buffers, each waited for by the
  // clock, leave the device no more than half a second and a buffer or two.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  audreset();
  const WavFmt f = wavpcm(44100, 2);
  ASSERT_EQ(audout(f), 0);
  std::vector<uint8_t> buf(16384);
  ASSERT_EQ(audqueue(buf.data(), 16384), 0);
  // SDL is started once a process: a test before this one may have kept
  // it from any device.
  if (audheld() == 0) GTEST_SKIP() << "no SDL audio device";
  for (int i = 0; i < 60 * 176400 / 16384; i++) {
    ASSERT_EQ(audqueue(buf.data(), 16384), 0);
    clock_sleep_ns(audend() - clock_ns());
  }
  EXPECT_LE(audheld(), 176400u / 2 + 65536 + 16384);
  // Under the clock's pace nothing is dropped: the buffers of the time
  // ahead stay with the device (less what it may have played meanwhile,
  // in real time: a buffer's worth is 93 ms).
  for (int i = 0; i < 4; i++) ASSERT_EQ(audqueue(buf.data(), 16384), 0);
  EXPECT_GE(audheld(), 3u * 16384);
}

TEST_F(Audio, TheDevicesThreadsTakeNoSignals) {
  // SDL plays and records on threads of its own: they block every signal,
  // which stay with the main thread (Ctrl-C among them).
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("PELIX_AUDIO_OUT");
  audreset();
  // SDL is started once a process: a test before this one may have kept
  // it from any device.
  std::vector<uint8_t> buf(1600);
  if (audout(wavpcm(8000)) != 0 || audqueue(buf.data(), 1600) != 0 || audheld() == 0)
    GTEST_SKIP() << "no SDL audio device";
  unsetenv("PELIX_AUDIO_IN");
  ASSERT_EQ(audin(8000), 0);  // the device records
  const std::string me = std::to_string(getpid());
  int others = 0;
  for (const std::string& t : tasks()) {
    if (t == me) continue;
    const std::string b = sigblk(t);
    if (b.empty()) continue;
    others++;
    EXPECT_EQ(b, allsigs()) << "thread " << t;
  }
  EXPECT_GE(others, 2);
  audinclose();
  audclose();
}

TEST_F(Audio, InputFileAtOnceThenZerosByTheClock) {
  // An 8-bit stereo file: the first channel, made 16 bits.
  const std::string in = dir_.path + "/in.wav";
  const auto f = wave(1, 2, 100, 2, 8, {0x80, 1, 0x81, 2, 0x7F, 3, 0xFF, 4});
  FILE* fp = std::fopen(in.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(f.data(), 1, f.size(), fp);
  std::fclose(fp);
  setenv("PELIX_AUDIO_IN", in.c_str(), 1);
  audreset();
  ASSERT_EQ(audin(100), 1);
  int16_t s[16];
  std::memset(s, 0x55, sizeof s);
  ASSERT_EQ(audread(s, 16), 4);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[1], 256);
  EXPECT_EQ(s[2], -256);
  EXPECT_EQ(s[3], 127 * 256);
  EXPECT_EQ(audread(s, 16), 0);
  // At 100 a second: 10 ms a sample; the zeros follow once the file's
  // 40 ms are past.
  clock_sleep_ns(50000000);
  ASSERT_EQ(audread(s, 16), 1);
  EXPECT_EQ(s[0], 0);
  clock_sleep_ns(100000000);
  EXPECT_EQ(audread(s, 3), 3);
  EXPECT_EQ(audread(s, 16), 7);
  audinclose();
  EXPECT_EQ(audread(s, 16), 0);
  // A 24-bit file is refused; so is a missing one.
  const auto g = wave(1, 1, 100, 3, 24, {1, 2, 3});
  fp = std::fopen(in.c_str(), "wb");
  std::fwrite(g.data(), 1, g.size(), fp);
  std::fclose(fp);
  EXPECT_EQ(audin(100), -1);
  setenv("PELIX_AUDIO_IN", (dir_.path + "/none.wav").c_str(), 1);
  audreset();
  EXPECT_EQ(audin(100), -1);
}

TEST_F(Audio, TraceLineForTheFirstBufferOfAMarkedSound) {
  const std::string tr = dir_.path + "/trace.txt";
  setenv("PELIX_AUDIO_TRACE", tr.c_str(), 1);
  audreset();
  ASSERT_EQ(audout(wavpcm(8000)), 0);
  const uint8_t s[2] = {0, 0};
  audmark();
  audqueue(s, 2);
  audqueue(s, 2);  // not a first buffer: no line
  audqueue(s, 2);
  audmark();
  audqueue(s, 2);
  audreset();  // closes the trace
  const std::string t = slurp(tr);
  int lines = 0;
  for (char c : t) lines += c == '\n';
  EXPECT_EQ(lines, 2) << t;
  EXPECT_GE(std::atof(t.c_str()), 0.0);
}

}  // namespace
