// The font table, the port's font and the font command.
//
// Row 0 is the default font, row 1 the built-in bitmap face "System"; the
// other rows are empty (width 0) until a named face is put into them
// (setlfnt, the font chooser). A named face is kept only when the platform
// can make it: fontconfig finds a face of that family and FreeType opens it
// (builds without them know only the built-in face). Text is always laid
// out in the built-in face's 8 x 16 cells, so layout does not depend on the
// host's fonts.
#pragma once
#include <cstdint>

// Our own font description (60 bytes).
struct FontDesc {
  int32_t height, width, escape, orient, weight;
  uint8_t italic, underline, strike, charset, outprec, clipprec, quality, pitch;
  char face[32];
};
static_assert(sizeof(FontDesc) == 60);

// One row of the font table (72 bytes).
struct FntRow {
  int16_t fnum;     // font number
  uint16_t size;    // size
  uint8_t height;   // character height
  uint8_t width;    // character width (0: empty row)
  uint8_t lead;     // height + external leading
  uint8_t avgcls;   // internal leading
  int16_t byte;     // "Byte" value
  uint8_t pad[2];
  FontDesc desc;
};
static_assert(sizeof(FntRow) == 72);

constexpr int FNTROWS = 16;  // rows of the table

// Builds the font table, or opens the font chooser (mode < 0) and puts the
// chosen face into row 0. Mode 0: the built-in face in row 1 of 16 rows;
// mode 1: a row for each face of the system (the built-in one in row 1),
// counted first; mode 2 as 1, the count printing the listing's header (and
// logging each face with debug level above 2).
int initFonts(int mode);
// The enumeration callback, for each face in turn (type 1 the built-in
// bitmap face, 4 a scalable one); each call advances the row counter.
// Counter mode -1 copies the description into the next row; a mode of 0
// or more copies only into that row and stops (0 returned); below -1 it
// only counts, -3 and below printing the listing header before the first.
// Returns 1 to go on.
int fontenum(const FontDesc* d, int type, int mode);
// Row n of the table (null outside it) and the row count.
FntRow* fntrow(int n);
int fntcount();
// The active row.
FntRow* fntactive();
// Makes row n active and measures it (size > 0 is stored as its size;
// mode > 0 also stores the face name in the string variable fontname).
// Returns 0, or -1 for a row outside the table.
int SETFONT(int n, int size, int mode);
// Row n gets a named face: height (< 1 keeps the row's), style bit 1 bold,
// bit 2 italic. 0, or -1 (row unchanged) when n is no row or the face
// cannot be made.
int setlfnt(int n, const char* face, int height, int style);
// Lists the used rows on the listing unit.
int fntlst();
// The port's font number, size and style.
int settext(int font, int size, int style);
int txtsiz(int* font, int* size);
// The font chooser: with a scripted or typed answer, the face and size;
// returns 1 when chosen, 0 when cancelled.
int pickfont();
// The font command.
int fontcmd();
// Text in a row's named face through FreeType: the width of n characters,
// or -1 when the row has no named face (the built-in face applies).
int ftwidth(const FntRow* r, const char* text, int n);
// Draws n characters in a row's named face with the top of the line at y:
// plot(ctx, x, y) for each set pixel (glyphs rendered one bit a pixel).
// Returns the width drawn, or -1 when the row has no named face.
int ftdraw(const FntRow* r, const char* text, int n, int x, int y, void (*plot)(void*, int, int),
           void* ctx);

// The answer the scripted input gives the next font chooser: a face and a
// size, or cancel (face null).
void fontanswer(const char* face, int size);

// The character cell of alert boxes: the program's dialog font size (set
// by font -9), 8 by 16 until it is set.
int dlgcell(int* width, int* height);
