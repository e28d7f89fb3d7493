// Movie recording: an AVI file of one uncompressed 32-bit video stream,
// written by our own RIFF code.
//
// The file is laid down as
//   RIFF 'AVI '
//     LIST 'hdrl' (bytes 12..211): avih (56 bytes), LIST 'strl' with strh
//       (56 bytes, 'vids', handler 0) and strf (a 40-byte bitmap header,
//       32 bits a pixel, rows bottom-up, biSizeImage 0)
//     LIST 'movi' (at 212, first chunk at 224): one '00db' chunk per frame
//       index, w x h x 4 bytes for a frame written, empty for a frame that
//       repeats the one before (its number is used up all the same); a
//       frame written again at an index already passed is one more chunk
//   idx1: one entry of 16 bytes per index, pointing at its latest chunk,
//       offsets counted from the 'movi' fourcc, key-frame flag 0x10 for a
//       written frame, 0 for an empty one (avih flags 0x10 has an index,
//       0x30 when the chunks are not all in the index's order: read by it)
// so the file holds 232 + 24 x length + written x w x h x 4 bytes, and 8
// more for each frame written again at an index passed. The frame count of
// avih and the length of strh are the highest index + 1.
//
// A recording goes to a temporary file beside the named one, renamed over
// it when the recording is closed: a recording that fails leaves any old
// file of that name as it was.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Opens a recording of frames width x height at rate frames per scale
// units of a second (a scale below 1 is 1); depth is not used. A recording
// still open is closed first (its index and lengths written). Returns 0;
// -1 when the file cannot be created, -2 when the frame size is no frame
// (width or height below 1, or a frame past 2 GB), -3 when the frame
// buffer cannot be had. A refused recording writes no file and is kept
// to be told (avwfail, error 66).
// A rate of 0 or below finishes the open recording instead: the last frame
// written goes once more to frame number width (0: the next index), then
// the recording is closed. Returns 0. With no recording open, a name given
// with such a rate is a refused recording.
int avwopen(const char* name, int width, int height, int rate, int depth, int scale);
// Adds a frame of top-down rows of 32-bit pixels (bytes: what the frame
// holds). A frame number of 1 or more makes number - 1 the next index, also
// one already passed. With isnew nonzero the frame is compared with the
// last one written and becomes it; an equal frame writes an empty chunk
// (an index already passed then keeps what it holds); with isnew 0 the
// last frame is written again. The next index goes up by one for every
// frame taken. Returns 0; -1 when nothing is open,
// the frame is missing or smaller than a frame, or writing has failed.
// The first failed write prints "AVI write failed at frame %d" on the
// debug unit and stops the recording's writing. A frame smaller than a
// frame of the recording is dropped and counted (fw x fh: its size as the
// caller knows it, 0 when not known), to be told by avwdrops.
int avwrite(const uint8_t* frame, int64_t bytes, int isnew, int number, int fw = 0, int fh = 0);
// Closes the open recording: the index and the lengths are written and the
// file takes its name. 0, or -1 when the file could not be completed (it
// is then removed).
int avwclos();
// The recording that failed since the last call, if any: its name (as
// given to avwopen), the error it is reported with (66 the file could not
// be made, 69 a write or its completion failed) and the cause (an errno).
// The failure is forgotten once told.
bool avwfail(std::string* name, int* code, int* err);
// The frames dropped since the last call, one line per recording and
// cause, each with its first frame's size: "NAME: N frames of W x H
// dropped: smaller than the recording's W x H" for frames of fewer pixels
// (the frame's bytes in place of its size when it is not known), "NAME: N
// frames of W x H dropped: B bytes a pixel, not the recording's 4" for
// frames of the recording's pixels or more with too few bytes a pixel. The
// open recording's drops so far are among them and are counted afresh.
std::vector<std::string> avwdrops();
// Whether a recording is open, and its frame size in bytes (0 when none).
bool avwisopen();
int64_t avwframe();
