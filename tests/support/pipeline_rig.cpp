#include "support/pipeline_rig.h"

#include "sim/media/test_picture.h"

PipelineRig::PipelineRig(const sim::SimSettings& settings, Parts parts) : camera(settings) {
    platform::install(camera.platform());
    std::shared_ptr<platform::Platform> sendsThrough = camera.platform();
    if (parts.sender == Sender::tap) sendsThrough = tap = std::make_shared<sim::NdiSendTap>(camera.platform());
    hw = std::make_shared<hardware>(camera.platform());
    hw->translate_addresses = true;
    if (parts.sender != Sender::none) sender = std::make_shared<network_send>("{}", "", "PTZ", sendsThrough);
    compressor = std::make_shared<video_compress>(hw, sender);
    if (parts.capture) {
        grabber = std::make_shared<video_capture>(hw, compressor, parts.fullOnly);
        grabber->start();
        tracking = std::make_shared<track>(hw, grabber, nullptr);
    }
    compressor->enable();
    if (grabber) grabber->enable();
}

PipelineRig::~PipelineRig() {
    if (tap) tap->release();  // held senders would block the compressor's shutdown
    tracking.reset();
    grabber.reset();
    compressor.reset();
    sender.reset();
    hw.reset();
    platform::install(nullptr);
}

std::shared_ptr<video_capture::frame_t> PipelineRig::paintedFrame(int width, int height, int stream, uint32_t offset,
                                                                   uint64_t pictureNumber) {
    const uint32_t address = sim::MemoryLayout::kVideoPhysical + offset;
    const uint32_t bytes = uint32_t(width) * 2 * uint32_t(height);
    auto* at = static_cast<uint8_t*>(camera.root().memory().map(address, bytes));
    const sim::TestPicture picture(width, height);
    for (int line = 0; line < height; ++line)
        picture.renderLine(at + size_t(line) * size_t(width) * 2, line, pictureNumber);
    camera.root().memory().unmap(at, bytes);
    auto f = std::make_shared<video_capture::frame_t>();
    f->stream = stream;
    f->block = stream ? 528 : 512;
    f->width = width;
    f->height = height;
    f->stride = width * 2;
    f->address = address;
    return f;
}
