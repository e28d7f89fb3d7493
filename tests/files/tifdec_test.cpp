// The strip decoders for compressed TIFF files of other programs.
#include <gtest/gtest.h>

#include <vector>

#include "files/imgcommon.h"

using imgfmt::unlzw;
using imgfmt::unpackbits;

TEST(TifDec, PackBits) {
  const std::vector<uint8_t> in = {0xFE, 0xAA, 0x02, 0x80, 0x00, 0x2A, 0xFD, 0xAA, 0x03,
                                   0x80, 0x00, 0x2A, 0x22, 0xF7, 0xAA, 0x80};
  const std::vector<uint8_t> want = {0xAA, 0xAA, 0xAA, 0x80, 0x00, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x00,
                                     0x2A, 0x22, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  std::vector<uint8_t> out;
  ASSERT_TRUE(unpackbits(in.data(), in.size(), &out, 1000));
  EXPECT_EQ(out, want);
  // Never more than asked for; a literal run cut short is bad data.
  out.clear();
  ASSERT_TRUE(unpackbits(in.data(), in.size(), &out, 5));
  EXPECT_EQ(out.size(), 5u);
  out.clear();
  EXPECT_FALSE(unpackbits(in.data(), 4, &out, 1000));
}

// Codes of 9 bits, high bits first, into bytes.
static std::vector<uint8_t> pack9(const std::vector<int>& codes) {
  std::vector<uint8_t> b;
  uint32_t acc = 0;
  int n = 0;
  for (int c : codes) {
    acc = (acc << 9) | static_cast<uint32_t>(c);
    for (n += 9; n >= 8; n -= 8) b.push_back(static_cast<uint8_t>(acc >> (n - 8)));
  }
  if (n) b.push_back(static_cast<uint8_t>(acc << (8 - n)));
  return b;
}

TEST(TifDec, Lzw) {
  // Clear, a, b, 258 ("ab"), 260 (the code being made: "aba"), end.
  std::vector<uint8_t> in = pack9({256, 'a', 'b', 258, 260, 257});
  std::vector<uint8_t> out;
  ASSERT_TRUE(unlzw(in.data(), in.size(), &out, 100));
  EXPECT_EQ(std::string(out.begin(), out.end()), "abababa");
  // A code past the table is bad data.
  in = pack9({256, 'a', 300, 257});
  out.clear();
  EXPECT_FALSE(unlzw(in.data(), in.size(), &out, 100));
}
