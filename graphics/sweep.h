// The sweep function: one or two traces drawn as an oscilloscope in the
// vector window until a key ends it.
#pragma once
#include <cstdint>

// sweep(source [colour] [delay] [points] [x offset] [x step] [zero] [scale]
// [source 2] [colour 2] [zero 2] [scale 2] [trigger] [level] [slope]): the
// values of the last sweep, oldest first, in a scratch buffer (their count
// in *count); null when there is no source, on error 70, or without room.
// Keys while it runs: 1 and 2 select a trace, ? prints the scales and zero
// lines, Home resets the selected trace and the delay, PgUp and PgDn move
// its zero line, Up and Down scale it, Left and Right change the delay, Ins
// changes the step of those keys (1, 2, 4, 8); any other key ends it.
float* sweep(int kind, uint32_t* count);
