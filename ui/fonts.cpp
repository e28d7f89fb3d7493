// The font table, the port's font and the font command.
#include "ui/fonts.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "lang/names.h"
#include "ui/draw.h"
#include "ui/platform/face.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include <set>
#include <string>
#include <vector>

#ifdef PELIX_HAVE_FONTS
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

namespace {
std::vector<FntRow> rows(FNTROWS);
int nrows = 0;
int enumrow = 0;  // row counter of the enumeration
int active = 1;     // the active row
int deffont = 1;    // the default font number
int altfont = 1;    // the alert font
int chhgt = FACEHGT, chwid = FACEWID;

// The chooser's next answer.
struct Answer {
  bool set = false;
  bool chosen = false;
  char face[32] = {};
  int size = 0;
} answer;

#ifdef PELIX_HAVE_FONTS
// fontconfig and FreeType are loaded when a named face is first asked
// for: a run that only uses the built-in face neither maps them (nor the
// libraries they pull in) nor pays for their relocations.
#define FONTFNS(X) X(FT_Done_Face) X(FT_Done_FreeType) X(FT_Init_FreeType) X(FT_Load_Char) \
  X(FT_New_Face) X(FT_Set_Pixel_Sizes) X(FcConfigSubstitute) X(FcDefaultSubstitute) X(FcFontList) \
  X(FcFontMatch) X(FcFontSetDestroy) X(FcInit) X(FcNameParse) X(FcObjectSetBuild) \
  X(FcObjectSetDestroy) X(FcPatternAddInteger) X(FcPatternAddString) X(FcPatternCreate) \
  X(FcPatternDestroy) X(FcPatternGetString)
struct FontApi {
#define FONTFN(f) decltype(&::f) f = nullptr;
  FONTFNS(FONTFN)
#undef FONTFN
};
FontApi fc;

// Loads both libraries and their entry points once; false when one is
// not there.
bool fontload() {
  static int state = 0;  // 0 not tried, 1 loaded, -1 missing
  if (state) return state > 0;
  state = -1;
  void* libs[2] = {dlopen(PELIX_LIBFONTCONFIG, RTLD_NOW | RTLD_LOCAL),
                   dlopen(PELIX_LIBFREETYPE, RTLD_NOW | RTLD_LOCAL)};
  if (!libs[0] || !libs[1]) return false;
  auto sym = [&](const char* name) -> void* {
    for (void* h : libs)
      if (void* p = dlsym(h, name)) return p;
    return nullptr;
  };
  FontApi a;
  bool all = true;
#define FONTFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(sym(#f))) != nullptr;
  FONTFNS(FONTFN)
#undef FONTFN
  if (!all) return false;
  fc = a;
  state = 1;
  return true;
}
#endif

constexpr const char* BUILTIN = "System";

bool builtin(const char* face) {
  return !face || !*face || strcasecmp(face, BUILTIN) == 0 || strcasecmp(face, "Fixed") == 0;
}

// Whether the platform can make a face of this family.
bool canmake(const char* face) {
  if (builtin(face)) return true;
#ifdef PELIX_HAVE_FONTS
  if (!fontload() || !fc.FcInit()) return false;
  bool ok = false;
  FcPattern* pat = fc.FcNameParse(reinterpret_cast<const FcChar8*>(face));
  if (!pat) return false;
  fc.FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  fc.FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* m = fc.FcFontMatch(nullptr, pat, &res);
  FcChar8 *fam = nullptr, *file = nullptr;
  if (m && fc.FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch &&
      fc.FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch &&
      strcasecmp(reinterpret_cast<const char*>(fam), face) == 0) {
    // The face must open as well.
    FT_Library lib;
    if (fc.FT_Init_FreeType(&lib) == 0) {
      FT_Face f;
      if (fc.FT_New_Face(lib, reinterpret_cast<const char*>(file), 0, &f) == 0) {
        ok = true;
        fc.FT_Done_Face(f);
      }
      fc.FT_Done_FreeType(lib);
    }
  }
  if (m) fc.FcPatternDestroy(m);
  fc.FcPatternDestroy(pat);
  return ok;
#else
  return false;
#endif
}

#ifdef PELIX_HAVE_FONTS
// Faces opened for drawing, by description; kept for the run.
struct Open {
  FontDesc d;
  FT_Face face;
};
FT_Library ftlib = nullptr;
Open opened[FNTROWS];
int nopened = 0;

// The file of the face fontconfig matches for a description, "" for none
// of that family.
std::string facefile(const FontDesc& d) {
  if (!fontload() || !fc.FcInit()) return "";
  std::string out;
  FcPattern* pat = fc.FcPatternCreate();
  fc.FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(d.face));
  fc.FcPatternAddInteger(pat, FC_WEIGHT, d.weight >= 700 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  fc.FcPatternAddInteger(pat, FC_SLANT, d.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  fc.FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  fc.FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* m = fc.FcFontMatch(nullptr, pat, &res);
  FcChar8 *fam = nullptr, *file = nullptr;
  if (m && fc.FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch &&
      fc.FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch &&
      strcasecmp(reinterpret_cast<const char*>(fam), d.face) == 0)
    out = reinterpret_cast<const char*>(file);
  if (m) fc.FcPatternDestroy(m);
  fc.FcPatternDestroy(pat);
  return out;
}

FT_Face ftface(const FntRow* r) {
  if (!r || r->width == 0 || builtin(r->desc.face)) return nullptr;
  for (int i = 0; i < nopened; i++)
    if (std::memcmp(&opened[i].d, &r->desc, sizeof r->desc) == 0) return opened[i].face;
  if (!fontload() || (!ftlib && fc.FT_Init_FreeType(&ftlib) != 0)) return nullptr;
  const std::string file = facefile(r->desc);
  FT_Face f = nullptr;
  if (file.empty() || fc.FT_New_Face(ftlib, file.c_str(), 0, &f) != 0) return nullptr;
  fc.FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(std::clamp<int>(r->desc.height, 4, 200)));
  if (nopened == FNTROWS) {  // the oldest face goes
    fc.FT_Done_Face(opened[0].face);
    std::memmove(opened, opened + 1, sizeof(Open) * (FNTROWS - 1));
    nopened--;
  }
  opened[nopened++] = {r->desc, f};
  return f;
}
#endif

void setface(FontDesc& d, const char* face) {
  std::memset(d.face, 0, sizeof d.face);
  if (face) std::memcpy(d.face, face, strnlen(face, sizeof d.face - 1));
}

// Measures a row: every face is laid out in the built-in cells.
void measure(FntRow& r) {
  r.height = FACEHGT;
  r.width = FACEWID;
  r.lead = FACEHGT;
  r.avgcls = 0;
  if (r.desc.height < 1) r.desc.height = FACEHGT;
}

// The faces of the system, the built-in one first, then the families
// fontconfig knows (each once, in order of name).
std::vector<std::string> faces() {
  std::vector<std::string> out{BUILTIN};
#ifdef PELIX_HAVE_FONTS
  if (!fontload() || !fc.FcInit()) return out;
  FcPattern* pat = fc.FcPatternCreate();
  FcObjectSet* os = fc.FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* fs = fc.FcFontList(nullptr, pat, os);
  std::set<std::string> fam;
  for (int i = 0; fs && i < fs->nfont; i++) {
    FcChar8* f = nullptr;
    if (fc.FcPatternGetString(fs->fonts[i], FC_FAMILY, 0, &f) == FcResultMatch && f &&
        std::strlen(reinterpret_cast<const char*>(f)) < sizeof(FontDesc::face) && !builtin(reinterpret_cast<const char*>(f)))
      fam.insert(reinterpret_cast<const char*>(f));
  }
  if (fs) fc.FcFontSetDestroy(fs);
  fc.FcObjectSetDestroy(os);
  fc.FcPatternDestroy(pat);
  out.insert(out.end(), fam.begin(), fam.end());
#endif
  return out;
}

// Enumerates the faces through fontenum under a counter mode; returns the
// faces it was called for.
int enumfaces(int mode) {
  enumrow = 1;
  int n = 0;
  for (const std::string& f : faces()) {
    FontDesc d{};
    setface(d, f.c_str());
    d.height = FACEHGT;
    d.width = FACEWID;
    d.weight = 400;
    d.charset = 1;
    n++;
    if (!fontenum(&d, builtin(d.face) ? 1 : 4, mode)) break;
  }
  return n;
}

void publish() {
  fntwrd[0] = rows[active].fnum;
  fntwrd[1] = static_cast<int16_t>(rows[active].size);
}
}  // namespace

FntRow* fntrow(int n) {
  if (nrows == 0) initFonts(0);
  return n >= 0 && n < nrows ? &rows[n] : nullptr;
}

int fntcount() {
  if (nrows == 0) initFonts(0);
  return nrows;
}

FntRow* fntactive() { return fntrow(active); }

int initFonts(int mode) {
  if (logfp) logprintf("initFonts(%d)\n", mode);
  if (mode < 0) {
    if (nrows == 0) initFonts(0);
    if (!pickfont()) return 0;
    return SETFONT(0, -1, -1);
  }
  if (mode >= 1) {
    // Every face of the system: counted, then a row each after row 0.
    const int n = enumfaces(mode >= 2 ? -3 : -2);
    rows.assign(static_cast<size_t>(n) + 1, FntRow{});
    nrows = n + 1;
    enumfaces(-1);
    for (int i = 1; i < nrows; i++) {
      rows[i].fnum = static_cast<int16_t>(i);
      rows[i].size = 12;
      measure(rows[i]);
    }
  } else {
    rows.assign(FNTROWS, FntRow{});
    nrows = FNTROWS;
    setface(rows[1].desc, BUILTIN);
    rows[1].fnum = 1;
    rows[1].size = 12;
    rows[1].desc.weight = 400;
    measure(rows[1]);
  }
  active = std::clamp(deffont, 1, nrows - 1);
  if (rows[0].height == 0) {
    rows[0] = rows[active];
    rows[0].fnum = 0;
  }
  publish();
  if (logfp)
    logprintf("madeFonts: %d  default=%d %dx%d  alert=%d %dx%d\n", nrows, deffont, chwid, chhgt, altfont,
              chwid, chhgt);
  return 0;
}

int fontenum(const FontDesc* d, int type, int mode) {
  if (!d) return 0;
  const int row = enumrow++;
  if (mode <= -3 && row == 1) jprintf(lstlun, "  FNum Type Wid Hgt Angl Wgt Itl Uln FullName\n");
  if (mode < -1) {
    if (logfp && jdebug > 2)
      logprintf("%d  %3d: %4d %3d %3d %4d %3d %3d %3d %s (%s)\n", mode, row, type, d->width, d->height,
                d->escape, d->weight, d->italic, d->underline, d->face, d->weight >= 700 ? "Bold" : "Regular");
    return 1;
  }
  if (mode >= 0 && row != mode) return 1;
  if (row >= 0 && row < static_cast<int>(rows.size())) rows[row].desc = *d;
  return mode == -1 ? 1 : 0;
}

int SETFONT(int n, int size, int mode) {
  trcint(64, "SETFONT", 0, n, size, mode, 0, 0);
  FntRow* r = fntrow(n);
  if (!r) return -1;
  if (mode >= 0) settext(n, size, -1);
  measure(*r);
  r->fnum = static_cast<int16_t>(n);
  if (size > 0) r->size = static_cast<uint16_t>(size);
  active = n;
  if (mode > 0) setstrv("fontname", r->desc.face);
  if (jdebug > 1)
    logprintf("setFont(%d,%d,%d) %3d %3d %4d %3d %3d %3d  %d,%d,%d,%d,%d ,%d\n", n, size, mode, r->fnum,
              r->size, r->desc.height, r->height, r->width, r->lead, r->desc.weight, r->desc.italic,
              r->desc.underline, r->desc.charset, r->desc.pitch, r->byte);
  publish();
  return 0;
}

int setlfnt(int n, const char* face, int height, int style) {
  FntRow* r = fntrow(n);
  if (!r || !face) return -1;  // the row must be one of the table's
  if (!canmake(face)) return -1;
  FontDesc d{};
  setface(d, face);
  d.height = height < 1 ? r->desc.height : height;
  d.weight = (style & 1) ? 700 : 400;
  d.italic = (style & 2) ? 1 : 0;
  d.charset = 1;
  r->desc = d;
  measure(*r);
  r->fnum = static_cast<int16_t>(n);
  r->size = static_cast<uint16_t>(d.height);
  r->width = FACEWID;  // a used row
  return 0;
}

int fntlst() {
  fntcount();
  jprintf(lstlun, "Fonts\n  # FNum Size Wid Hgt Byte Name\n");
  for (int i = 0; i < nrows; i++) {
    const FntRow& r = rows[i];
    if (r.width == 0) continue;
    jprintf(lstlun, " %2d  %3d: %4d %3d %3d %4d %s\n", i, r.fnum, r.size, r.width, r.height, r.byte,
            r.desc.face);
  }
  return 0;
}

int settext(int font, int size, int style) {
  if (logfp && jdebug > 1) logprintf("SetText(%d,%d,%d)\n", font, size, style);
  PwRec* p = getPort();
  if (!p) return 0;
  if (size >= 0) p->txthgt = static_cast<int16_t>(size);
  if (style >= 0) p->txtsty = static_cast<int16_t>(style);
  if (font >= 0 && font < fntcount()) p->fontnum = static_cast<int16_t>(font);
  FntRow* r = fntrow(p->fontnum);
  if (!r) return 0;
  if (p->fontnum == 0 && size >= 1) r->desc.height = size;
  measure(*r);
  p->txthgt = r->height;
  if (logfp && jdebug > 1)
    logprintf("settext(%d,%d,%d) %d %d %d %d %d\n", font, size, style, p->fontnum, p->txthgt, p->txtsty,
              r->height, r->width);
  return 0;
}

int txtsiz(int* font, int* size) {
  const PwRec* p = getPort();
  if (font) *font = p ? p->fontnum : 0;
  if (size) *size = p ? p->txthgt : 0;
  return 0;
}

int ftwidth(const FntRow* r, const char* text, int n) {
#ifdef PELIX_HAVE_FONTS
  FT_Face f = ftface(r);
  if (!f || !text) return -1;
  long w = 0;
  for (int i = 0; i < n; i++)
    if (fc.FT_Load_Char(f, static_cast<unsigned char>(text[i]), FT_LOAD_DEFAULT) == 0)
      w += f->glyph->advance.x >> 6;
  return static_cast<int>(w);
#else
  (void)r, (void)text, (void)n;
  return -1;
#endif
}

int ftdraw(const FntRow* r, const char* text, int n, int x, int y, void (*plot)(void*, int, int),
           void* ctx) {
#ifdef PELIX_HAVE_FONTS
  FT_Face f = ftface(r);
  if (!f || !text || !plot) return -1;
  const int base = y + static_cast<int>(f->size->metrics.ascender >> 6);
  int pen = x;
  for (int i = 0; i < n; i++) {
    if (fc.FT_Load_Char(f, static_cast<unsigned char>(text[i]), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0)
      continue;
    const FT_GlyphSlot g = f->glyph;
    const FT_Bitmap& b = g->bitmap;
    for (unsigned row = 0; row < b.rows; row++) {
      const unsigned char* line = b.buffer + static_cast<long>(row) * b.pitch;
      for (unsigned col = 0; col < b.width; col++)
        if (line[col >> 3] & (0x80 >> (col & 7)))
          plot(ctx, pen + g->bitmap_left + static_cast<int>(col), base - g->bitmap_top + static_cast<int>(row));
    }
    pen += static_cast<int>(g->advance.x >> 6);
  }
  return pen - x;
#else
  (void)r, (void)text, (void)n, (void)x, (void)y, (void)plot, (void)ctx;
  return -1;
#endif
}

void fontanswer(const char* face, int size) {
  answer.set = true;
  answer.chosen = face != nullptr;
  std::memset(answer.face, 0, sizeof answer.face);
  if (face) std::memcpy(answer.face, face, strnlen(face, sizeof answer.face - 1));
  answer.size = size;
}

int pickfont() {
  // Our own chooser: the answer given by the scripted input; without one
  // (headless, nobody to ask) the choice is cancelled.
  if (!answer.set || !answer.chosen) {
    answer.set = false;
    return 0;
  }
  answer.set = false;
  if (nrows == 0) initFonts(0);
  if (!canmake(answer.face)) return 0;
  FontDesc d{};
  setface(d, answer.face);
  d.height = answer.size > 0 ? answer.size : FACEHGT;
  d.weight = 400;
  d.charset = 1;
  rows[0].desc = d;
  rows[0].size = static_cast<uint16_t>(d.height);
  measure(rows[0]);
  return 1;
}

int fontcmd() {
  if (nrows == 0) initFonts(0);
  char face[64];
  float v = 0;
  int len = 0;
  const int na = nargs();
  // A face name: font "face" [height [style]] sets row 0; font n "face"
  // [height [style]] sets row n.
  int row = -1, at = 0;
  if (na >= 2 && (getarg(2, &v, face, sizeof face, &len) & 32)) {
    row = 0;
    at = 2;
  } else if (na >= 3 && (getarg(3, &v, face, sizeof face, &len) & 32)) {
    row = intarg(2, 0);
    at = 3;
  }
  if (at) {
    const int r = setlfnt(row, face, intarg(at + 1, 12), intarg(at + 2, 0));
    setres(r, 0);
    return 0;
  }
  int n = intarg(2, -1);
  if (n == 0 && rows[0].desc.face[0] == 0) n = -1;
  if (n == -9) {
    if (na < 3) {
      jprintf(lstlun, "Font props: default=%d alert=%d  width=%d height=%d dlogunits=%d,%d\n", deffont,
              altfont, chwid, chhgt, FACEWID, FACEHGT);
    } else {
      deffont = intarg(3, deffont);
      altfont = intarg(4, altfont);
      chhgt = intarg(5, chhgt);
      chwid = intarg(6, chwid);
    }
    return 0;
  }
  // -1 rebuilds the table from the faces of the system, -8 as well with
  // the faces listed; -2 to -7 open the chooser.
  if (n == -1) return initFonts(1);
  if (n == -8) return initFonts(2);
  if (n < 0) return initFonts(n);
  if (n >= nrows || rows[n].width == 0) n = 0;
  const int keep = active;
  SETFONT(n, -1, 0);
  const int win = intarg(3, 0);
  if (Wport* w = wport(win)) {
    if (PwRec* p = wpwrec(w)) {
      p->fontnum = static_cast<int16_t>(n);
      p->txthgt = rows[n].height;
      p->txtsty = static_cast<int16_t>(intarg(6, 1));
    }
  }
  if (win != 0) SETFONT(keep, -1, -1);
  return 0;
}

int dlgcell(int* width, int* height) {
  if (width) *width = chwid;
  if (height) *height = chhgt;
  return 0;
}
