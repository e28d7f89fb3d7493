// Decoding movie streams through FFmpeg (libavformat, libavcodec,
// libswscale). A build without FFmpeg has the same calls, which open
// nothing: every video stream then has no decoder.
//
// Each open stream reads the file through a demuxer of its own, so that
// the video and the sound of one movie move independently.
#pragma once
#include <cstdint>

struct FfVideo;
struct FfAudio;

// Opens video stream `index` (its number among all streams of the file):
// null when no decoder takes it. `first` is the sample the header gives the
// stream's first chunk with data; samples asked for count from it, whatever
// start the demuxer took from the header.
FfVideo* ffvopen(const char* host, int index, int64_t first);
void ffvclose(FfVideo* v);
// The frame shown at `sample` (a sample number of the stream as its header
// counts them, its start included: the latest frame decoded whose time is
// not after it), when it is w x h pixels: as pixels 0x00RRGGBB into out
// (rows top first, stride pixels a row; 0: w). With out null the frame is
// only decoded. 0, or -1 when no frame of that size could be had.
int ffvframe(FfVideo* v, int64_t sample, uint32_t* out, int w, int h, int stride = 0);
// The frame size of the stream as its decoder gives it.
void ffvsize(const FfVideo* v, int* w, int* h);

// Opens audio stream `index`, decoded into interleaved 16-bit samples:
// null when no decoder takes it. rate and channels are the decoded ones;
// `first` as for ffvopen.
FfAudio* ffaopen(const char* host, int index, int64_t first, int* rate, int* channels);
void ffaclose(FfAudio* a);
// Reads up to n sample frames from sample frame `at` on (numbered as the
// stream's header counts them) into out (n x channels values): the frames read, fewer at
// the stream's end, -1 on a failure.
int ffaread(FfAudio* a, int64_t at, int16_t* out, int n);
