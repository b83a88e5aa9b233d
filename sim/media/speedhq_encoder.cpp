// libavcodec's SpeedHQ encoder, fed with planes converted from the captured UYVY picture.
#include "sim/media/speedhq_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace sim {

struct SpeedHqEncoder::Context {
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int width = 0, height = 0;
    int64_t pts = 0;

    ~Context() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
    }
};

SpeedHqEncoder::SpeedHqEncoder() = default;
SpeedHqEncoder::~SpeedHqEncoder() = default;

int SpeedHqEncoder::nearestExact(int quality) {
    if (quality < kMinQuality) return kMinQuality;
    if (quality > kMaxQuality) return kMaxQuality;
    return quality & ~1;
}

bool SpeedHqEncoder::open(int width, int height) {
    if (context && context->width == width && context->height == height) return true;
    context.reset();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_SPEEDHQ);
    if (codec == nullptr) return false;
    auto c = std::make_unique<Context>();
    c->codec = avcodec_alloc_context3(codec);
    c->frame = av_frame_alloc();
    c->packet = av_packet_alloc();
    if (!c->codec || !c->frame || !c->packet) return false;
    c->codec->width = width;
    c->codec->height = height;
    c->codec->pix_fmt = AV_PIX_FMT_YUV422P;
    c->codec->time_base = {1, 60};
    c->codec->flags |= AV_CODEC_FLAG_QSCALE;
    c->codec->global_quality = FF_QP2LAMBDA * 2;
    c->codec->qmin = 1;  // quality 98
    c->codec->qmax = 31;
    c->codec->thread_count = 1;
    if (avcodec_open2(c->codec, codec, nullptr) < 0) return false;
    c->frame->format = AV_PIX_FMT_YUV422P;
    c->frame->width = width;
    c->frame->height = height;
    if (av_frame_get_buffer(c->frame, 0) < 0) return false;
    c->width = width;
    c->height = height;
    context = std::move(c);
    return true;
}

namespace {
void toPlanes(const uint8_t* uyvy, int width, int height, int stride, AVFrame& frame) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = uyvy + static_cast<ptrdiff_t>(y) * stride;
        uint8_t* luma = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
        uint8_t* cb = frame.data[1] + static_cast<ptrdiff_t>(y) * frame.linesize[1];
        uint8_t* cr = frame.data[2] + static_cast<ptrdiff_t>(y) * frame.linesize[2];
        for (int x = 0; x < width / 2; ++x, in += 4) {
            cb[x] = in[0];
            luma[2 * x] = in[1];
            cr[x] = in[2];
            luma[2 * x + 1] = in[3];
        }
    }
}

uint32_t le24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
}  // namespace

bool SpeedHqEncoder::encode(const uint8_t* uyvy, int width, int height, int stride, int quality, Slices& out) {
    if (width <= 0 || height <= 0 || width % 2 != 0 || !open(width, height)) return false;
    auto& c = *context;
    if (av_frame_make_writable(c.frame) < 0) return false;
    toPlanes(uyvy, width, height, stride, *c.frame);
    c.frame->pts = c.pts++;
    c.frame->quality = FF_QP2LAMBDA * ((100 - nearestExact(quality)) / 2);
    if (avcodec_send_frame(c.codec, c.frame) < 0 || avcodec_receive_packet(c.codec, c.packet) < 0) return false;
    const uint8_t* data = c.packet->data;
    const uint32_t size = uint32_t(c.packet->size);
    bool whole = size >= 4;
    uint32_t at = 4;
    for (auto& slice : out.slice) {
        const uint32_t length = whole && at + 3 <= size ? le24(data + at) : 0;
        whole = whole && length >= 3 && at + length <= size;
        slice.assign(whole ? data + at : data, whole ? data + at + length : data);
        at += length;
    }
    out.quality = size > 0 ? data[0] : -1;
    av_packet_unref(c.packet);
    return whole;
}

}  // namespace sim
