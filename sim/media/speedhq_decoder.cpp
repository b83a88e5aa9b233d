// libavcodec's SpeedHQ decoder and PNG encoder for the observer's side.
#include "sim/media/speedhq_decoder.h"

#include <algorithm>
#include <cctype>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace sim {

namespace {
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

uint32_t upperTag(uint32_t fourcc) {
    uint32_t tag = 0;
    for (int i = 0; i < 4; ++i)
        tag |= uint32_t(std::toupper(int((fourcc >> (8 * i)) & 0xff))) << (8 * i);
    return tag;
}

void copyPlane(const AVFrame& frame, int plane, int width, int height, std::vector<uint8_t>& out) {
    out.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(frame.data[plane] + ptrdiff_t(y) * frame.linesize[plane], width, out.data() + size_t(y) * size_t(width));
}

uint8_t clip(double v) { return uint8_t(std::clamp(v + 0.5, 0.0, 255.0)); }
}  // namespace

uint8_t DecodedPicture::cbAt(int x, int yy) const {
    return cb[size_t(yy * chromaHeight / height) * size_t(chromaWidth) + size_t(x * chromaWidth / width)];
}

uint8_t DecodedPicture::crAt(int x, int yy) const {
    return cr[size_t(yy * chromaHeight / height) * size_t(chromaWidth) + size_t(x * chromaWidth / width)];
}

std::optional<DecodedPicture> decodeSpeedHq(const std::vector<uint8_t>& payload, uint32_t fourcc, int width,
                                            int height) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_SPEEDHQ);
    if (codec == nullptr || payload.empty() || width <= 0 || height <= 0) return std::nullopt;
    CodecPtr context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->codec_tag = upperTag(fourcc);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return std::nullopt;
    PacketPtr packet(av_packet_alloc());
    // The decoder may read past the end: give it the padding it asks for.
    if (av_new_packet(packet.get(), int(payload.size())) < 0) return std::nullopt;
    std::copy(payload.begin(), payload.end(), packet->data);
    FramePtr frame(av_frame_alloc());
    if (avcodec_send_packet(context.get(), packet.get()) < 0 || avcodec_receive_frame(context.get(), frame.get()) < 0)
        return std::nullopt;
    const auto* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (desc == nullptr || desc->nb_components < 3) return std::nullopt;
    DecodedPicture picture;
    picture.width = frame->width;
    picture.height = frame->height;
    picture.chromaWidth = -((-frame->width) >> desc->log2_chroma_w);
    picture.chromaHeight = -((-frame->height) >> desc->log2_chroma_h);
    copyPlane(*frame, 0, picture.width, picture.height, picture.y);
    copyPlane(*frame, 1, picture.chromaWidth, picture.chromaHeight, picture.cb);
    copyPlane(*frame, 2, picture.chromaWidth, picture.chromaHeight, picture.cr);
    return picture;
}

std::string encodePng(const DecodedPicture& picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr || picture.width <= 0 || picture.height <= 0) return {};
    CodecPtr context(avcodec_alloc_context3(codec));
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 1};
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return {};
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* rgb = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
        for (int x = 0; x < picture.width; ++x, rgb += 3) {
            const double l = 1.164 * (picture.lumaAt(x, y) - 16);
            const double b = picture.cbAt(x, y) - 128.0, r = picture.crAt(x, y) - 128.0;
            rgb[0] = clip(l + 1.793 * r);
            rgb[1] = clip(l - 0.213 * b - 0.533 * r);
            rgb[2] = clip(l + 2.112 * b);
        }
    }
    PacketPtr packet(av_packet_alloc());
    if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_receive_packet(context.get(), packet.get()) < 0)
        return {};
    return std::string(reinterpret_cast<const char*>(packet->data), size_t(packet->size));
}

}  // namespace sim
