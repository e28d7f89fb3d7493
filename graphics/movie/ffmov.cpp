// The FFmpeg side of movie playback: a demuxer and a decoder per stream,
// frames decoded forward and scaled to the size they are shown at.
#include "graphics/movie/ffmov.h"

#ifdef PELIX_HAVE_FFMPEG
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// FFmpeg's libraries are loaded when a stream is first opened through
// them: a run that plays no movie, or only movies whose frames need no
// decoder, neither loads them nor the many libraries they pull in.
#define FFFNS(X)                                                                                           \
  X(avformat_open_input) X(avformat_close_input) X(av_read_frame) X(av_seek_frame) X(avcodec_find_decoder) \
  X(avcodec_alloc_context3) X(avcodec_parameters_to_context) X(avcodec_open2) X(avcodec_free_context)     \
  X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_flush_buffers) X(av_packet_alloc)             \
  X(av_packet_free) X(av_packet_unref) X(av_frame_alloc) X(av_frame_free) X(av_frame_unref)               \
  X(av_log_set_level) X(av_rescale_q) X(av_sample_fmt_is_planar) X(av_get_packed_sample_fmt)             \
  X(sws_getCachedContext) X(sws_scale) X(sws_freeContext)

struct FfApi {
#define FFFN(f) decltype(&::f) f = nullptr;
  FFFNS(FFFN)
#undef FFFN
};
FfApi ff;

// Loads the libraries and their entry points once; false when they are
// not there.
bool ffload() {
  static int state = 0;  // 0 not tried, 1 loaded, -1 missing
  if (state) return state > 0;
  state = -1;
  void* libs[4] = {};
  const char* names[4] = {PELIX_LIBAVUTIL, PELIX_LIBSWSCALE, PELIX_LIBAVCODEC, PELIX_LIBAVFORMAT};
  for (int i = 0; i < 4; i++)
    if (!(libs[i] = dlopen(names[i], RTLD_NOW | RTLD_LOCAL))) return false;
  auto sym = [&](const char* name) -> void* {
    for (void* h : libs)
      if (void* p = dlsym(h, name)) return p;
    return nullptr;
  };
  FfApi a;
  bool all = true;
#define FFFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(sym(#f))) != nullptr;
  FFFNS(FFFN)
#undef FFFN
  if (!all) return false;
  ff = a;
  a.av_log_set_level(AV_LOG_QUIET);
  state = 1;
  return true;
}

// The demuxer and decoder of one stream; the file's other streams are
// skipped by the demuxer.
struct Dec {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* ctx = nullptr;
  AVPacket* pkt = nullptr;
  int index = -1;
  bool eof = false;  // the decoder has given its last frame
  bool held = false;  // pkt holds the stream's first packet, not yet fed
  // The time of the first packet less the sample the header reader gives
  // it (a header start that the demuxer counted otherwise): stream time
  // base units added to every time asked for.
  int64_t off = 0;
  // The container gives its packets no presentation times (AVI): a decoder
  // that reorders frames (B-frames) then stamps each with the decode time of
  // the packet fed as it came out, as many frames later as it holds back,
  // and the last ones, drained at the end, with none.
  bool nopts = false;
  // The decode time of the first packet fed since the file was opened or
  // sought (AV_NOPTS_VALUE: none yet).
  int64_t first = AV_NOPTS_VALUE;

  bool open(const char* host, int idx, AVMediaType want) {
    if (ff.avformat_open_input(&fmt, host, nullptr, nullptr) < 0) return false;
    if (idx < 0 || idx >= static_cast<int>(fmt->nb_streams)) return false;
    AVStream* st = fmt->streams[idx];
    if (st->codecpar->codec_type != want) return false;
    for (unsigned i = 0; i < fmt->nb_streams; i++)
      if (static_cast<int>(i) != idx) fmt->streams[i]->discard = AVDISCARD_ALL;
    const AVCodec* c = ff.avcodec_find_decoder(st->codecpar->codec_id);
    if (!c) return false;
    ctx = ff.avcodec_alloc_context3(c);
    pkt = ff.av_packet_alloc();
    if (!ctx || !pkt || ff.avcodec_parameters_to_context(ctx, st->codecpar) < 0) return false;
    ctx->pkt_timebase = st->time_base;
    if (ff.avcodec_open2(ctx, c, nullptr) < 0) return false;
    index = idx;
    return true;
  }
  // Reads the stream's first packet (kept to be fed first) and sets off
  // from its time and the sample `first` the header reader gives it.
  void origin(int64_t first) {
    int rd;
    while ((rd = ff.av_read_frame(fmt, pkt)) >= 0 && pkt->stream_index != index) ff.av_packet_unref(pkt);
    if (rd < 0) return;
    held = true;
    nopts = pkt->pts == AV_NOPTS_VALUE;
    const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (t != AV_NOPTS_VALUE) off = t - first;
  }
  void close() {
    ff.av_packet_free(&pkt);
    ff.avcodec_free_context(&ctx);
    ff.avformat_close_input(&fmt);
  }
  // The next decoded frame into f: false at the end.
  bool next(AVFrame* f) {
    while (!eof) {
      const int r = ff.avcodec_receive_frame(ctx, f);
      if (r == 0) return true;
      if (r != AVERROR(EAGAIN)) {
        eof = true;
        break;
      }
      // Feed the decoder: packets of this stream; at the file's end, the
      // flush that drains it.
      int rd = 0;
      if (held)
        held = false;
      else
        while ((rd = ff.av_read_frame(fmt, pkt)) >= 0 && pkt->stream_index != index) ff.av_packet_unref(pkt);
      if (rd < 0) {
        ff.avcodec_send_packet(ctx, nullptr);
      } else {
        if (first == AV_NOPTS_VALUE) first = pkt->dts;
        ff.avcodec_send_packet(ctx, pkt);
        ff.av_packet_unref(pkt);
      }
    }
    return false;
  }
  // Back to the key frame at or before ts (stream time base).
  void seek(int64_t ts) {
    if (held) ff.av_packet_unref(pkt);
    held = false;
    first = AV_NOPTS_VALUE;
    ff.av_seek_frame(fmt, index, ts, AVSEEK_FLAG_BACKWARD);
    ff.avcodec_flush_buffers(ctx);
    eof = false;
  }
};

int64_t fpts(const AVFrame* f) {
  return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

}  // namespace

struct FfVideo {
  Dec d;
  AVFrame* cur = nullptr;  // the frame shown for the last sample asked
  AVFrame* nxt = nullptr;  // the frame decoded after it
  int64_t cs = -1, ns = -1;  // their samples (-1: none)
  int64_t last = -1;  // the sample of the last frame decoded since the file was sought
  SwsContext* sws = nullptr;
  std::vector<uint32_t> conv;  // the converted frame, before it is shown
};

FfVideo* ffvopen(const char* host, int index, int64_t first) {
  // A frame is read into a block of its own for every packet: blocks of
  // frame size stay with the program instead of going back to the system
  // and being faulted in again for the next frame.
  static const bool kept = [] {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return true;
  }();
  (void)kept;
  if (!ffload()) return nullptr;
  auto* v = new FfVideo;
  v->cur = ff.av_frame_alloc();
  v->nxt = ff.av_frame_alloc();
  if (!v->cur || !v->nxt || !v->d.open(host, index, AVMEDIA_TYPE_VIDEO)) {
    ffvclose(v);
    return nullptr;
  }
  v->d.origin(first);
  return v;
}

void ffvclose(FfVideo* v) {
  if (!v) return;
  v->d.close();
  ff.av_frame_free(&v->cur);
  ff.av_frame_free(&v->nxt);
  ff.sws_freeContext(v->sws);
  delete v;
}

void ffvsize(const FfVideo* v, int* w, int* h) {
  *w = v ? v->d.ctx->width : 0;
  *h = v ? v->d.ctx->height : 0;
}

int ffvframe(FfVideo* v, int64_t sample, uint32_t* out, int dw, int dh, int stride) {
  if (!v || dw < 1 || dh < 1) return -1;
  if (stride < dw) stride = dw;
  sample += v->d.off;
  // A sample before the frame in hand, or far past it, starts again from
  // the key frame before it.
  if ((v->cs >= 0 && sample < v->cs) || (v->cs < 0 && v->ns > sample) || sample > std::max(v->cs, v->ns) + 64) {
    v->d.seek(sample);
    v->cs = v->ns = v->last = -1;
  }
  // A decoder that reorders the frames of a file that gives no presentation
  // times gives them in display order, each stamped as many samples late as
  // the frames it holds back; those drained at the end follow one a sample
  // (from the first packet's, when none came out before).
  auto step = [&]() {
    ff.av_frame_unref(v->nxt);
    if (!v->d.next(v->nxt)) {
      v->ns = -1;
      return;
    }
    int64_t t = fpts(v->nxt);
    if (v->d.nopts && v->d.ctx->has_b_frames > 0) {
      if (t != AV_NOPTS_VALUE)
        t = std::max(t - v->d.ctx->has_b_frames, v->last + 1);
      else
        t = v->last >= 0 ? v->last + 1 : v->d.first;
    }
    v->ns = t;
    if (t >= 0) v->last = t;
  };
  if (v->ns < 0) step();
  while (v->ns >= 0 && v->ns <= sample) {
    std::swap(v->cur, v->nxt);
    v->cs = v->ns;
    step();
  }
  if (v->cs < 0) return -1;
  const AVFrame* f = v->cur;
  // A frame of another size than the stream claims is not shown.
  if (f->width != dw || f->height != dh) return -1;
  if (!out) return 0;
  const auto pf = static_cast<AVPixelFormat>(f->format);
  if (pf == AV_PIX_FMT_BGRA || pf == AV_PIX_FMT_BGR0) {
    // Already the pixels shown: copied row by row without their fourth byte.
    for (int y = 0; y < dh; y++) {
      const auto* __restrict s = reinterpret_cast<const uint32_t*>(f->data[0] + int64_t(y) * f->linesize[0]);
      uint32_t* __restrict o = out + size_t(y) * size_t(stride);
      for (int x = 0; x < dw; x++) o[x] = s[x] & 0xFFFFFFu;
    }
    return 0;
  }
  // Converted as ffmpeg converts to RGB itself: its default (bicubic)
  // chroma filter, which odd heights and widths go through, in swscale's
  // exact arithmetic, which gives ffmpeg's RGB. The converter writes pixels
  // in pairs: an odd width's rows go into a scratch frame whose rows are one
  // pixel longer, then into the pixels shown; an even width's straight there.
  v->sws = ff.sws_getCachedContext(v->sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), dw, dh,
                                AV_PIX_FMT_BGR0, SWS_BICUBIC | SWS_BITEXACT, nullptr, nullptr, nullptr);
  if (!v->sws) return -1;
  const bool odd = dw & 1;
  const int aw = odd ? (dw + 16) & ~15 : stride;
  uint32_t* base = out;
  if (odd) {
    v->conv.resize(size_t(aw) * size_t(dh) + 16);
    base = v->conv.data();
    base += (16 - (reinterpret_cast<uintptr_t>(base) / 4) % 16) % 16;
  }
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(base), nullptr, nullptr, nullptr};
  int lines[4] = {aw * 4, 0, 0, 0};
  ff.sws_scale(v->sws, f->data, f->linesize, 0, f->height, dst, lines);
  for (int y = 0; y < dh; y++) {
    uint32_t* o = out + size_t(y) * size_t(stride);
    const uint32_t* c = base + size_t(y) * size_t(aw);
    for (int x = 0; x < dw; x++) o[x] = c[x] & 0xFFFFFFu;
  }
  return 0;
}

struct FfAudio {
  Dec d;
  AVFrame* f = nullptr;
  int rate = 0, chans = 0;
  std::vector<int16_t> have;  // decoded frames not yet taken
  int64_t havepos = 0;        // the sample frame of have[0]
  int64_t cursor = -1;        // the sample frame the next read continues at
};

FfAudio* ffaopen(const char* host, int index, int64_t first, int* rate, int* channels) {
  if (!ffload()) return nullptr;
  auto* a = new FfAudio;
  a->f = ff.av_frame_alloc();
  if (!a->f || !a->d.open(host, index, AVMEDIA_TYPE_AUDIO) || a->d.ctx->sample_rate < 1 ||
      a->d.ctx->ch_layout.nb_channels < 1) {
    ffaclose(a);
    return nullptr;
  }
  a->d.origin(first);
  a->rate = a->d.ctx->sample_rate;
  a->chans = a->d.ctx->ch_layout.nb_channels;
  *rate = a->rate;
  *channels = a->chans;
  return a;
}

void ffaclose(FfAudio* a) {
  if (!a) return;
  a->d.close();
  ff.av_frame_free(&a->f);
  delete a;
}

namespace {
int16_t s16(double v) { return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

// One decoded frame appended to have, interleaved, as 16-bit values.
void takeframe(FfAudio* a) {
  const AVFrame* f = a->f;
  const int ch = a->chans, n = f->nb_samples;
  const auto fmt = static_cast<AVSampleFormat>(f->format);
  const bool planar = ff.av_sample_fmt_is_planar(fmt);
  const size_t base = a->have.size();
  a->have.resize(base + static_cast<size_t>(n) * ch);
  int16_t* o = a->have.data() + base;
  for (int i = 0; i < n; i++)
    for (int c = 0; c < ch; c++) {
      const int plane = planar ? c : 0;
      const int k = planar ? i : i * ch + c;
      const uint8_t* p = f->extended_data[plane];
      int16_t v = 0;
      switch (ff.av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8: v = static_cast<int16_t>((p[k] - 128) * 256); break;
        case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(p)[k]; break;
        case AV_SAMPLE_FMT_S32: v = static_cast<int16_t>(reinterpret_cast<const int32_t*>(p)[k] >> 16); break;
        case AV_SAMPLE_FMT_FLT: v = s16(reinterpret_cast<const float*>(p)[k] * 32768.0); break;
        case AV_SAMPLE_FMT_DBL: v = s16(reinterpret_cast<const double*>(p)[k] * 32768.0); break;
        default: break;
      }
      o[static_cast<size_t>(i) * ch + c] = v;
    }
}
}  // namespace

int ffaread(FfAudio* a, int64_t at, int16_t* out, int n) {
  if (!a || !out || n < 0 || at < 0) return -1;
  const AVStream* st = a->d.fmt->streams[a->d.index];
  if (at != a->cursor) {
    // Somewhere else: from the packet before it, decoded up to it.
    a->d.seek(ff.av_rescale_q(at, AVRational{1, a->rate}, st->time_base) + a->d.off);
    a->have.clear();
    a->havepos = -1;
  }
  const size_t ch = static_cast<size_t>(a->chans);
  int got = 0;
  while (got < n) {
    const int64_t have = static_cast<int64_t>(a->have.size() / ch);
    if (a->havepos >= 0 && at + got >= a->havepos && at + got < a->havepos + have) {
      const int64_t from = at + got - a->havepos;
      const int k = static_cast<int>(std::min<int64_t>(n - got, have - from));
      std::copy_n(a->have.data() + from * static_cast<int64_t>(ch), static_cast<size_t>(k) * ch,
                  out + static_cast<size_t>(got) * ch);
      got += k;
      continue;
    }
    if (a->havepos > at + got) {
      // The stream has nothing before its first frame: silence.
      const int k = static_cast<int>(std::min<int64_t>(n - got, a->havepos - (at + got)));
      std::fill_n(out + static_cast<size_t>(got) * ch, static_cast<size_t>(k) * ch, int16_t(0));
      got += k;
      continue;
    }
    // Drop what lies before the read and decode on.
    if (a->havepos >= 0) {
      a->havepos += have;
      a->have.clear();
    }
    if (!a->d.next(a->f)) break;
    const int64_t p = fpts(a->f);
    const int64_t pos =
        p != AV_NOPTS_VALUE ? ff.av_rescale_q(p - a->d.off, st->time_base, AVRational{1, a->rate}) : a->havepos;
    a->havepos = pos >= 0 ? pos : 0;
    takeframe(a);
    ff.av_frame_unref(a->f);
  }
  a->cursor = at + got;
  return got;
}

#else

FfVideo* ffvopen(const char*, int, int64_t) { return nullptr; }
void ffvclose(FfVideo*) {}
int ffvframe(FfVideo*, int64_t, uint32_t*, int, int, int) { return -1; }
void ffvsize(const FfVideo*, int* w, int* h) { *w = *h = 0; }
FfAudio* ffaopen(const char*, int, int64_t, int*, int*) { return nullptr; }
void ffaclose(FfAudio*) {}
int ffaread(FfAudio*, int64_t, int16_t*, int) { return -1; }

#endif
