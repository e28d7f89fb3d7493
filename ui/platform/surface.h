// Software surfaces: 32-bit pixels 0x00RRGGBB, rows top first, a row stride
// of their own. The window manager draws every window into one, and the
// screen is composed from them. The program's colours are 0x00BBGGRR;
// bgr() turns one into a pixel.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Surface {
  int w = 0, h = 0;
  int stride = 0;  // pixels per row

  // A new surface is one colour and has no pixel memory yet: each row gets
  // its memory and its colour when it is first reached, so a window that
  // is never drawn on costs no memory and a start-up no page faults.
  void resize(int width, int height, uint32_t fill = 0);
  uint32_t* row(int y) { return made[static_cast<size_t>(y)] ? at(y) : make(y); }
  const uint32_t* row(int y) const { return made[static_cast<size_t>(y)] ? at(y) : make(y); }
  // Every row made: the pixels in one block, rows stride apart.
  uint32_t* data();
  const uint32_t* data() const;
  std::vector<uint32_t> pixels() const;  // all w * h pixels, rows one after another
  // Sets the whole surface to one colour; rows not yet made stay unmade.
  void fillall(uint32_t pixel);
  // Copies what fits of another surface to this one's top-left corner; a
  // row neither has made stays unmade when it shows this one's colour.
  void keep(const Surface& o);
  // Rows that hold pixel memory.
  int nmade() const;
  // The pixel at (x, y), read without giving its row memory.
  uint32_t pixel(int x, int y) const { return made[static_cast<size_t>(y)] ? at(y)[x] : flat; }

  Surface() = default;
  Surface(const Surface& o);
  Surface& operator=(const Surface& o);
  Surface(Surface&&) noexcept = default;
  Surface& operator=(Surface&&) noexcept = default;

 private:
  mutable std::unique_ptr<uint32_t[]> px;  // w * h pixels, only made rows hold theirs
  mutable std::vector<uint8_t> made;       // per row: 1 once it holds its pixels
  uint32_t flat = 0;                       // the colour of the rows not made
  uint32_t* at(int y) const { return px.get() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
  uint32_t* make(int y) const;
};

// A program colour (0x00BBGGRR) as a pixel.
constexpr uint32_t bgr(uint32_t c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// Fills the rectangle (x, y, w, h), clipped to the surface.
void sfill(Surface& s, int x, int y, int w, int h, uint32_t pixel);
// Copies the part (sx, sy, w, h) of src to (x, y) of dst, clipped to both.
void sblit(Surface& dst, int x, int y, const Surface& src, int sx, int sy, int w, int h);
// Draws n characters of the built-in face with the top-left cell corner at
// (x, y): foreground pixels only, or the whole cell when bg is not ~0u.
void stext(Surface& s, int x, int y, const char* text, int n, uint32_t fg, uint32_t bg = ~0u);

// Writes a surface as an image file: 24-bit BMP for a name ending in ".bmp",
// else PNG (a build without libpng writes no PNG). Returns 0, or -1 when
// the file could not be written.
int swrite(const Surface& s, const std::string& name);
// Reads a PNG or BMP file written by swrite (or another 24/32-bit one).
// Returns 0, or -1.
int sread(Surface& s, const std::string& name);
