// The fill command (a pattern tiled over a variable), the warp function
// (control-point pairs from a point variable or the pointer), the
// displacement map built from such pairs, and the segment-crossing test.
#pragma once
#include <cstdint>

struct FnCall;

// fill (destination, pattern). Returns 0.
int dofill();
// The warp function's set-up: an image argument that is no array, matrix,
// image or solid, or a points argument that is no vector or array, is
// error 109 on that argument, before any pick.
int su_warp(FnCall& c);
// The warp function's operation (dispatcher row 254). Returns 0; r0 gets
// the number of pairs collected.
int run_warp(FnCall& c);
// The pair list warp collected last: 2 x count points of i16 x, y (old,
// new, old, new, ...). Its count is returned.
int warpprs(const int16_t** points);

// Displacement map: a grid of per-cell displacements of 1 to 3 components.
struct WarpMap {
  uint16_t flags;     // the caller's flags, kept
  uint16_t ndims;     // components (x, y, z displacement)
  uint32_t wsize;     // word size code of the items (8, 16, 24, else 32-bit)
  uint32_t nx, ny, nz;
  uint32_t layer;     // nx x ny
  uint32_t cells;     // nx x ny x nz
  uint8_t* data;      // ndims component arrays of `cells` items (heap)
  uint32_t dbytes;    // allocated bytes of data
  int32_t offs[26];   // neighbour offsets in cells
  uint32_t masks[26]; // direction bits each neighbour needs
  uint32_t nbrs;      // neighbour count: 2, 8 or 26
  uint32_t empty;     // the empty marker of component 0
};

// Item bytes of a word size code: 8 -> 1, 16 -> 2, 24 -> 3, else 4.
int bytesz(int wsize);
// Fills the neighbour tables for count 2, 8 or 26 at distance d.
void nbrtab(int32_t* offsets, int count, int d, int32_t nx, int32_t layer, uint32_t* masks);
// Stores one cell's displacement.
void mapput(int x, int y, int z, int dx, int dy, int dz, WarpMap* map);
// Enters n control pairs (old and new: ndims i16 values per point); with
// check, stops at the first pair outside the grid. Returns the pairs entered.
int warppts(WarpMap* map, const int16_t* old, const int16_t* nw, int n, int ndims, int check);
// One propagation pass: copy (fill empty neighbours of non-empty cells) or
// averaging. Returns the cells written.
int mapfill(WarpMap* map, int distance, int copy);
// Builds the map from n pairs. Returns ndims (0 when the data cannot be had).
int warpmap(const int16_t* old, const int16_t* nw, int n, int nx, int ny, int nz, int ndims,
            int flags, WarpMap* map, int wsize);
// Component c of cell (x, y, z) of a map.
int32_t mapget(const WarpMap* map, int x, int y, int z, int c);
// Frees a map's data.
void mapfree(WarpMap* map);
// Segment a-b against segment c-d (n = 0; points of two i16; the crossing
// point into out when given), or the test segment against a table of n
// segments (see warp.cpp). 1 crossing, 2 crossing at end points, 3 the
// same line, 0 none.
int crossv(const void* a, const void* b, const void* c, const void* d, int16_t* out, int n);
