// Coded geometry and FourCC of a compressed picture.
#include "media/compressed_frame_record.h"

#include "platform/ndi_types.h"

std::shared_ptr<compressed_video_frame> make_compressed_record(const video_capture::frame_t& captured) {
    auto f = std::make_shared<compressed_video_frame>();
    f->stream = captured.stream;
    f->height = captured.height;
    f->stride = captured.stride;
    f->rate_n = captured.rate_n;
    f->rate_d = captured.rate_d;
    f->timecode = captured.timecode;
    f->field = captured.field;
    const bool preview = captured.stream != 0;
    if (captured.format == 1) {
        f->is_420 = 1;
        f->width = captured.width & ~63;
        f->fourcc = preview ? ndi::fourcc_shq0 : ndi::fourcc_SHQ0;
    } else {
        f->pad_width = captured.width % 64 != 0;
        f->width = f->pad_width ? captured.width & ~15 : captured.width;
        f->fourcc = preview ? ndi::fourcc_shq2 : ndi::fourcc_SHQ2;
    }
    return f;
}
