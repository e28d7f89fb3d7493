// The table of element-wise cases: operator or function, operands,
// destination word size code and window, and the exact items stored. The
// element loop defines these results; every faster path that takes one of
// these operations must store the same items (run the table through it
// with Expr::checkall and an Exec that calls it).
#pragma once
#include <vector>

#include "tests/compute/expr_fixture.h"

inline Opnd ar(int w, std::vector<double> v) { return Opnd{w, std::move(v), false}; }
inline Opnd nm(double v, int w = 96) { return Opnd{w, {v}, true}; }
inline const Opnd none{};
inline constexpr uint32_t M16 = 0x8000, M32 = 0x80000000u;

inline const std::vector<ArCase>& arcases() {
  static const std::vector<ArCase> c = {
      // + - * / on integers, with the store rule of each destination.
      // 16-bit results clamp unless aflags switches clamping off.
      {"add16", 116, ar(16, {1, 30000, -5, -30000}), ar(16, {2, 30000, 5, -30000}), 16, 0, 0, 0,
       {3, 0x7FFF, 0, 0x8001}},
      {"add16 unclamped", 116, ar(16, {1, 30000, -5, -30000}), ar(16, {2, 30000, 5, -30000}), 16, 0,
       0, 4, {3, 0xEA60, 0, 0x15A0}},
      {"add8", 116, ar(8, {200, 10, 255, 0}), ar(8, {100, 20, 1, 0}), 8, 0, 0, 0, {255, 30, 255, 0}},
      {"sub8", 117, ar(8, {200, 10, 255, 0}), ar(8, {100, 20, 1, 0}), 8, 0, 0, 0, {100, 0, 254, 0}},
      {"add8 low bits", 116, ar(8, {200, 10, 255, 0}), ar(8, {100, 20, 1, 0}), 8, 0, 0, 4,
       {44, 30, 0, 0}},
      {"sub8 low bits", 117, ar(8, {200, 10, 255, 0}), ar(8, {100, 20, 1, 0}), 8, 0, 0, 4,
       {100, 246, 254, 0}},
      {"add8 into 32", 116, ar(8, {250}), ar(8, {10}), 32, 0, 0, 0, {260}},
      {"div32", 119, ar(32, {7, -7, 5, 1}), ar(32, {2, 2, 0, 3}), 32, 0, 0, 0, {3, 0xFFFFFFFD, 0, 0}},
      {"div96", 119, ar(32, {7, -7, 5, 1}), ar(32, {2, 2, 0, 3}), 96, 0, 0, 0,
       {0x40600000, 0xC0600000, 0, 0x3EAAAAAB}},
      {"float precision", 116, ar(32, {16777217}), nm(0), 32, 0, 0, 0, {16777216}},
      {"float into short", 116, ar(96, {0.5}), ar(16, {1}), 16, 0, 0, 0, {1}},
      {"mul by float", 118, ar(16, {1, 2, 3}), nm(2.5), 16, 0, 0, 0, {2, 5, 7}},
      // The missing value: propagated, except missing times an exact zero.
      {"mul missing", 118, ar(16, {MISS, 5, MISS, 0}), ar(16, {1, MISS, 0, MISS}), 16, 0, 0, 0,
       {M16, M16, 0, 0}},
      {"add missing16", 116, ar(16, {MISS, 5, MISS, 0}), ar(16, {1, MISS, 0, MISS}), 16, 0, 0, 0,
       {M16, M16, M16, M16}},
      {"add missing32", 116, ar(16, {MISS, 5}), ar(16, {1, MISS}), 32, 0, 0, 0, {M32, M32}},
      {"add missing96", 116, ar(16, {MISS, 5}), ar(16, {1, MISS}), 96, 0, 0, 0, {M32, M32}},
      {"add missing8", 116, ar(16, {MISS, 5}), ar(16, {1, MISS}), 8, 0, 0, 0, {0, 0}},
      {"compare missing", 107, ar(16, {MISS}), ar(16, {0}), 16, 0, 0, 0, {M16}},
      // Comparisons and logic give 1 or 0.
      {"eq", 107, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {0, 1, 0}},
      {"ne", 124, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {1, 0, 1}},
      {"gt", 121, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {0, 0, 1}},
      {"ge", 120, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {0, 1, 1}},
      {"lt", 123, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {1, 0, 0}},
      {"le", 122, ar(16, {1, 2, 3}), ar(16, {2, 2, 2}), 8, 0, 0, 0, {1, 1, 0}},
      {"and", 113, ar(16, {0, 1, 2, -1}), ar(16, {1, 1, 0, 3}), 16, 0, 0, 0, {0, 1, 0, 1}},
      {"or", 114, ar(16, {0, 1, 2, -1}), ar(16, {1, 1, 0, 3}), 16, 0, 0, 0, {1, 1, 1, 1}},
      {"bitand", 126, ar(16, {0, 1, 2, -1}), ar(16, {1, 1, 0, 3}), 16, 0, 0, 0, {0, 1, 0, 3}},
      {"bitor", 127, ar(16, {0, 1, 2, -1}), ar(16, {1, 1, 0, 3}), 16, 0, 0, 0, {1, 1, 2, 0xFFFF}},
      // Power, rem, xor, shift, atan, accum, max/min element by element.
      {"power", 110, ar(96, {2, -8, -8, 0, 10, 2}), ar(96, {-1, 3, 0.5, 0, 10, 0.5}), 96, 0, 0, 0,
       {0, 0xC4000000, 0, 0x3F800000, 0, 0x3FB504F3}},
      {"rem", 237, ar(32, {7, -7, 7, 5}), ar(32, {-2, 2, 0, 3}), 32, 0, 0, 0, {0, 0xFFFFFFFF, 0, 2}},
      {"xor", 238, ar(16, {5, 12}), ar(16, {3, 10}), 16, 0, 0, 0, {6, 6}},
      {"shift", 282, ar(32, {1, -8, 1, 5}), ar(32, {4, -1, 33, 0}), 32, 0, 0, 0,
       {16, 0xFFFFFFFC, 2, 5}},
      {"atan2", 283, ar(96, {1}), ar(96, {1}), 96, 0, 0, 0, {0x42340001}},
      {"accum bounded", 262, ar(96, {4, 4, 4}), nm(10), 96, 0, 0, 0,
       {0x40800000, 0x41000000, 0x41000000}},
      {"max pairs", 209, ar(16, {1, 5, 3}), ar(16, {4, 2, 3}), 16, 0, 0, 0, {4, 5, 3}},
      {"min pairs", 210, ar(16, {1, 5, 3}), ar(16, {4, 2, 3}), 16, 0, 0, 0, {1, 2, 3}},
      {"op ++", 108, ar(16, {3}), ar(16, {4}), 16, 0, 0, 0, {0}},
      {"op --", 109, ar(16, {3}), ar(16, {4}), 16, 0, 0, 0, {0}},
      {"op >>", 112, ar(16, {3}), ar(16, {4}), 16, 0, 0, 0, {0}},
      {"op !", 125, ar(16, {3}), ar(16, {4}), 16, 0, 0, 0, {0}},
      {"op ?", 128, ar(16, {3}), ar(16, {4}), 16, 0, 0, 0, {0}},
      // Concatenation: operand 1's elements, then operand 2's.
      {"concat", 111, ar(16, {1, 2, 3}), ar(16, {4, 5}), 16, 0, 0, 0, {1, 2, 3, 4, 5}},
      {"concat missing", 111, ar(16, {MISS, 2}), nm(7), 16, 0, 0, 0, {M16, 2, 7}},
      // Copies: each destination's store rule at its edges.
      {"copy to 8", 115, ar(96, {-1, 0, 255, 256, 255.9, -0.5}), none, 8, 0, 0, 0,
       {0, 0, 255, 255, 255, 0}},
      {"copy to 16", 115, ar(96, {32767, 32768, -32767, -32768, 65535.5, 70000}), none, 16, 0, 0, 0,
       {0x7FFF, 0x7FFF, 0x8001, 0x8001, 0x7FFF, 0x7FFF}},
      {"copy to 16 unclamped", 115, ar(96, {32767, 32768, -32767, -32768, 65535.5, 70000}), none,
       16, 0, 0, 4, {0x7FFF, 0x8000, 0x8001, 0x8000, 0xFFFF, 0x1170}},
      {"copy to 32", 115, ar(96, {3e9, -3e9, 2147483520.0, -2.5}), none, 32, 0, 0, 0,
       {M32, M32, 0x7FFFFF80, 0xFFFFFFFE}},
      {"copy to 32 clamped", 115, ar(96, {3e9, -3e9, 2147483520.0, -2.5}), none, 32, 0, 0, 4,
       {0x7FFEB940, 0x800146C0, 0x7FFEB940, 0xFFFFFFFE}},
      {"copy to 24", 115, ar(96, {16777215, 16777216, -1, 2.7}), none, 24, 0, 0, 0,
       {0xFFFFFF, 0, 0xFFFFFF, 2}},
      {"copy to low nibble", 115, ar(96, {20, -3, 7.9, 15}), none, 264, 0, 0, 0, {15, 0, 7, 15}},
      {"copy to low nibble bits", 115, ar(96, {20, -3, 7.9, 15}), none, 264, 0, 0, 4,
       {4, 13, 7, 15}},
      {"copy to high nibble", 115, ar(96, {20, -3, 7.9, 15}), none, 520, 0, 0, 0, {15, 0, 7, 15}},
      {"copy to bits", 115, ar(96, {0, 1, 2, -1, 0.5}), none, 1, 0, 0, 0, {0, 1, 1, 0, 0}},
      {"copy to crumbs", 115, ar(96, {5, 3, 2}), none, 2, 0, 0, 0, {3, 3, 2}},
      {"copy to nibbles", 115, ar(96, {16, 9}), none, 4, 0, 0, 0, {15, 9}},
      {"missing to 8", 115, ar(16, {MISS, 1}), none, 8, 0, 0, 0, {0, 1}},
      {"missing to 16", 115, ar(16, {MISS, 1}), none, 16, 0, 0, 0, {M16, 1}},
      {"missing to 24", 115, ar(16, {MISS, 1}), none, 24, 0, 0, 0, {0, 1}},
      {"missing to 32", 115, ar(16, {MISS, 1}), none, 32, 0, 0, 0, {M32, 1}},
      {"missing to 96", 115, ar(16, {MISS, 1}), none, 96, 0, 0, 0, {M32, 0x3F800000}},
      {"missing to nibble", 115, ar(16, {MISS, 1}), none, 264, 0, 0, 0, {0, 1}},
      {"missing to bit", 115, ar(16, {MISS, 1}), none, 1, 0, 0, 0, {0, 1}},
      // Unary operators and functions.
      {"negate", 187, ar(16, {3, MISS, 0}), none, 16, 0, 0, 0, {0xFFFD, M16, 0}},
      {"negate float", 187, ar(16, {3, MISS, 0}), none, 96, 0, 0, 0, {0xC0400000, M32, 0}},
      {"complement", 195, ar(32, {0, 5, -1}), none, 32, 0, 0, 0, {0xFFFFFFFF, 0xFFFFFFFA, 0}},
      {"factorial", 180, ar(32, {0, 1, 5, 10, -3, 35}), none, 96, 0, 0, 0,
       {0x3F800000, 0x3F800000, 0x42F00000, 0x4A5D7C00, 0x3F800000, 0x7F800000}},
      {"ucase", 233, ar(8, {97, 122, 65, 123}), none, 8, 0, 0, 0, {65, 90, 65, 123}},
      {"lcase", 234, ar(8, {65, 90, 97, 64}), none, 8, 0, 0, 0, {97, 122, 97, 64}},
      {"integer", 235, ar(96, {-1.7, 2.9}), none, 32, 0, 0, 0, {0xFFFFFFFF, 2}},
      {"round", 236, ar(96, {-1.7, 2.5, 2.4}), none, 32, 0, 0, 0, {0xFFFFFFFF, 3, 2}},
      {"fraction", 237, ar(96, {2.75, -2.75}), none, 96, 0, 0, 0, {0x3F400000, 0xBF400000}},
      {"accum", 262, ar(16, {1, 2, 3}), none, 16, 0, 0, 0, {1, 3, 6}},
      {"numbits", 290, ar(32, {7, 0, -1, 255}), none, 16, 0, 0, 0, {3, 0, 0, 8}},
      {"log domain", 201, ar(96, {0, -5}), none, 96, 0, 0, 0, {0, 0}},
      {"alog range", 202, ar(96, {14}), none, 96, 0, 0, 0, {0}},
      {"asin domain", 204, ar(96, {2, -2}), none, 96, 0, 0, 0, {0xBF800000, 0xBF800000}},
      {"acos domain", 206, ar(96, {1.5}), none, 96, 0, 0, 0, {0xBF800000}},
      {"sqrt domain", 207, ar(96, {-1}), none, 96, 0, 0, 0, {0}},
      // Reductions, with the result count the function set-up gives.
      {"max", 209, ar(16, {3, MISS, 7, 7, 1}), none, 96, 1, 1, 0, {0x40E00000}},
      {"min", 210, ar(16, {3, MISS, 7, 7, 1}), none, 96, 1, 1, 0, {0x3F800000}},
      {"sum", 211, ar(16, {3, MISS, 7, 7, 1}), none, 96, 1, 1, 0, {0x41900000}},
      {"mean", 212, ar(16, {3, MISS, 7, 7, 1}), none, 96, 1, 1, 0, {0x40900000}},
      {"stdev", 213, ar(16, {3, MISS, 7, 7, 1}), none, 96, 1, 1, 0, {0x40400000}},
      {"mean fills", 212, ar(16, {3, MISS, 7, 7, 1}), none, 96, 3, 1, 0,
       {0x40900000, 0x40900000, 0x40900000}},
      {"stats", 214, ar(16, {3, MISS, 7, 7, 1}), none, 96, 12, 12, 0,
       {fb(5), fb(4), fb(4), fb(18), fb(4.5), fb(3), fb(1), fb(7), fb(4), fb(2), fb(0), fb(4)}},
      {"cumulative sum", 211, ar(16, {3, MISS, 7, 7, 1}), none, 16, 0, 5, 0, {3, 3, 10, 17, 18}},
      {"max of missing", 209, ar(16, {MISS, MISS}), none, 96, 1, 1, 0, {0xD01502F9}},
      {"min of missing", 210, ar(16, {MISS, MISS}), none, 96, 1, 1, 0, {0x501502F9}},
      {"max position", 209, ar(16, {3, 9, 2, 9}), ar(16, {0, 0}), 16, 0, 4, 0, {1, 1, 1, 1}},
      {"min position", 210, ar(16, {3, 9, 2, 9}), ar(16, {0, 0}), 16, 0, 4, 0, {2, 2, 2, 2}},
      // 24-bit colour data: + and * per byte.
      {"rgb add", 116, ar(24, {0x0A14FF}), nm(10), 24, 0, 0, 0, {0x141EFF}},
      {"rgb mul", 118, ar(24, {0x0A14FF}), nm(2), 24, 0, 0, 0, {0x1428FF}},
      {"rgb sub", 117, ar(24, {0x0A14FF}), nm(10), 24, 0, 0, 0, {0x0A14F5}},
      // Operands of different sizes; the last result fills the rest.
      {"shorter operand 2", 116, ar(16, {1, 2, 3, 4, 5}), ar(16, {10, 20, 30}), 16, 0, 0, 0,
       {11, 22, 33}},
      {"fill the window", 116, ar(16, {1, 2, 3, 4, 5}), ar(16, {10, 20, 30}), 16, 8, 0, 0,
       {11, 22, 33, 33, 33, 33, 33, 33}},
      {"one-element operand 1", 116, ar(16, {1}), ar(16, {1, 2, 3}), 16, 0, 0, 0, {2, 3, 4}},
      {"number operand 1", 116, nm(2), ar(16, {1, 2, 3}), 16, 0, 0, 0, {3, 4, 5}},
      {"two numbers", 116, nm(2), nm(3), 16, 4, 0, 0, {5, 5, 5, 5}},
      {"integer numbers", 117, nm(2, 32), nm(7, 32), 32, 2, 0, 0, {0xFFFFFFFB, 0xFFFFFFFB}},
      {"copy fills", 115, ar(16, {1, 2, 3, 4, 5}), none, 16, 8, 0, 0, {1, 2, 3, 4, 5, 5, 5, 5}},
      {"copy byte window", 115, ar(8, {7, 8}), none, 8, 3, 0, 0, {7, 8, 8}},
  };
  return c;
}

