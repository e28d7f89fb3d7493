// The DM record engine: opening a DM file and reading its header, finding,
// listing and appending records, moving their data, byte swapping, and the
// XML listing.
#include "files/dmrec/dmrec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "compute/fft.h"
#include "core/output.h"
#include "core/state.h"
#include "files/dmrec/splitln.h"
#include "files/fileutil.h"
#include "ui/events.h"

// Records move between a variable's memory and the file as they lie in
// memory: the tag "abcd" (least significant byte first) is this machine's
// order, and "dcba" data are swapped on the way.
static_assert(std::endian::native == std::endian::little, "DM record data assume a little-endian machine");

namespace {

constexpr int MAXWORDS = 20;    // words taken from a header line
constexpr int FIRSTLINE = 80;   // bytes of the first line looked at
constexpr int64_t PIECE = 1 << 20;  // bytes moved by one read or write call

const char* const KEYS[] = {"dmdata", "record", "text", "link", nullptr};
enum { K_DMDATA, K_RECORD, K_TEXT, K_LINK };

const char* const MSGS[] = {
    "no error",       "record not found",  "file open",       "file format",
    "header read",    "header write",      "header overflow", "data file open",
    "header allocation", "no open data file", "null I/O request", "data buffer allocation",
    "data read/write", "invalid data pointers for writing", "file seek error"};

inline int uc(char c) { return static_cast<unsigned char>(c); }

// A stream without a buffer of its own: each write reaches the system at
// once, so a failed one is seen where it happens and nothing is left over
// to be written after the file has been cut back.
FILE* opnfil(const std::string& name, const char* how) {
  std::string host = hostpath(name);
  if (host.empty()) return nullptr;
  FILE* f = std::fopen(host.c_str(), how);
  if (f) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

// A stream of a regular file to read, opened without waiting (a fifo would
// wait for a writer); null with the cause in why for anything else.
FILE* opnreg(const std::string& name, std::string* why) {
  std::string host = hostpath(name);
  if (host.empty()) return nullptr;
  int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = name + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (why) *why = name + ": " + (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (!f) {
    close(fd);
    return nullptr;
  }
  std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

// The file to append to, opened for update and locked: an exclusive lock
// from before its header is read until it is closed, so that a second
// program appending waits for the first. A file not there is made here
// (never made again over another program's), and the file locked must
// still be the one the name names (a file deleted meanwhile is made
// anew). With create, the file is emptied once locked. null when it
// cannot be opened (or the wait was stopped); *made when this opening
// made it.
FILE* opnapp(const std::string& name, int flags, bool* made) {
  *made = false;
  std::string host = hostpath(name);
  if (host.empty()) return nullptr;
  for (int tries = 0; tries < 1000; tries++) {
    bool mine = false;
    int fd = open(host.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      if ((flags & DMR_MUSTOPEN) && !(flags & DMR_CREATE)) return nullptr;
      fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      mine = true;
    }
    if (fd < 0) return nullptr;
    struct stat a;
    if (fstat(fd, &a) != 0 || !S_ISREG(a.st_mode)) {
      close(fd);
      return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The wait for another program's append polls for a Ctrl-C.
    bool locked = false;
    for (;;) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        locked = true;
        break;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      chkio(0);
      if (state & (ST_INTR | ST_STOP)) break;
      usleep(1000);
    }
    if (!locked) {
      if (mine) unlink(host.c_str());
      close(fd);
      return nullptr;
    }
    struct stat b;
    if (fstat(fd, &a) != 0 || a.st_nlink == 0 || stat(host.c_str(), &b) != 0 || a.st_ino != b.st_ino ||
        a.st_dev != b.st_dev) {
      close(fd);
      continue;
    }
    // Another program may have locked the file this opening made first,
    // and written it: it is then no longer this opening's to delete.
    if (mine && a.st_size > 0) mine = false;
    if ((flags & DMR_CREATE) && !mine) {
      if (ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
      }
      mine = true;
    }
    FILE* f = fdopen(fd, "r+b");
    if (!f) {
      if (mine) unlink(host.c_str());
      close(fd);
      return nullptr;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    *made = mine;
    return f;
  }
  return nullptr;
}

// An unsigned number wide enough for the end of any record a header can
// describe: an address below 2^63 plus four dimensions below 2^63 times
// the bytes of an element.
struct Wide {
  uint32_t w[10] = {};
  void mul(uint64_t m) {
    unsigned __int128 carry = 0;
    for (uint32_t& x : w) {
      unsigned __int128 t = static_cast<unsigned __int128>(x) * m + carry;
      x = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  void add(int64_t a, int sign) {  // a >= 0; sign -1 subtracts (the result stays >= 0)
    uint64_t v = static_cast<uint64_t>(a);
    int64_t carry = 0;
    for (uint32_t& x : w) {
      int64_t t = static_cast<int64_t>(x) + sign * static_cast<int64_t>(v & 0xFFFFFFFFu) + carry;
      v >>= 32;
      carry = t < 0 ? -1 : t >> 32;
      x = static_cast<uint32_t>(t & 0xFFFFFFFF);
    }
  }
  bool above(int64_t a) const {  // a >= 0
    for (int k = 9; k >= 2; k--)
      if (w[k]) return true;
    return ((static_cast<uint64_t>(w[1]) << 32) | w[0]) > static_cast<uint64_t>(a);
  }
  std::string dec() const {
    Wide q = *this;
    std::string s;
    for (;;) {
      uint64_t rem = 0;
      bool zero = true;
      for (int k = 9; k >= 0; k--) {
        uint64_t cur = (rem << 32) | q.w[k];
        q.w[k] = static_cast<uint32_t>(cur / 1000000000u);
        rem = cur % 1000000000u;
        zero = zero && q.w[k] == 0;
      }
      char part[16];
      std::snprintf(part, sizeof part, zero ? "%llu" : "%09llu", static_cast<unsigned long long>(rem));
      s.insert(0, part);
      if (zero) return s;
    }
  }
};

int64_t strmsize(FILE* f) {
  if (!f || fseeko(f, 0, SEEK_END) != 0) return -1;
  return ftello(f);
}

// A number word of a header line (digits and a sign; the rest ignored). A
// number past the 64-bit range is held at the range's end, so that a
// record of such an address or size is one no file holds (never an empty
// record at address 0).
int64_t numwd(const char* w) {
  errno = 0;
  long long v = std::strtoll(w, nullptr, 10);
  return errno && errno != ERANGE ? 0 : static_cast<int64_t>(v);
}

// Control characters of a text written into the header become blanks: a
// line end inside a description would make a header line of its own.
std::string oneline(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (uc(c) < ' ') c = ' ';
  return r;
}

// The file part of a name (after its last "/", "\" or ":").
std::string filpart(const std::string& s) {
  size_t k = s.find_last_of("/\\:");
  return k == std::string::npos ? s : s.substr(k + 1);
}

// One record line or text line of the header, in header order. Link lines
// belong to the record line before them.
struct Item {
  bool rec = false;
  int32_t num = 0;
  int type = 0;
  int64_t addr = -1, nx = 0, ny = 1, nz = 1, nt = 1;
  std::string link;   // the record's link file, as written
  std::string text;   // a text line's description
  bool next = false;  // a text line right after its record's lines
};

// The description of a text line: the rest of the line after the keyword,
// past blanks and one "=" or ":".
std::string textof(const std::string& line, size_t after) {
  size_t p = after;
  auto skip = [&] {
    while (p < line.size() && uc(line[p]) <= ' ') p++;
  };
  skip();
  if (p < line.size() && (line[p] == '=' || line[p] == ':')) {
    p++;
    skip();
  }
  return p < line.size() ? line.substr(p) : std::string();
}

// A word of the original line at the place of a word of its lower-case
// copy, without enclosing quotes.
std::string origwd(const std::string& line, const char* low, const char* w) {
  size_t off = static_cast<size_t>(w - low), n = std::strlen(w);
  std::string s = line.substr(off, n);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

// The header's record and text lines. Only complete lines (ended by LF or
// CR) within the header's text are read.
std::vector<Item> parsehdr(const DmFile* dm) {
  std::vector<Item> items;
  const char* h = dm->hdr.data();
  size_t len = strnlen(h, static_cast<size_t>(std::min<int64_t>(dm->hsize, static_cast<int64_t>(dm->hdr.size()))));
  size_t start = 0;
  int lastrec = -1;     // the item of the record line just before, or -1
  bool linked = false;  // that record's link line has been taken
  for (size_t i = 0; i < len; i++) {
    if (h[i] != '\n' && h[i] != '\r') continue;
    std::string line(h + start, i - start);
    // CR LF ends one line.
    if (h[i] == '\r' && i + 1 < len && h[i + 1] == '\n') i++;
    start = i + 1;
    int prev = lastrec;
    lastrec = -1;
    std::string low = line;
    for (char& c : low) c = static_cast<char>(std::tolower(uc(c)));
    char* w[MAXWORDS];
    int n = splitln(low.data(), w, MAXWORDS);
    if (n < 1) continue;
    int k = fndkey(w[0], KEYS);
    const char* base = low.data();
    if (k == K_RECORD) {
      if (n < 5) continue;
      Item it;
      it.rec = true;
      it.num = static_cast<int32_t>(std::clamp<int64_t>(numwd(w[1]), INT32_MIN, INT32_MAX));
      it.type = static_cast<int>(std::clamp<int64_t>(numwd(w[2]), -32768, 32767));
      it.addr = numwd(w[3]);
      it.nx = numwd(w[4]);
      if (n > 5) it.ny = numwd(w[5]);
      if (n > 6) it.nz = numwd(w[6]);
      if (n > 7) it.nt = numwd(w[7]);
      if (n > 8 && w[8][0] != '=') it.link = origwd(line, base, w[8]);
      items.push_back(it);
      lastrec = static_cast<int>(items.size()) - 1;
      linked = !it.link.empty();
    } else if (k == K_TEXT) {
      Item it;
      it.text = textof(line, static_cast<size_t>(w[0] - base) + std::strlen(w[0]));
      it.next = prev >= 0;
      items.push_back(it);
    } else if (prev >= 0 && !linked && ((k == K_LINK && n > 1) || (k < 0 && line[0] == ' '))) {
      // The record's link file on the line after it: " name" as this
      // system writes it, or "link name".
      std::string nm;
      if (k == K_LINK) {
        int j = (w[1][0] == '=' && n > 2) ? 2 : 1;
        if (w[j][0] != '=') nm = origwd(line, base, w[j]);
      } else {
        nm = line.substr(1);
        while (!nm.empty() && uc(nm.back()) <= ' ') nm.pop_back();
      }
      if (!nm.empty()) items[static_cast<size_t>(prev)].link = nm;
      linked = true;
      lastrec = prev;  // a text line may still follow
    }
  }
  return items;
}

// A transfer of `want` bytes at file position `at`, in pieces of PIECE
// bytes; got[j] receives the bytes piece j moved (minus the cause, an
// errno value, when it failed).
struct Pieces {
  int fd;
  uint8_t* buf;
  int64_t at, want;
  bool wr;
  std::vector<int64_t> got;
};

void movpcs(void* ctx, int64_t lo, int64_t hi) {
  auto* pc = static_cast<Pieces*>(ctx);
  for (int64_t j = lo; j < hi; j++) {
    const int64_t start = j * PIECE, n = std::min(PIECE, pc->want - start);
    int64_t done = 0;
    while (done < n) {
      ssize_t k = pc->wr ? pwrite(pc->fd, pc->buf + start + done, static_cast<size_t>(n - done), pc->at + start + done)
                         : pread(pc->fd, pc->buf + start + done, static_cast<size_t>(n - done), pc->at + start + done);
      if (k < 0 && errno == EINTR) continue;
      if (k < 0) {
        done = -std::max(errno, 1);  // the cause, negated
        break;
      }
      if (k == 0) break;
      done += k;
    }
    pc->got[static_cast<size_t>(j)] = done;
    // A write that fell short stops the pieces after it.
    if (pc->wr && done < n) {
      for (int64_t r = j + 1; r < hi; r++) pc->got[static_cast<size_t>(r)] = 0;
      return;
    }
  }
}

// Takes a record's fields into the DM file record.
void takerec(DmFile* dm, const Item& it) {
  dm->found = it.num;
  dm->type = static_cast<int16_t>(it.type);
  dm->bpe = static_cast<int16_t>(dmbpe(it.type));
  dm->addr = it.addr;
  dm->nx = it.nx;
  dm->ny = it.ny;
  dm->nz = it.nz;
  dm->nt = it.nt;
  dm->lname = it.link;
  // The product saturates: a record this large is never held by its file
  // (findrec measures it exactly).
  constexpr int64_t LIM = INT64_C(1) << 56;
  __int128 e = 1;
  for (int64_t d : {it.nx, it.ny, it.nz, it.nt}) {
    const int64_t v = std::max<int64_t>(d, 0);
    if (v == 0) e = 0;
    if (e <= LIM) e *= v;
  }
  dm->elems = e > LIM ? LIM : static_cast<int64_t>(e);
  dm->bytes = dm->elems * dm->bpe;
  dm->moved = 0;
}

bool wrthdr(DmFile* dm, const std::vector<char>& block) {
  if (fseeko(dm->fp, 0, SEEK_SET) != 0) return false;
  return std::fwrite(block.data(), 1, static_cast<size_t>(dm->hsize), dm->fp) ==
         static_cast<size_t>(dm->hsize);
}

void closeall(DmFile* dm) {
  if (dm->linkown && dm->dfp) std::fclose(dm->dfp);
  dm->dfp = nullptr;
  dm->linkown = false;
  if (dm->fp) std::fclose(dm->fp);
  dm->fp = nullptr;
}

// Opens the file and reads (or, for a new file, makes) its header.
int dmopen(DmFile* dm, int flags) {
  const bool wr = flags & DMR_APPEND;
  dm->created = false;
  if (wr)
    dm->fp = opnapp(dm->name, flags, &dm->created);
  else
    dm->fp = opnreg(dm->name, nullptr);
  if (!dm->fp) return DM_OPEN;
  dm->fsize = std::max<int64_t>(strmsize(dm->fp), 0);
  dm->mode = static_cast<uint16_t>(flags & DMR_LINK);
  dm->count = 0;
  dm->flags = 0;
  std::memcpy(dm->tag, "abcd", 5);
  const bool fresh = dm->fsize == 0;
  if (fresh) {
    if (!wr) return DM_FORMAT;
    dm->hsize = DMHDR;
  } else {
    char first[FIRSTLINE + 1] = {0};
    if (fseeko(dm->fp, 0, SEEK_SET) != 0) return DM_FORMAT;
    size_t got = std::fread(first, 1, FIRSTLINE, dm->fp);
    if (got == 0) return DM_FORMAT;
    first[got] = 0;
    for (size_t i = 0; i < got; i++) first[i] = static_cast<char>(std::tolower(uc(first[i])));
    char* w[MAXWORDS];
    int n = splitln(first, w, MAXWORDS);
    if (n < 1 || std::strcmp(w[0], "dmdata") != 0) return DM_FORMAT;
    const char* size = nullptr;
    const char* tag = nullptr;
    if (n > 1 && std::isdigit(uc(w[1][0]))) {
      size = w[1];
      if (n > 2) tag = w[2];
    } else {
      if (n > 1) tag = w[1];
      if (n > 2) size = w[2];
    }
    if (tag) {
      if (std::strlen(tag) != 4) return DM_FORMAT;
      std::memcpy(dm->tag, tag, 5);
      if (std::strcmp(tag, "dcba") == 0) dm->flags |= DMF_SWAP;
    }
    int64_t hs = 0;
    if (size) {
      // A size the file cannot hold is no DM header (and never sizes a
      // buffer).
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(size, &end, 10);
      if (errno || v < 0 || v > dm->fsize) return DM_FORMAT;
      hs = v;
    }
    if (hs == 0) {
      dm->mode |= DMM_TEXT;
      hs = dm->fsize;
    }
    dm->hsize = hs;
  }
  try {
    size_t want = static_cast<size_t>(std::max<int64_t>(dm->hsize, DMHDR));
    if (dm->hdr.size() < want) dm->hdr.resize(want);
    std::fill(dm->hdr.begin(), dm->hdr.begin() + static_cast<std::ptrdiff_t>(dm->hsize), 0);
  } catch (const std::bad_alloc&) {
    return DM_HALLOC;
  }
  if (fresh) {
    if (flags & DMR_REVERSE) {
      // The data of a file tagged "dcba" are written swapped, so that the
      // tag and the data agree.
      std::memcpy(dm->tag, "dcba", 5);
      dm->flags |= DMF_SWAP;
    }
    int k = std::snprintf(dm->hdr.data(), dm->hdr.size(), "DMDATA %8lld %4.4s\n",
                          static_cast<long long>((flags & DMR_LINK) ? 0 : dm->hsize), dm->tag);
    k += std::snprintf(dm->hdr.data() + k, dm->hdr.size() - static_cast<size_t>(k),
                       "#     Type Wsiz      Address           NX     NY     NZ     NT\n");
    dm->fsize = dm->hsize;
    dm->hpos = dm->hused = k;
    dm->oldsize = 0;
  } else {
    if (fseeko(dm->fp, 0, SEEK_SET) != 0) return DM_HREAD;
    size_t got = std::fread(dm->hdr.data(), 1, static_cast<size_t>(dm->hsize), dm->fp);
    if (got == 0) return DM_HREAD;
    int64_t used = static_cast<int64_t>(strnlen(dm->hdr.data(), static_cast<size_t>(dm->hsize)));
    // The end mark 0x1A is overwritten by the next record's lines.
    if (used > 0 && dm->hdr[static_cast<size_t>(used - 1)] == 0x1A) used--;
    dm->hused = used;
    dm->hpos = wr ? used : 0;
    dm->oldsize = dm->fsize;
  }
  if (wr) dm->oldhdr.assign(dm->hdr.begin(), dm->hdr.begin() + static_cast<std::ptrdiff_t>(dm->hsize));
  if (flags & DMR_TRACE)
    std::printf("DMREC(%o) %s: hsize=%lld fsize=%lld tag=%4.4s mode=%d\n", flags, dm->name.c_str(),
                static_cast<long long>(dm->hsize), static_cast<long long>(dm->fsize), dm->tag,
                dm->mode);
  return 0;
}

int append(DmFile* dm, int num, int flags) {
  dm->nx = std::max<int64_t>(dm->nx, 0);
  dm->ny = std::max<int64_t>(dm->ny, 1);
  dm->nz = std::max<int64_t>(dm->nz, 1);
  dm->nt = std::max<int64_t>(dm->nt, 1);
  dm->bpe = static_cast<int16_t>(dmbpe(dm->type));
  __int128 e = static_cast<__int128>(dm->nx) * dm->ny * dm->nz * dm->nt;
  if (e * dm->bpe > (INT64_C(1) << 56)) return DM_BADPTR;
  dm->elems = static_cast<int64_t>(e);
  dm->bytes = dm->elems * dm->bpe;
  dm->moved = 0;
  std::string lname, lpath;
  if (flags & DMR_LINK) {
    if (dm->link && !dm->link->empty() && uc((*dm->link)[0]) > ' ' && uc((*dm->link)[0]) < 127)
      lname = filpart(*dm->link);
    else
      lname = filpart(dm->name) + ".rec" + std::to_string(num);
    // The link file lies beside the DM file, where its reader looks.
    mkpath(lname.c_str(), dm->name.c_str(), &lpath);
    dm->addr = 0;
  } else if (dm->bytes > 0) {
    // A header that is the whole file has no room for data behind it.
    if (dm->mode & DMM_TEXT) return DM_HFULL;
    dm->addr = (dm->fsize + 7) / 8 * 8;
  } else {
    dm->addr = -1;
  }
  char head[160];
  std::snprintf(head, sizeof head, "Record %4d %3d %12lld %12lld %6lld %6lld %6lld", num, dm->type,
                static_cast<long long>(dm->addr), static_cast<long long>(dm->nx),
                static_cast<long long>(dm->ny), static_cast<long long>(dm->nz),
                static_cast<long long>(dm->nt));
  // The record's line starts a line of its own, also after a last line
  // written without its end.
  std::string text;
  if (dm->hpos > 0 && dm->hdr[static_cast<size_t>(dm->hpos - 1)] != '\n' && dm->hdr[static_cast<size_t>(dm->hpos - 1)] != '\r')
    text = "\n";
  text += head;
  if (!lname.empty()) text += "\n " + oneline(lname);
  if (dm->desc && !dm->desc->empty()) text += "\n  Text: " + oneline(*dm->desc);
  text += "\n";
  // The lines and the end mark 0x1A with its zero byte must fit.
  if (dm->hpos + static_cast<int64_t>(text.size()) + 2 > dm->hsize) return DM_HFULL;
  if (flags & DMR_LINK) {
    dm->dfp = opnfil(lpath, "wb");
    if (!dm->dfp) return DM_LINKOPEN;
    dm->linkown = true;
    dm->lname = lname;
    if (dm->link) *dm->link = lname;
  } else {
    dm->dfp = dm->fp;
    if (dm->bytes > 0) dm->fsize = dm->addr + dm->bytes;
  }
  char* p = dm->hdr.data() + dm->hpos;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = 0x1A;
  p[text.size() + 1] = 0;
  dm->hpos += static_cast<int64_t>(text.size());
  dm->hused = dm->hpos;
  dm->found = num;
  dm->count++;
  if (!(flags & DMR_HDRLAST) && !wrthdr(dm, dm->hdr)) return DM_HWRITE;
  return dm->count;
}

// The listing's lines of one record or text, in the chosen form.
struct Lister {
  DmFile* dm;
  int flags;
  int unit;
  bool open = false;  // a short-form record line waits for its text

  void start() {
    if (flags & DMR_XML) return;
    if (flags & (DMR_FULL | DMR_NUMBERED))
      jprintf(unit, "DMDATA %6lld %4.4s\n", static_cast<long long>(dm->hsize), dm->tag);
    else
      jprintf(unit, " # RecTyp Wsiz      RSiz  Descr\n");
  }
  void record(int ordinal, const Item& it) {
    if (flags & DMR_XML) {
      dm->xml = dmxml(dm, unit, dm->xml, it.num, nullptr);
      return;
    }
    const long long a = dm->addr, x = dm->nx, y = dm->ny, z = dm->nz, t = dm->nt;
    if (flags & DMR_NUMBERED) {
      jprintf(unit, "%2d ", ordinal);
      jprintf(unit, "  %4d %3d %12lld %12lld %6lld %6lld %6lld %s\n", it.num, it.type, a, x, y, z, t,
              it.link.c_str());
    } else if (flags & DMR_FULL) {
      jprintf(unit, "Record %4d %3d %12lld %12lld %6lld %6lld %6lld %s\n", it.num, it.type, a, x, y,
              z, t, it.link.c_str());
    } else {
      finish();
      jprintf(unit, "%2d   %4d  %3d %9lld  ", ordinal, it.num, it.type,
              static_cast<long long>(dm->elems));
      open = true;
    }
  }
  void text(const std::string& s) {
    if (flags & DMR_XML)
      dm->xml = dmxml(dm, unit, dm->xml, -1, s.c_str());
    else if (flags & DMR_NUMBERED)
      jprintf(unit, "              %s\n", s.c_str());
    else if (flags & DMR_FULL)
      jprintf(unit, "  Text: %s\n", s.c_str());
    else {
      jprintf(unit, "%s\n", s.c_str());
      open = false;
    }
  }
  void finish() {
    if (open) jprintf(unit, "\n");
    open = false;
  }
  void end() {
    finish();
    if (flags & DMR_XML) dm->xml = dmxml(dm, unit, dm->xml, -1, nullptr);
  }
};

int findrec(DmFile* dm, int wanted, int flags) {
  std::vector<Item> items = parsehdr(dm);
  const bool listing = flags & DMR_LIST;
  Lister ls{dm, flags, lstlun};
  if (listing) {
    dm->xml = 1;
    ls.start();
  }
  int ordinal = 0, hit = 0;
  const Item* found = nullptr;
  for (size_t i = 0; i < items.size() && !(listing && stopped()); i++) {
    const Item& it = items[i];
    if (!it.rec) {
      if (listing) ls.text(it.text);
      continue;
    }
    ordinal++;
    bool match = wanted == 0 || (wanted < 0 && ordinal == -static_cast<int64_t>(wanted)) ||
                 (wanted > 0 && it.num == wanted);
    if (listing) {
      takerec(dm, it);
      ls.record(ordinal, it);
    }
    if (!match) continue;
    takerec(dm, it);
    found = &it;
    hit = ordinal;
    if (wanted != 0) {
      // The text line right after the record is its description.
      if (dm->desc) {
        dm->desc->clear();
        if (i + 1 < items.size() && !items[i + 1].rec && items[i + 1].next) *dm->desc = items[i + 1].text;
      }
      if (!listing) break;
    }
  }
  if (listing) {
    ls.end();
    closeall(dm);
    return ordinal;
  }
  dm->count = static_cast<int16_t>(std::min(ordinal, 32767));
  if (!found) return wanted == 0 ? 0 : DM_NOTFOUND;
  if (dm->link) *dm->link = found->link;
  // The data stream: a link file (beside the DM file unless its name has a
  // folder), else the DM file itself.
  dm->dfp = dm->fp;
  std::string path = dm->name;
  if (!found->link.empty()) {
    path.clear();
    if (mkpath(found->link.c_str(), nullptr, nullptr) > 0)
      path = found->link;
    else
      mkpath(found->link.c_str(), dm->name.c_str(), &path);
    FILE* f = opnreg(path, &dm->why);
    if (!f) return DM_LINKOPEN;
    dm->dfp = f;
    dm->linkown = true;
  }
  // A record may not promise more data than its data file holds; the
  // bytes it reaches past the end are counted exactly, however large.
  if (dm->addr >= 0 && dm->bytes > 0) {
    const int64_t size = std::max<int64_t>(strmsize(dm->dfp), 0);
    Wide end;
    end.add(1, 1);
    for (int64_t d : {found->nx, found->ny, found->nz, found->nt}) end.mul(static_cast<uint64_t>(d));
    end.mul(static_cast<uint64_t>(dm->bpe));
    end.add(dm->addr, 1);
    if (end.above(size)) {
      end.add(size, -1);
      const std::string n = end.dec();
      dm->why = path + ": the record needs " + n + (n == "1" ? " byte" : " bytes") + " past the end of the file";
      return DM_FORMAT;
    }
  }
  if ((flags & DMR_READ) && dm->addr >= 0 && dm->bytes > 0) {
    int64_t r = DMRECIO(dm, 0, flags & DMR_TRACE);
    if (dm->linkown) {
      std::fclose(dm->dfp);
      dm->dfp = nullptr;
      dm->linkown = false;
    }
    if (r < 0) return static_cast<int>(r);
  }
  return wanted == 0 ? ordinal : hit;
}

// XML text: the markup characters as entities, control characters as
// blanks, bytes that are no UTF-8 sequence as the Latin-1 characters they
// would be.
std::string xmltext(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size();) {
    unsigned c = uc(s[i]);
    if (c == '&') r += "&amp;";
    else if (c == '<') r += "&lt;";
    else if (c == '>') r += "&gt;";
    else if (c == '"') r += "&quot;";
    else if (c < 0x20 && c != '\t') r += ' ';
    else if (c < 0x80) r += static_cast<char>(c);
    else {
      int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
      bool ok = n > 0 && i + static_cast<size_t>(n) < s.size();
      for (int k = 1; ok && k <= n; k++) ok = (uc(s[i + static_cast<size_t>(k)]) & 0xC0) == 0x80;
      if (ok && n == 2) {  // no overlong forms or surrogates
        unsigned c1 = uc(s[i + 1]);
        ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
      }
      if (ok && n == 3) {
        unsigned c1 = uc(s[i + 1]);
        ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
      }
      if (ok) {
        r.append(s, i, static_cast<size_t>(n) + 1);
        i += static_cast<size_t>(n) + 1;
        continue;
      }
      char ref[16];
      std::snprintf(ref, sizeof ref, "&#x%X;", c);
      r += ref;
    }
    i++;
  }
  return r;
}

}  // namespace

void dmrclr(DmFile* dm) { *dm = DmFile{}; }

int dmbpe(int type) {
  int b = (type & 63) / 8;
  if (b < 1) b = 1;
  return (type & 128) ? 2 * b : b;
}

const char* dmrmsg(int code) {
  int i = -code;
  return i >= 0 && i < static_cast<int>(std::size(MSGS)) ? MSGS[i] : "unknown";
}

const char* typnam(int type) {
  switch (type) {
    case 0: return "ascii";
    case 8: return "byte";
    case 16: return "int16";
    case 32: return "int32";
    case 96: return "float32";
    default: return nullptr;
  }
}

void swapw(void* buffer, int64_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int64_t i = 0; i < n; i++, p += 2) std::swap(p[0], p[1]);
}

void swap16(void* buffer, int64_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int64_t i = 0; i < n; i++, p += 4) {
    std::swap(p[0], p[2]);
    std::swap(p[1], p[3]);
  }
}

void swapwd(void* buffer, int type, int64_t bytes) {
  int t = type & 63;
  if (t == 0 || t == 24) return;  // text and 3-byte pixels are bytes
  int b = dmbpe(type);
  if (b == 2) {
    swapw(buffer, bytes / 2);
  } else if (b == 4) {
    // Within the 16-bit halves, then the halves.
    swapw(buffer, bytes / 2);
    swap16(buffer, bytes / 4);
  } else if (b == 8) {
    auto* p = static_cast<uint8_t*>(buffer);
    for (int64_t i = 0; i + 8 <= bytes; i += 8) std::reverse(p + i, p + i + 8);
  }
}

int mkpath(const char* name, const char* base, std::string* out) {
  std::string n = name ? name : "";
  size_t k = n.find_last_of("/\\:");
  int folder = k == std::string::npos ? 0 : static_cast<int>(k + 1);
  if (out) {
    if ((!n.empty() && (n[0] == '/' || n[0] == '\\')) || (n.size() > 1 && n[1] == ':')) {
      *out = n;
    } else {
      std::string b = base ? base : "";
      size_t j = b.find_last_of("/\\:");
      *out = (j == std::string::npos ? std::string() : b.substr(0, j + 1)) + filpart(n);
    }
  }
  return folder;
}

int dmxml(DmFile* dm, int unit, int state, int record, const char* text) {
  if (state >= 1) {
    jprintf(unit, "<?xml version=\"1.0\"?>\n <ezt>\n");
    jprintf(unit, "  <datatype>dmdata</datatype>\n  <subtype>pdigm</subtype>\n");
    jprintf(unit, "  <filesize>%lld</filesize>\n", static_cast<long long>(dm->fsize));
    state = 0;
  }
  if (text) {
    jprintf(unit, "    <description>%s</description>\n", xmltext(text).c_str());
    return state;
  }
  if (record < 0) {
    if (state == -1) jprintf(unit, "  </datarec>\n");
    if (state != -2) jprintf(unit, " </ezt>\n");
    return -2;
  }
  if (state == -1) jprintf(unit, "  </datarec>\n");
  jprintf(unit, "  <datarec type=\"pdigm%d\">\n", record);
  const char* tn = typnam(dm->type);
  jprintf(unit, "    <elementtype>%s</elementtype>\n", tn ? tn : "");
  if (dm->type != 0)
    jprintf(unit, "    <byteorder>%s</byteorder>\n", (dm->flags & DMF_SWAP) ? "msbfirst" : "lsbfirst");
  jprintf(unit, "    <filerecordsize>%lld</filerecordsize>\n", static_cast<long long>(dm->bytes));
  const int64_t dims[4] = {dm->nx, dm->ny, dm->nz, dm->nt};
  const char* names = "xyzt";
  __int128 prod = 1;
  for (int k = 0; k < 4; k++) {
    if (k > 0 && prod >= dm->elems) break;
    jprintf(unit, "    <dimension type=\"%c\"><size>%lld</size></dimension>\n", names[k],
            static_cast<long long>(dims[k]));
    prod *= std::max<int64_t>(dims[k], 0);
  }
  jprintf(unit, "    <fileoffset>%lld</fileoffset>\n", static_cast<long long>(dm->addr));
  const std::string& fn = dm->lname.empty() ? dm->name : dm->lname;
  jprintf(unit, "    <filename>%s</filename>\n", xmltext(fn).c_str());
  return -1;
}

int DMREC(int wanted, DmFile* dm, int flags) {
  if (!dm) return DM_OPEN;
  if (!dm->fp) {
    int r = dmopen(dm, flags);
    if (r < 0) {
      // A file this opening made goes again.
      if (dm->created)
        dmrback(dm);
      else
        closeall(dm);
      return r;
    }
    if (flags & DMR_OPEN) return 1;
  }
  if (flags & DMR_APPEND) return append(dm, wanted, flags);
  if (flags & DMR_CLOSE) {
    if (flags & DMR_WRHDR) {
      // A header block that cannot be written leaves the file open, so
      // that the caller can take the append back (dmrback).
      if (fseeko(dm->fp, 0, SEEK_SET) != 0) return DM_SEEK;
      if (!wrthdr(dm, dm->hdr)) return DM_HWRITE;
    }
    int r = 0;
    if (dm->linkown && dm->dfp && std::fclose(dm->dfp) != 0) r = DM_DATAIO;
    dm->dfp = nullptr;
    dm->linkown = false;
    if (std::fclose(dm->fp) != 0 && r == 0 && (flags & DMR_WRHDR)) r = DM_HWRITE;
    dm->fp = nullptr;
    return r;
  }
  if (flags & DMR_OPEN) return 1;
  return findrec(dm, wanted, flags);
}

int64_t DMRECIO(DmFile* dm, int64_t elements, int flags) {
  if (!dm || !dm->dfp) return DM_NODATA;
  const bool wr = flags & DMIO_WRITE;
  const int64_t left = dm->bytes - dm->moved;
  int64_t want = elements > 0 && elements <= left / std::max<int>(dm->bpe, 1) ? elements * dm->bpe : left;
  if (want <= 0 || dm->addr < 0) return DM_NULLIO;
  if (wr) {
    if (!dm->dbuf || dm->dbsize < want) return DM_BADPTR;
  } else if (!dm->dbuf || dm->dbsize < want) {
    try {
      dm->own.resize(static_cast<size_t>(want));
    } catch (const std::bad_alloc&) {
      return DM_DALLOC;
    }
    dm->dbuf = dm->own.data();
    dm->dbsize = want;
  }
  if (flags & DMIO_TRACE)
    std::printf("DMRECIO(,%lld,%oo) wbyts=%d dbyts=%lld dptr=%lld dleft=%lld dbuf=%lld f=%d fd=%d\n",
                static_cast<long long>(elements), flags, dm->bpe, static_cast<long long>(want),
                static_cast<long long>(dm->addr + dm->moved), static_cast<long long>(left),
                static_cast<long long>(dm->dbsize), dm->flags, fileno(dm->dfp));
  const int64_t at = dm->addr + dm->moved;
  if (at < 0 || fseeko(dm->dfp, at, SEEK_SET) != 0) return DM_SEEK;
  const bool rev = dm->flags & DMF_SWAP;
  if (wr && rev) swapwd(dm->dbuf, dm->type, want);
  // The pieces move at their own places in the file (the stream has no
  // buffer of its own to keep in step); a large read runs its pieces on a
  // few threads.
  Pieces job{fileno(dm->dfp), dm->dbuf, at, want, wr, {}};
  const int64_t np = (want + PIECE - 1) / PIECE;
  job.got.assign(static_cast<size_t>(np), 0);
  if (wr)
    movpcs(&job, 0, np);
  else
    parfor(np, PIECE / 8, movpcs, &job);
  int64_t done = 0;
  int res = 0;
  for (int64_t j = 0; j < np; j++) {
    int64_t piece = std::min(PIECE, want - j * PIECE), n = job.got[static_cast<size_t>(j)];
    if (flags & DMIO_TRACE)
      std::printf(" I/O nbyts=%lld i0=%lld/%lld -> %lld\n", static_cast<long long>(piece),
                  static_cast<long long>(j * PIECE), static_cast<long long>(want), static_cast<long long>(n));
    if (n > 0) done += n;
    if (n < piece) {
      // A short write is a failed one; a short read ends the data unless
      // it failed.
      if (wr || n < 0) res = DM_DATAIO;
      if (n < 0) dm->err = static_cast<int>(-n);
      break;
    }
  }
  if (rev && (wr ? (flags & DMIO_KEEP) : !(flags & DMIO_KEEP))) swapwd(dm->dbuf, dm->type, done);
  if (wr && rev && res < 0 && (flags & DMIO_KEEP) && done < want)
    swapwd(dm->dbuf + done, dm->type, want - done);
  dm->moved += done;
  if (res < 0) return res;
  return done / std::max<int>(dm->bpe, 1);
}

int dmrback(DmFile* dm) {
  if (!dm || !dm->fp) return 0;
  int r = 0;
  if (dm->linkown && dm->dfp) {
    std::fclose(dm->dfp);
    dm->dfp = nullptr;
    dm->linkown = false;
    if (dm->link && !dm->link->empty()) {
      std::string lp;
      mkpath(dm->link->c_str(), dm->name.c_str(), &lp);
      delfil(lp.c_str());
    }
  }
  if (dm->created) {
    // Deleted while still locked: a program waiting to append finds the
    // name gone and makes the file anew.
    delfil(dm->name.c_str());
    std::fclose(dm->fp);
    dm->fp = nullptr;
    return 0;
  }
  if (ftruncate(fileno(dm->fp), dm->oldsize) != 0) r = DM_DATAIO;
  if (!dm->oldhdr.empty() && !wrthdr(dm, dm->oldhdr)) r = DM_HWRITE;
  if (std::fclose(dm->fp) != 0 && r == 0) r = DM_HWRITE;
  dm->fp = nullptr;
  return r;
}
