// Sound: the command's forms typed through the main loop, the internal
// play modes, recording into a file or a buffer (the trim of trailing
// zeros, the limits on seconds, the clock), and the WAVE writer's bytes.
// Sound goes to the audio layer's file doubles; SDL's audio is kept out.
#include "realtime/devices/sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/args.h"
#include "tests/lang/mac_fixture.h"
#include "ui/platform/audio.h"
#include "ui/platform/clock.h"

namespace {

std::string wavbytes(uint32_t rate, const std::vector<int16_t>& s) {
  uint8_t h[WAVHDR];
  wavhdr(h, wavpcm(rate), static_cast<uint32_t>(s.size() * 2));
  std::string b(reinterpret_cast<const char*>(h), WAVHDR);
  for (int16_t v : s) {
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>((v >> 8) & 0xFF));
  }
  return b;
}

class Sound : public MacRun {
 protected:
  Sound() : MacRun("/tmp/pelix-sound-") {}
  void SetUp() override {
    MacRun::SetUp();
    setenv("SDL_AUDIODRIVER", "none-such", 1);
    setenv("PELIX_AUDIO_OUT", (dir + "out.wav").c_str(), 1);
    setenv("PELIX_AUDIO_IN", (dir + "in.wav").c_str(), 1);
    audreset();
    clock_set_virtual(true);
    sndplaying = sndinit = 0;
    setstrv("curdir", dir.c_str());
  }
  void TearDown() override {
    audreset();
    unsetenv("PELIX_AUDIO_OUT");
    unsetenv("PELIX_AUDIO_IN");
    clock_set_virtual(false);
    setstrv("curdir", "");
    setstrv("datadir", "");
    MacRun::TearDown();
  }
  // The samples of the output file so far.
  size_t played() {
    const std::string o = slurp(dir + "out.wav");
    return o.size() < WAVHDR ? 0 : (o.size() - WAVHDR) / 2;
  }
};

TEST_F(Sound, CommandFormsAndTheQuery) {
  file("t.wav", wavbytes(1000, std::vector<int16_t>(100, 3)));  // 100 ms
  type("sound -1\n");
  EXPECT_EQ(rows(), "Sound channel is not busy\n");
  // Asynchronous by default, once whatever the count.
  type("sound \"t.wav\" 0 4\nsound -1\n");
  EXPECT_EQ(rows(), "Sound channel is busy\n");
  EXPECT_EQ(sndplaying, 1u);
  EXPECT_EQ(played(), 100u);
  // 0 or more does nothing at all: the sound plays on.
  type("sound 0\nsound -1\n");
  EXPECT_EQ(rows(), "Sound channel is busy\n");
  // Below -1: stop only.
  type("sound -7\nsound -1\n");
  EXPECT_EQ(rows(), "Sound channel is not busy\n");
  EXPECT_EQ(sndplaying, 0u);
  EXPECT_EQ(played(), 100u);
  // Synchronous with a count: each repeat waits, the clock moves by all.
  const uint64_t t0 = clock_ns();
  type("sound t.wav 0 2 0\n");
  EXPECT_EQ(clock_ns() - t0, 200000000u);
  EXPECT_EQ(played(), 300u);
  EXPECT_EQ(sndinit, 1u);
  // A string variable names the file; an array variable plays nothing.
  type("declare string nm\nnm = \"t.wav\"\nsound nm 0 1 0\nsound x\n");
  EXPECT_EQ(played(), 400u);
  EXPECT_EQ(rows(), "");
}

TEST_F(Sound, LookUpInDatadirThenThePath) {
  std::filesystem::create_directory(dir + "snd");
  std::filesystem::create_directory(dir + "lib");
  file("snd/a.snd", wavbytes(1000, {1, 2}));
  file("lib/b.snd", wavbytes(1000, {3, 4, 5}));
  file("lib/a.snd", wavbytes(1000, {6, 6, 6, 6}));  // datadir's comes first
  setstrv("datadir", (dir + "snd/").c_str());
  setstrv("path", (dir + "lib/").c_str());
  EXPECT_EQ(sound(1, "a", 0), 0);
  EXPECT_EQ(played(), 2u);
  EXPECT_EQ(sound(1, "b", 0), 0);
  EXPECT_EQ(played(), 5u);
  EXPECT_EQ(state & ST_ERROR, 0);
  // Mode 2 plays the name as it is: "a" does not open.
  EXPECT_EQ(sound(2, "a", 0), 0);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_FLOAT_EQ(getres(0), -187.0f);
  EXPECT_EQ(sndplaying, 0u);
  state = 0;
  EXPECT_EQ(sound(2, (dir + "snd/a.snd").c_str(), 0), 0);
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_EQ(sndplaying, 1u);
  EXPECT_EQ(played(), 7u);
}

TEST_F(Sound, RecordTrimsOnlyTrailingZeros) {
  file("in.wav", wavbytes(10, {5, 0, 0, -7, 0, 0, 0}));
  int16_t* buf = nullptr;
  const uint64_t t0 = clock_ns();
  EXPECT_EQ(sndrec(nullptr, 2, 10, &buf), 4);
  // The file came at once; the zeros ran until the 2 seconds were up.
  EXPECT_EQ(clock_ns() - t0, 2000000000u);
  ASSERT_NE(buf, nullptr);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[3], -7);
  std::free(buf);
  // Into a file: the header of 16-bit mono at the rate, then the samples.
  EXPECT_EQ(sndrec("r.wav", 1, 10, nullptr), 0);
  EXPECT_EQ(slurp(dir + "r.wav"), wavbytes(10, {5, 0, 0, -7}));
  // A file shorter than the time: only what was asked.
  file("in.wav", wavbytes(10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(sndrec("r.wav", 1, 10, nullptr), 0);
  EXPECT_EQ(slurp(dir + "r.wav"), wavbytes(10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  // Nothing but zeros: no samples, no buffer.
  file("in.wav", wavbytes(10, {0, 0, 0}));
  buf = reinterpret_cast<int16_t*>(&buf);
  EXPECT_EQ(sndrec(nullptr, 1, 10, &buf), 0);
  EXPECT_EQ(buf, nullptr);
}

TEST_F(Sound, RecordLimits) {
  file("in.wav", wavbytes(1, {9}));
  // 1 to 3600 seconds (at 1 sample a second the buffer stays small).
  EXPECT_EQ(sndrec("a.wav", 0, 1, nullptr), -2);
  EXPECT_EQ(sndrec("a.wav", 3601, 1, nullptr), -2);
  EXPECT_FALSE(std::filesystem::exists(dir + "a.wav"));
  EXPECT_EQ(sndrec("a.wav", 3600, 1, nullptr), 0);
  EXPECT_EQ(slurp(dir + "a.wav"), wavbytes(1, {9}));
  EXPECT_EQ(sndrec("b.wav", 1, 1, nullptr), 0);
  // A buffer of more than 2^31 samples is refused.
  EXPECT_EQ(sndrec(nullptr, 3600, 600000, nullptr), -2);
  // No input: -1, nothing written.
  unsetenv("PELIX_AUDIO_IN");
  audreset();
  EXPECT_EQ(sndrec("c.wav", 1, 10, nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists(dir + "c.wav"));
  // The command form: seconds from the count, the result in r0.
  type("sound \"d.wav\" 1 1\n");
  EXPECT_FLOAT_EQ(getres(0), -1.0f);
  EXPECT_EQ(sound(3, "e.wav", 0), 0);
  EXPECT_FLOAT_EQ(getres(0), -2.0f);
}

TEST_F(Sound, RecordEndsAtAKeyWithWhatCame) {
  file("in.wav", wavbytes(100, {4, 4, 4}));
  kb.pending.push_back('q');  // comes at the first poll
  const uint64_t t0 = clock_ns();
  EXPECT_EQ(sndrec("k.wav", 60, 100, nullptr), 0);
  EXPECT_LT(clock_ns() - t0, 1000000000u);
  EXPECT_EQ(slurp(dir + "k.wav"), wavbytes(100, {4, 4, 4}));
}

TEST_F(Sound, WavwrtBytesAndFailures) {
  ASSERT_EQ(wavwrt("w.wav", nullptr, 0, wavpcm(8000)), 0);
  EXPECT_EQ(slurp(dir + "w.wav"), wavbytes(8000, {}));
  const int16_t s[3] = {-2, 300, 32767};
  ASSERT_EQ(wavwrt("w.wav", s, 3, wavpcm(8000)), 0);
  EXPECT_EQ(slurp(dir + "w.wav"), wavbytes(8000, {-2, 300, 32767}));
  // A folder that is not there; a format of other than 16 bits.
  EXPECT_EQ(wavwrt("no/w.wav", s, 3, wavpcm(8000)), -1);
  WavFmt f = wavpcm(8000);
  f.bits = 8;
  EXPECT_EQ(wavwrt("w.wav", s, 3, f), -1);
  EXPECT_EQ(slurp(dir + "w.wav"), wavbytes(8000, {-2, 300, 32767}));
  // Nothing is left behind but the file.
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    n += e.path().filename().string().rfind("w.wav", 0) == 0;
  EXPECT_EQ(n, 1);
}

TEST_F(Sound, CameraStubs) {
  EXPECT_EQ(devstb1(), -1);
  EXPECT_EQ(devstb2(), 0);
  EXPECT_EQ(devstb3(), -1);
  EXPECT_EQ(devstb4(), -1);
  EXPECT_EQ(devstb5(), 0);
  EXPECT_EQ(devstb6(), -1);
}

}  // namespace
