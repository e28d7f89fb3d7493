// Movie playback: the movie engine that the animate command and the
// real-time display ops share.
//
// One movie file is open at a time. Its stream headers are read by our own
// RIFF reader (graphics/movie/riff.h); video frames are decoded by FFmpeg
// and drawn into the movie window (into its off-screen port when it has
// one, else onto its surface), scaled, mirrored or split for a stereo
// display; the sound track goes to the one audio layer through a ring of 16
// buffers of 16 KB, each reporting its end as message 957 to the movie
// window. A clock kept from the sound position, or from the program's clock
// when there is no sound, decides which frame is due. The engine is
// polled: maintainAVI says how long until the next frame.
#pragma once
#include <cstdint>

// A movie record: one per InitAVI.
struct MovRec {
  uint16_t flags;     // 32: a placement rectangle was given
  uint16_t mode;      // display scale in quarters (frame size x mode / 4)
  int32_t shown;      // media time (ms) of the frame on the screen; start - 1 before the first
  int32_t due;        // media time at which the next frame is due (0: now)
  int32_t paintdur;   // clock ticks the last paint took
  int32_t rect[4];    // placement: left, top, right, bottom; right < 1 centres on (left, top)
  int32_t pad[2];
};
static_assert(sizeof(MovRec) == 40);

// Once: makes the engine ready. Returns 1.
int aviini();
// Opens a movie file (a language path) for a window (platform handle), with
// a placement rectangle or null, the display mode, stereo flags and layout,
// loop count, rate % (0: 100) and play time in ms. 1 when a video or sound
// stream is open, 0 when none is (error 209 when the file has no streams,
// 210 at the 51st), -1 when the file does not open as a movie.
int InitAVI(int32_t window, const char* file, const int32_t* rect, int mode, int sflags, int layout,
            int loops, int rate, int playms);
// Starts playing record `index` at media time start ms. -1 for an index
// outside the table, else 0 (at once for a movie without video), else the
// result of maintainAVI(wait).
int playAVI(int start, int index, int wait);
// The clock of the playing movie: 0 when nothing plays, -1 when a frame is
// due and wait is set (the caller paints it), -2 when the movie has just
// looped, else the ms of the program's clock until the next frame is due
// (1 to 10000; media time runs at the rate factor). Without
// wait a due frame is painted in the movie window at once.
int maintainAVI(int wait);
// Paints the frame of the current record's shown time into the movie
// window: the frame number + 1 (0 when no video frame was painted), -1
// for another window.
int AVIpaint(int32_t dc, int32_t window);
// Closes the open movie: its sound stops, its streams and file go.
int aviclos();
// Lists the streams: the first stream's " %dx%d %8.3f - %8.3f\n", and with
// level above 1 one line "%2d %4d %8.3f\n" per frame of each video stream.
// The number of frames listed.
int avilist(int level);
// Sound output notices for the movie window: 957 a buffer has played (the
// ring is filled again), 956 the output closed (the sound stops).
int AudioMsg(int32_t window, uint32_t message);
// (a x b + c / 2) / c, unsigned, with a 64-bit product.
uint32_t muldv(uint32_t a, uint32_t b, uint32_t c);

// Convenience entries with the engine's arguments.
int aviopen(const char* file, int32_t window, const int32_t* rect, int mode, int sflags, int layout,
            int loops, int rate, int playms);  // InitAVI; error 209 when it gives 0 or less
int aviplay(int start, int index, int wait);   // playAVI
int avitick(int wait);                         // maintainAVI
int avipnt(int32_t dc, int32_t window);        // AVIpaint
int avishow(int level);                        // avilist
// aviend (closing through the real-time runner's buffer release) is the
// display ops' (realtime/rtdisp.h).

// Whether a movie file is open, and the platform window it plays in.
bool aviisopen();
int32_t aviwin();
// The movie's sound position in ms (-1 when no sound plays).
int32_t audpos();

// The animate command (movie form and cine form).
int animat();
// While a cine run shows its frames on the screen, the main window's
// repaint puts them back into its pixels: true when it did (window is the
// main window's platform handle).
bool cinepaint(int32_t window);

// Back to the start: everything closed (tests).
void avireset();
